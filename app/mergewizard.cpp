#include "app/mergewizard.h"

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "app/mainframe.h"
#include "app/procedures.h"
#include "core/registry.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/ui.h"
#include "import/merge.h"

namespace qb {

namespace {

QString q(const std::string& s) { return QString::fromStdString(toUtf8(s)); }
std::string s8(const QString& s) { return fromUtf8(s.toStdString()); }

const char* const kTitle = " Database Merge ";

QString kindName(int kind) {
    switch (kind) {
    case KindForum: return "Forum";
    case KindMail: return "Mail";
    case KindNews: return "Newsgroup";
    default: return "Unknown";
    }
}

} // namespace

// ---------------------------------------------------------------- progress

MergeProgressWindow::MergeProgressWindow(uint32_t sourceId, uint32_t targetId, QWidget* parent)
    : RunWindow(parent), run_(std::make_unique<MergeRun>(sourceId, targetId)) {
    setWindowTitle(kTitle);
    auto* v = new QVBoxLayout(this);
    from_ = new QLabel;
    to_ = new QLabel;
    text_ = new QLabel;
    totals_ = new QLabel;
    bar_ = new QProgressBar;
    bar_->setRange(0, 1000);
    v->addWidget(from_);
    v->addWidget(to_);
    v->addWidget(text_);
    v->addWidget(bar_);
    v->addWidget(totals_);
    v->addWidget(stop_, 0, Qt::AlignRight);
    resize(460, 200);
    startRun();
}

MergeProgressWindow::~MergeProgressWindow() = default;

QString MergeProgressWindow::fromText() const { return from_->text(); }
QString MergeProgressWindow::toText() const { return to_->text(); }
QString MergeProgressWindow::progressText() const { return text_->text(); }

bool MergeProgressWindow::runFinished() const { return run_->finished(); }
void MergeProgressWindow::runStep() { run_->step(); }
bool MergeProgressWindow::runRequestStop() { return run_->requestStop(); }

void MergeProgressWindow::refresh() {
    const MergeRun& r = *run_;
    from_->setText(r.sourceName().empty() ? QString() : " Merging from: " + q(r.sourceName()));
    to_->setText(r.targetName().empty() ? QString() : " Merging to: " + q(r.targetName()));
    text_->setText(q(r.progressText()).trimmed());
    bar_->setValue(static_cast<int>((r.finished() ? 1.0 : r.currentFraction()) * 1000));
    const ImportTotals t = r.totals();
    QString line = QString("Stored: %1   Skipped: %2").arg(t.stored).arg(t.skipped);
    if (t.tempRecords) line += QString("   Temporary records: %1").arg(t.tempRecords);
    totals_->setText(line);
}

void MergeProgressWindow::runEnded() {
    if (!run_->failed() && !run_->stopped()) {
        QApplication::beep();
        ui().message(kTitle, run_->endText(), Icon::Information);
    }
    // The main menu's notice: the frame shows the databases as they are now.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* frame = qobject_cast<MainFrame*>(w)) frame->refreshDatabase();
}

// ---------------------------------------------------------------- wizard

MergeWizard::MergeWizard(QWidget* parent) : QWidget(parent) {
    setWindowTitle("Merge Databases");
    auto* outer = new QVBoxLayout(this);
    pages_ = new QStackedWidget;
    outer->addWidget(pages_);
    auto page = [this](const char* prompt, QLineEdit*& field) {
        auto* w = new QWidget;
        auto* v = new QVBoxLayout(w);
        v->addWidget(new QLabel(prompt));
        field = new QLineEdit;
        field->setMaxLength(100);
        auto* row = new QHBoxLayout;
        row->addWidget(field, 1);
        auto* look = new QPushButton("Look up Forum name");
        connect(look, &QPushButton::clicked, this, [this] { lookUp(); });
        row->addWidget(look);
        v->addLayout(row);
        v->addStretch();
        pages_->addWidget(w);
    };
    page("Enter name of Source Forum", source_);
    page("Enter name of Target Forum", target_);

    auto* buttons = new QHBoxLayout;
    back_ = new QPushButton("< &Back");
    next_ = new QPushButton("&Next >");
    start_ = new QPushButton("&Merge");
    auto* cancel = new QPushButton("&Cancel");
    buttons->addStretch();
    for (QPushButton* b : {back_, next_, start_, cancel}) buttons->addWidget(b);
    outer->addLayout(buttons);
    connect(back_, &QPushButton::clicked, this, &MergeWizard::goBack);
    connect(next_, &QPushButton::clicked, this, &MergeWizard::goNext);
    connect(start_, &QPushButton::clicked, this, [this] { start(); });
    connect(cancel, &QPushButton::clicked, this, &QWidget::close);
    resize(440, 160);
    showPage(0);
}

int MergeWizard::page() const { return pages_->currentIndex(); }

void MergeWizard::showPage(int n) {
    pages_->setCurrentIndex(n);
    back_->setEnabled(n > 0);
    next_->setEnabled(n == 0);
    start_->setEnabled(n == 1);
    (n == 0 ? source_ : target_)->setFocus();
}

void MergeWizard::goBack() { showPage(0); }

void MergeWizard::goNext() {
    if (chosen(source_)) showPage(1);
}

uint32_t MergeWizard::chosen(QLineEdit* field) {
    ForumsRec row{};
    const std::string name = s8(field->text());
    if (findDatabaseByName(name, row)) return row.ID;
    ui().message("Warning!", "The database " + name + " does not exist!", Icon::Exclamation);
    field->setFocus();
    field->selectAll();
    return 0;
}

QDialog* MergeWizard::lookUp() {
    QLineEdit* field = page() == 0 ? source_ : target_;
    auto* d = new QDialog(this);
    d->setAttribute(Qt::WA_DeleteOnClose);
    d->setWindowTitle("Look up Forum name");
    auto* v = new QVBoxLayout(d);
    auto* list = new QListWidget;
    list->setObjectName("DatabaseList");
    for (const ForumsRec& r : listDatabases()) {
        auto* item = new QListWidgetItem(q(std::string(r.DESCRIPTION.view())) + "\t" + kindName(r.TYPE));
        item->setData(Qt::UserRole, q(std::string(r.DESCRIPTION.view())));
        list->addItem(item);
    }
    v->addWidget(list);
    auto* choose = new QPushButton("&Select");
    v->addWidget(choose, 0, Qt::AlignRight);
    auto pick = [d, list, field] {
        if (QListWidgetItem* item = list->currentItem()) field->setText(item->data(Qt::UserRole).toString());
        d->close();
    };
    connect(list, &QListWidget::itemActivated, d, pick);
    connect(choose, &QPushButton::clicked, d, pick);
    d->show();
    return d;
}

MergeProgressWindow* MergeWizard::start() {
    const uint32_t source = chosen(source_);
    if (!source) {
        showPage(0);
        return nullptr;
    }
    const uint32_t target = chosen(target_);
    if (!target) return nullptr;
    const MergeCheck c = checkMerge(source, target);
    if (!c.ok) {
        // The target is chosen again.
        ui().message(c.title, c.text, Icon::Exclamation);
        showPage(1);
        target_->selectAll();
        return nullptr;
    }
    auto* w = new MergeProgressWindow(source, target);
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->show();
    close();
    return w;
}

namespace {
const bool registered = registerProcedure("MergeMeny", [](QWidget* parent) { return new MergeWizard(parent); });
}

} // namespace qb
