#include "app/preferences.h"

#include "app/config.h"
#include "app/procedures.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <set>

#include "core/settings.h"
#include "core/ui.h"

namespace qb {

namespace {

const char* kValue = "qbValue";  // the text value of a colour or font button

void showColour(QPushButton* b, const std::string& value) {
    b->setProperty(kValue, QString::fromStdString(value));
    b->setText(QString::fromStdString(value));
    b->setStyleSheet(QStringLiteral("QPushButton { background-color: %1; }").arg(QString::fromStdString(value)));
}

void showFont(QPushButton* b, const std::string& value) {
    b->setProperty(kValue, QString::fromStdString(value));
    b->setText(QString::fromStdString(value));
}

} // namespace

PreferencesWindow::PreferencesWindow(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral(" Preferences "));
    auto* layout = new QVBoxLayout(this);
    pages_ = new QTabWidget(this);
    layout->addWidget(pages_);
    std::map<std::string, QFormLayout*> forms;
    for (const std::string& page : settingPages()) {
        auto* scroll = new QScrollArea(pages_);
        auto* inner = new QWidget(scroll);
        auto* form = new QFormLayout(inner);
        scroll->setWidget(inner);
        scroll->setWidgetResizable(true);
        pages_->addTab(scroll, QString::fromStdString(page));
        forms[page] = form;
    }
    for (const SettingDef& d : settingDefs()) {
        QWidget* e = makeEditor(d);
        e->setObjectName(QString::fromLatin1(d.name));
        e->setToolTip(QString::fromLatin1(d.name));
        editors_[d.name] = e;
        QWidget* field = e;
        if (d.type == SettingType::Directory) {
            field = new QWidget(this);
            auto* row = new QHBoxLayout(field);
            row->setContentsMargins(0, 0, 0, 0);
            row->addWidget(e, 1);
            auto* browse = new QPushButton(QStringLiteral("..."), field);
            auto* edit = static_cast<QLineEdit*>(e);
            connect(browse, &QPushButton::clicked, this, [this, edit] {
                QString dir = QFileDialog::getExistingDirectory(this, QString(), edit->text());
                if (!dir.isEmpty()) edit->setText(dir);
            });
            row->addWidget(browse);
        }
        forms[d.page]->addRow(QString::fromLatin1(d.label), field);
    }
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* saveButton = buttons->addButton(QStringLiteral("&Save"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
    QPushButton* defaults = buttons->addButton(QStringLiteral("&Defaults"), QDialogButtonBox::ResetRole);
    layout->addWidget(buttons);
    connect(saveButton, &QPushButton::clicked, this, [this] {
        if (save()) accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(defaults, &QPushButton::clicked, this, &PreferencesWindow::resetToDefaults);
    load();
}

QWidget* PreferencesWindow::makeEditor(const SettingDef& d) {
    switch (d.type) {
    case SettingType::Number: {
        auto* s = new QSpinBox(this);
        s->setRange(d.min, d.max);
        return s;
    }
    case SettingType::Switch: return new QCheckBox(this);
    case SettingType::Choice: {
        auto* c = new QComboBox(this);
        for (const auto& choice : d.choices) c->addItem(QString::fromLatin1(choice.second));
        return c;
    }
    case SettingType::Colour: {
        auto* b = new QPushButton(this);
        connect(b, &QPushButton::clicked, this, [this, b] {
            QColor c = QColorDialog::getColor(QColor(b->property(kValue).toString()), this);
            if (c.isValid()) showColour(b, c.name(QColor::HexRgb).toUpper().toStdString());
        });
        return b;
    }
    case SettingType::Font: {
        auto* b = new QPushButton(this);
        connect(b, &QPushButton::clicked, this, [this, b] {
            const QString v = b->property(kValue).toString();
            const int comma = static_cast<int>(v.lastIndexOf(','));
            QFont initial(v.left(comma), v.mid(comma + 1).toInt());
            bool ok = false;
            QFont f = QFontDialog::getFont(&ok, initial, this);
            if (ok) showFont(b, (f.family().left(20) + "," + QString::number(f.pointSize())).toStdString());
        });
        return b;
    }
    case SettingType::Clock: {
        auto* e = new QLineEdit(this);
        e->setPlaceholderText(QStringLiteral("HH:MM or off"));
        return e;
    }
    case SettingType::Directory:
    case SettingType::Text: {
        auto* e = new QLineEdit(this);
        if (d.max > 0) e->setMaxLength(d.max);
        return e;
    }
    }
    return new QLineEdit(this);
}

QWidget* PreferencesWindow::editor(const std::string& name) const {
    auto it = editors_.find(name);
    return it == editors_.end() ? nullptr : it->second;
}

std::string PreferencesWindow::editorValue(const std::string& name) const {
    QWidget* e = editor(name);
    if (auto* s = qobject_cast<QSpinBox*>(e)) return std::to_string(s->value());
    if (auto* c = qobject_cast<QCheckBox*>(e)) return c->isChecked() ? "on" : "off";
    if (auto* c = qobject_cast<QComboBox*>(e)) return c->currentText().toStdString();
    if (auto* b = qobject_cast<QPushButton*>(e)) return b->property(kValue).toString().toStdString();
    if (auto* l = qobject_cast<QLineEdit*>(e)) return l->text().toStdString();
    return {};
}

void PreferencesWindow::setEditorValue(const std::string& name, const std::string& value) {
    QWidget* e = editor(name);
    const QString v = QString::fromStdString(value);
    if (auto* s = qobject_cast<QSpinBox*>(e)) s->setValue(v.toInt());
    else if (auto* c = qobject_cast<QCheckBox*>(e)) c->setChecked(value == "on");
    else if (auto* c = qobject_cast<QComboBox*>(e)) {
        const int i = c->findText(v, Qt::MatchFixedString);
        if (i >= 0) c->setCurrentIndex(i);
    } else if (auto* b = qobject_cast<QPushButton*>(e)) {
        const SettingDef* d = findSetting(name);
        if (d && d->type == SettingType::Colour) showColour(b, value);
        else showFont(b, value);
    } else if (auto* l = qobject_cast<QLineEdit*>(e)) {
        l->setText(v);
    }
}

void PreferencesWindow::load() {
    for (const SettingDef& d : settingDefs()) setEditorValue(d.name, settingValue(d));
}

void PreferencesWindow::resetToDefaults() {
    for (const SettingDef& d : settingDefs()) setEditorValue(d.name, settingDefault(d));
}

bool PreferencesWindow::save() {
    // Values are checked against the stored groups as they are now, so that
    // what another window saved meanwhile is not written back.
    if (!loadSettingGroups()) return false;
    std::set<SettingGroup> changed;
    for (const SettingDef& d : settingDefs()) {
        const std::string value = editorValue(d.name);
        if (value == settingValue(d)) continue;
        std::string error;
        if (!setSetting(d, value, error)) {
            loadSettingGroups();  // nothing of this save stays in memory
            ui().message(" Preferences ", error, Icon::Exclamation);
            for (int i = 0; i < pages_->count(); ++i)
                if (pages_->tabText(i) == QString::fromLatin1(d.page)) pages_->setCurrentIndex(i);
            editor(d.name)->setFocus();
            return false;
        }
        changed.insert(d.group);
    }
    for (SettingGroup g : changed)
        if (!saveSettingGroup(g)) return false;  // the save has told the user
    std::string problems;
    for (const std::string& p : applySettings()) problems += p + "\r\n";
    if (!problems.empty()) ui().message("Path not found!", problems, Icon::Exclamation);
    return true;
}

namespace {
const bool registered = [] {
    registerProcedure("UserPanel", [](QWidget* parent) -> QWidget* { return new PreferencesWindow(parent); });
    registerSemaFore(214, [] { return startProcedure("UserPanel") ? 1 : 0; });
    return true;
}();
} // namespace

} // namespace qb
