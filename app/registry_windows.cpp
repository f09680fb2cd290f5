#include "app/registry_windows.h"

#include <QCoreApplication>
#include <QFile>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/boundwindows.h"
#include "app/browsewindow.h"
#include "app/maildbdialog.h"
#include "app/procedures.h"
#include "core/globals.h"
#include "core/registry.h"
#include "core/settings.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/ui.h"
#include "tasks/taskmanager.h"

namespace qb {

namespace {
QString q(std::string_view cp1252) { return QString::fromStdString(toUtf8(cp1252)); }
std::string cp(const QString& s) { return fromUtf8(s.toStdString()); }
constexpr int IdRole = Qt::UserRole + 1;
} // namespace

// ---------------------------------------------------------------- selection

DatabaseSelection::DatabaseSelection(int kind, QWidget* parent) : QWidget(parent), kind_(kind) {
    QString title, caption;
    switch (kind) {
    case KindForum:
        title = " Forum Database Selection ";
        caption = "List of Forum databases";
        break;
    case KindMail:
        title = " Mail Database Selection ";
        caption = "List of mail databases";
        break;
    default:
        title = " Database Selection [" + q(Mem.Description) + "]";
        caption = "List of databases";
        break;
    }
    setWindowTitle(title);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(caption, this));
    list_ = new QTreeWidget(this);
    list_->setRootIsDecorated(false);
    list_->setAccessibleName(caption);
    list_->setHeaderLabels({"Name", "Directory", "Messages", "Import", "Count current", "Word index"});
    list_->header()->setStretchLastSection(false);
    list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    layout->addWidget(list_);
    auto* buttons = new QHBoxLayout;
    auto* select = new QPushButton("&Select", this);
    auto* add = new QPushButton("&Add forum...", this);
    auto* addMail = new QPushButton("Add &mail database...", this);
    auto* update = new QPushButton("&Update alternative addresses", this);
    addMail->setObjectName("AddMail");
    update->setObjectName("UpdateMail");
    auto* close = new QPushButton("&Close", this);
    select->setDefault(true);
    buttons->addStretch();
    buttons->addWidget(select);
    if (kind != KindMail) buttons->addWidget(add);
    else add->hide();
    if (kind != KindForum) {
        buttons->addWidget(addMail);
        buttons->addWidget(update);
    } else {
        addMail->hide();
        update->hide();
    }
    buttons->addWidget(close);
    layout->addLayout(buttons);
    resize(560, 320);

    connect(list_, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item, int) { chooseRow(list_->indexOfTopLevelItem(item)); });
    connect(select, &QPushButton::clicked, this, [this] {
        if (auto* item = list_->currentItem()) chooseRow(list_->indexOfTopLevelItem(item));
    });
    connect(add, &QPushButton::clicked, this, [] { startProcedure("AddForum"); });
    connect(addMail, &QPushButton::clicked, this, [this] { addMailDatabase(); });
    connect(update, &QPushButton::clicked, this, [this] {
        if (auto* item = list_->currentItem()) updateMailDatabase(list_->indexOfTopLevelItem(item));
    });
    // The update command is for mail databases only.
    connect(list_, &QTreeWidget::currentItemChanged, this, [this, update](QTreeWidgetItem* item) {
        ForumsRec row;
        update->setEnabled(item && findDatabaseById(item->data(0, IdRole).toUInt(), row) && row.TYPE == KindMail);
    });
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    connect(list_, &QTreeWidget::customContextMenuRequested, this, &DatabaseSelection::popup);
    // Whether the database keeps a word index, brought up to date after imports.
    connect(list_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        if (column != 5) return;
        if (!setKeepsIndex(item->data(0, IdRole).toUInt(), item->checkState(5) == Qt::Checked)) reload();
    });
    reload();
}

void DatabaseSelection::reload() {
    const uint32_t current = list_->currentItem() ? list_->currentItem()->data(0, IdRole).toUInt() : Mem.ForumNumber;
    QSignalBlocker quiet(list_);  // the check boxes being filled are no change of the user's
    list_->clear();
    for (const ForumsRec& r : listDatabases(kind_)) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, q(r.DESCRIPTION.view()));
        item->setText(1, QString::fromStdString(databaseDirName(r.DIRNUMBER)));
        item->setText(2, QString::number(r.MSGCOUNT));
        item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        item->setText(3, r.NOIMPORT == 0 ? "Yes" : "No");
        item->setText(4, r.COUNTFLAG == 0 ? "Yes" : "No");
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(5, r.INDEXTYPE == 1 ? Qt::Checked : Qt::Unchecked);
        item->setData(0, IdRole, r.ID);
        if (r.ID == current) list_->setCurrentItem(item);
    }
    if (!list_->currentItem() && list_->topLevelItemCount() > 0) list_->setCurrentItem(list_->topLevelItem(0));
    quiet.unblock();
    // The commands that depend on the current row follow the row chosen above.
    emit list_->currentItemChanged(list_->currentItem(), nullptr);
}

bool DatabaseSelection::chooseRow(int row) {
    QTreeWidgetItem* item = list_->topLevelItem(row);
    if (!item) return false;
    const uint32_t id = item->data(0, IdRole).toUInt();
    ForumsRec found;
    if (!findDatabaseById(id, found)) {
        ui().message(" Database Selection", "The database is no longer in the database list.", Icon::Exclamation);
        reload();
        return false;
    }
    if (!switchDatabase(id)) return false;  // the user kept the active database
    close();
    return true;
}

QWidget* DatabaseSelection::addMailDatabase() {
    auto* d = new MailDbDialog(0, this);
    d->setAttribute(Qt::WA_DeleteOnClose);
    connect(d, &QDialog::finished, this, [this] { reload(); });
    d->show();
    return d;
}

QWidget* DatabaseSelection::updateMailDatabase(int row) {
    QTreeWidgetItem* item = list_->topLevelItem(row);
    ForumsRec db;
    if (!item || !findDatabaseById(item->data(0, IdRole).toUInt(), db) || db.TYPE != KindMail) return nullptr;
    list_->setCurrentItem(item);
    auto* d = new MailDbDialog(db.ID, this);
    d->setAttribute(Qt::WA_DeleteOnClose);
    connect(d, &QDialog::finished, this, [this] { reload(); });
    d->show();
    return d;
}

bool DatabaseSelection::setImport(int row, bool allowed) {
    QTreeWidgetItem* item = list_->topLevelItem(row);
    if (!item) return false;
    list_->setCurrentItem(item);
    bool ok = setImportAllowed(item->data(0, IdRole).toUInt(), allowed);
    reload();
    return ok;
}

void DatabaseSelection::popup(const QPoint& at) {
    QTreeWidgetItem* item = list_->itemAt(at);
    if (!item) return;
    const int row = list_->indexOfTopLevelItem(item);
    QMenu menu(this);
    QAction* allow = menu.addAction("Allow import");
    QAction* disallow = menu.addAction("Disallow import");
    QAction* chosen = menu.exec(list_->viewport()->mapToGlobal(at));
    if (chosen == allow) setImport(row, true);
    else if (chosen == disallow) setImport(row, false);
}

// ---------------------------------------------------------------- add forum

AddForumWindow::AddForumWindow(QWidget* parent) : QWidget(parent) {
    setWindowTitle(" Add New Forum");
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    auto* prompt = new QLabel("Forum name", this);
    name_ = new QLineEdit(this);
    name_->setMaxLength(static_cast<int>(ForumsRec{}.DESCRIPTION.size()));
    prompt->setBuddy(name_);
    row->addWidget(prompt);
    row->addWidget(name_, 1);
    layout->addLayout(row);
    status_ = new QLabel(this);
    layout->addWidget(status_);
    auto* buttons = new QHBoxLayout;
    auto* save = new QPushButton("Save new Forum", this);
    auto* close = new QPushButton("&Close", this);
    save->setDefault(true);
    buttons->addStretch();
    buttons->addWidget(save);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    resize(420, 120);
    connect(save, &QPushButton::clicked, this, [this] { this->save(); });
    connect(name_, &QLineEdit::returnPressed, this, [this] { this->save(); });
    connect(close, &QPushButton::clicked, this, &QWidget::close);
}

uint32_t AddForumWindow::save() {
    const uint32_t id = addForumDatabase(cp(name_->text()));
    if (id == 0) {
        // Refused (a name in use, or the directory): the user corrects the name.
        name_->setFocus();
        name_->selectAll();
        return 0;
    }
    status_->setText("Forum " + q(FOR.DESCRIPTION.view()) + " added in directory " +
                     QString::fromStdString(databaseDirName(FOR.DIRNUMBER)) + ".");
    name_->clear();
    name_->setFocus();
    if (auto* w = qobject_cast<DatabaseSelection*>(procedureWindow("ChangeForum"))) w->reload();
    return id;
}

// ---------------------------------------------------------------- rebuild

RebuildWindow::RebuildWindow(bool idCheckOnly, QWidget* parent) : QWidget(parent), idCheckOnly_(idCheckOnly) {
    setWindowTitle(idCheckOnly ? " Next ID check" : " Rebuild");
    auto* layout = new QVBoxLayout(this);
    status_ = new QLabel(idCheckOnly ? "Checking for highest ID number"
                                     : "Verify the database list against the database directories.",
                         this);
    layout->addWidget(status_);
    bar_ = new QProgressBar(this);
    bar_->setRange(0, 1);
    bar_->setValue(0);
    layout->addWidget(bar_);
    log_ = new QPlainTextEdit(this);
    log_->setReadOnly(true);
    log_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    log_->setLineWrapMode(QPlainTextEdit::NoWrap);
    log_->setVisible(!idCheckOnly);
    layout->addWidget(log_, 1);
    auto* buttons = new QHBoxLayout;
    startButton_ = new QPushButton("&Start", this);
    auto* close = new QPushButton("&Close", this);
    buttons->addStretch();
    buttons->addWidget(startButton_);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    resize(idCheckOnly ? 360 : 640, idCheckOnly ? 120 : 420);
    timer_ = new QTimer(this);
    timer_->setInterval(0);
    connect(timer_, &QTimer::timeout, this, &RebuildWindow::tick);
    connect(startButton_, &QPushButton::clicked, this, &RebuildWindow::start);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    // The next-ID check runs at once when its window opens.
    if (idCheckOnly) QTimer::singleShot(0, this, &RebuildWindow::start);
}

RebuildWindow::~RebuildWindow() = default;

bool RebuildWindow::running() const { return timer_->isActive(); }

void RebuildWindow::start() {
    if (running()) return;
    startButton_->setEnabled(false);
    log_->clear();
    if (idCheckOnly_) check_ = std::make_unique<NextIdCheck>();
    else rebuild_ = std::make_unique<Rebuild>();
    timer_->start();
}

void RebuildWindow::tick() {
    bool more = false;
    try {
        if (idCheckOnly_) {
            more = check_->step();
            status_->setText(QString::fromStdString(check_->status()));
            bar_->setRange(0, static_cast<int>(std::max<long long>(1, check_->total())));
            bar_->setValue(static_cast<int>(check_->done()));
        } else {
            more = rebuild_->step();
            status_->setText(q(rebuild_->status()));
            bar_->setRange(0, static_cast<int>(std::max<long long>(1, rebuild_->total())));
            bar_->setValue(static_cast<int>(rebuild_->done()));
        }
    } catch (const ProgramStop& stop) {
        timer_->stop();
        ui().message("Quillbox", stop.what(), Icon::Hand);
        QCoreApplication::exit(3);
        return;
    }
    if (!more) finish();
}

void RebuildWindow::finish() {
    timer_->stop();
    startButton_->setEnabled(true);
    bar_->setValue(bar_->maximum());
    if (idCheckOnly_) {
        status_->setText(QString::fromStdString(check_->status()));
        return;
    }
    QFile f(QString::fromStdString(rebuildLogPath()));
    if (f.open(QIODevice::ReadOnly)) log_->setPlainText(q(f.readAll().toStdString()));
}

namespace {
const bool registered = [] {
    registerProcedure("ChangeForum", [](QWidget* parent) -> QWidget* { return new DatabaseSelection(0, parent); });
    registerProcedure("AddForum", [](QWidget* parent) -> QWidget* { return new AddForumWindow(parent); });
    registerProcedure("RebuildMeny", [](QWidget* parent) -> QWidget* { return new RebuildWindow(false, parent); });
    registerProcedure("NextIdCheck", [](QWidget* parent) -> QWidget* { return new RebuildWindow(true, parent); });
    registerSemaFore(215, [] { return startProcedure("NextIdCheck") ? 1 : 0; });
    // A database marked for deletion, removed from its browse on request.
    BrowseWindow::setDatabaseRemoval([](uint32_t id) { return id == Mem.ForumNumber && removeActiveDatabase() == 1; });
    return true;
}();
} // namespace

} // namespace qb
