#include "app/topic_windows.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "app/browsewindow.h"
#include "app/procedures.h"
#include "core/dates.h"
#include "core/globals.h"
#include "core/text.h"
#include "core/ui.h"

namespace qb {

namespace {

QString q(const std::string& cp1252) { return QString::fromStdString(toUtf8(cp1252)); }
std::string cp(const QString& s) { return fromUtf8(s.toStdString()); }
QString yesNo(bool b) { return b ? "Yes" : "No"; }

// Messages a key-word run tests per timer tick.
constexpr int kRunBatch = 200;

QString typeWord(uint8_t type) { return type == kKeyWordEntry ? "Key Word" : "Topic"; }

// The window works on the database it was opened for.
bool sameDatabase(uint32_t db, QWidget* w) {
    if (Mem.ForumNumber == db) return true;
    ui().message("Quillbox", "Another database has been selected since this window was opened.", Icon::Exclamation);
    if (w) w->close();
    return false;
}

} // namespace

void fillEntryTree(QTreeWidget* tree, uint8_t type, const std::vector<Entry>& entries) {
    tree->clear();
    if (type == kKeyWordEntry)
        tree->setHeaderLabels({"Search string", "Indexes", "Match case", "Match word", "Updated"});
    else
        tree->setHeaderLabels({"Topic", "Indexes"});
    const std::string date = readingPrefs().datePicture;
    for (const Entry& e : entries) {
        auto* item = new QTreeWidgetItem(tree);
        item->setText(0, q(e.name));
        item->setText(1, QString::number(e.count));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        if (type == kKeyWordEntry) {
            item->setText(2, yesNo(e.matchCase));
            item->setText(3, yesNo(e.wholeWords));
            item->setText(4, QString::fromStdString(formatDate(e.date, date)));
        }
    }
    if (!entries.empty()) tree->setCurrentItem(tree->topLevelItem(0));
}

// ---- entry list -------------------------------------------------------------------

EntryListDialog::EntryListDialog(uint8_t type, QWidget* parent) : QDialog(parent), type_(type) {
    entries_ = listEntries(type);
    setWindowTitle(type == kKeyWordEntry ? " List of Key Words" : " List of Topics");
    auto* l = new QVBoxLayout(this);
    tree_ = new QTreeWidget(this);
    tree_->setRootIsDecorated(false);
    fillEntryTree(tree_, type, entries_);
    connect(tree_, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* it, int) { choose(tree_->indexOfTopLevelItem(it)); });
    l->addWidget(tree_);
    auto* b = new QHBoxLayout;
    b->addWidget(new QLabel(QString("Entries: %1").arg(entries_.size()), this));
    b->addStretch(1);
    auto* select = new QPushButton("Select", this);
    auto* cancel = new QPushButton("Cancel", this);
    connect(select, &QPushButton::clicked, this, [this] { choose(tree_->indexOfTopLevelItem(tree_->currentItem())); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    b->addWidget(select);
    b->addWidget(cancel);
    l->addLayout(b);
    resize(type == kKeyWordEntry ? 560 : 360, 380);
}

void EntryListDialog::choose(int row) {
    if (row < 0 || row >= static_cast<int>(entries_.size())) return;
    chosen_ = entries_[static_cast<size_t>(row)];
    accept();
}

// ---- entry form ---------------------------------------------------------------------

EntryForm::EntryForm(Mode mode, uint8_t type, const Entry& entry, QWidget* parent)
    : QDialog(parent), mode_(mode), type_(type), before_(entry) {
    const QString what = typeWord(type);
    static const char* const titles[] = {"", " Add New ", " Update ", " Delete "};
    static const char* const hints[] = {"", " Accept new ", " Accept updated ", " Confirm deletion of "};
    setWindowTitle(titles[mode] + what);
    auto* l = new QVBoxLayout(this);
    l->addWidget(new QLabel(type == kKeyWordEntry ? "Search string" : "Topic", this));
    name_ = new QLineEdit(this);
    name_->setMaxLength(static_cast<int>(kEntryNameMax));
    l->addWidget(name_);
    if (type == kKeyWordEntry) {
        case_ = new QCheckBox("Match case", this);
        words_ = new QCheckBox("Match word", this);
        l->addWidget(case_);
        l->addWidget(words_);
    }
    if (mode != Add) {
        name_->setText(q(entry.name));
        if (case_) case_->setChecked(entry.matchCase), words_->setChecked(entry.wholeWords);
        auto* count = new QLabel(QString("Indexes: %1").arg(entry.count), this);
        l->addWidget(count);
    }
    if (mode == Delete) {
        name_->setReadOnly(true);
        if (case_) case_->setEnabled(false), words_->setEnabled(false);
    }
    auto* b = new QHBoxLayout;
    b->addStretch(1);
    ok_ = new QPushButton(mode == Delete ? "Delete" : "OK", this);
    ok_->setToolTip(hints[mode] + what);
    ok_->setDefault(true);
    auto* cancel = new QPushButton("Cancel", this);
    connect(ok_, &QPushButton::clicked, this, [this] {
        if (save()) accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    b->addWidget(ok_);
    b->addWidget(cancel);
    l->addLayout(b);
}

bool EntryForm::save() {
    const std::string name = cp(name_->text());
    if (mode_ != Delete && rtrim(name).empty()) {
        ui().message(" " + cp(typeWord(type_)), "Please enter a name!", Icon::Exclamation);
        name_->setFocus();
        return false;
    }
    EntryResult r = EntryResult::Failed;
    if (mode_ == Add) {
        r = addEntry(type_, name, case_ && case_->isChecked(), words_ && words_->isChecked(), &result_);
    } else if (mode_ == Update) {
        Entry after = before_;
        after.name = name;
        after.matchCase = case_ && case_->isChecked();
        after.wholeWords = words_ && words_->isChecked();
        r = updateEntry(before_, after);
        if (r == EntryResult::Ok) findEntryById(before_.id, result_);
    } else {
        r = deleteEntry(before_);
        result_ = before_;
    }
    if (r == EntryResult::NameInUse)
        ui().message(" " + cp(typeWord(type_)), "Record add error!\r\nA record with identical key already exists!",
                     Icon::Exclamation);
    else if (r == EntryResult::NotFound)
        ui().message(" " + cp(typeWord(type_)), "The entry is not there any more!", Icon::Exclamation);
    if (r == EntryResult::Changed) {
        // The form shows the row as it is now, for another attempt.
        Entry now;
        if (findEntryById(before_.id, now)) before_ = now;
    }
    if (r != EntryResult::Ok) {
        name_->setFocus();
        return false;
    }
    entriesChanged();
    return true;
}

// ---- key-word run ---------------------------------------------------------------------

KeywordRunDialog::KeywordRunDialog(std::vector<uint32_t> ids, QWidget* parent)
    : QDialog(parent), run_(std::make_unique<KeywordRun>(std::move(ids))) {
    setWindowTitle(" Key Word Run");
    auto* l = new QVBoxLayout(this);
    status_ = new QLabel("Running key words", this);
    bar_ = new QProgressBar(this);
    bar_->setRange(0, 1000);
    cancel_ = new QPushButton("Cancel", this);
    l->addWidget(status_);
    l->addWidget(bar_);
    l->addWidget(cancel_);
    connect(cancel_, &QPushButton::clicked, this, [this] { run_->cancel(); });
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &KeywordRunDialog::tick);
    timer_->start(0);
}

KeywordRunDialog::~KeywordRunDialog() = default;

bool KeywordRunDialog::finished() const { return run_->finished(); }

void KeywordRunDialog::tick() {
    if (run_->step(kRunBatch)) {
        const uint64_t total = run_->total();
        bar_->setValue(total ? static_cast<int>(run_->done() * 1000 / total) : 0);
        status_->setText(QString("Messages tested: %1 of %2").arg(run_->done()).arg(total));
        return;
    }
    timer_->stop();
    entriesChanged();
    if (run_->failed()) reject();
    else accept();
}

void runKeyWordsWithProgress(const std::vector<uint32_t>& ids, QWidget* parent) {
    KeywordRunDialog d(ids, parent);
    d.exec();
}

// ---- topics browse -------------------------------------------------------------------

TopicsBrowse::TopicsBrowse(QWidget* parent) : QWidget(parent), db_(Mem.ForumNumber) {
    auto* l = new QVBoxLayout(this);
    tabs_ = new QTabBar(this);
    tabs_->addTab("Topics");
    tabs_->addTab("Key words");
    connect(tabs_, &QTabBar::currentChanged, this, [this](int i) { setKeyWords(i == 1); });
    l->addWidget(tabs_);
    tree_ = new QTreeWidget(this);
    tree_->setRootIsDecorated(false);
    connect(tree_, &QTreeWidget::itemActivated, this, [this] { openForm(EntryForm::Update); });
    l->addWidget(tree_, 1);
    auto* b = new QHBoxLayout;
    add_ = new QPushButton("Add", this);
    change_ = new QPushButton("Change", this);
    delete_ = new QPushButton("Delete", this);
    run_ = new QPushButton("Run", this);
    auto* close = new QPushButton("Close", this);
    connect(add_, &QPushButton::clicked, this, [this] { openForm(EntryForm::Add); });
    connect(change_, &QPushButton::clicked, this, [this] { openForm(EntryForm::Update); });
    connect(delete_, &QPushButton::clicked, this, [this] { openForm(EntryForm::Delete); });
    connect(run_, &QPushButton::clicked, this, &TopicsBrowse::runHighlighted);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    for (QPushButton* p : {add_, change_, delete_, run_}) b->addWidget(p);
    b->addStretch(1);
    b->addWidget(close);
    l->addLayout(b);
    resize(560, 420);
    setKeyWords(false);
}

void TopicsBrowse::setKeyWords(bool keyWords) {
    keyWords_ = keyWords;
    if (tabs_->currentIndex() != (keyWords ? 1 : 0)) {
        QSignalBlocker block(tabs_);
        tabs_->setCurrentIndex(keyWords ? 1 : 0);
    }
    add_->setToolTip(keyWords ? "Add a new key word" : "Add a new topic");
    change_->setToolTip(keyWords ? "Change highlighted key word" : "Change highlighted topic");
    delete_->setToolTip(keyWords ? "Delete highlighted key word" : "Delete highlighted topic");
    run_->setToolTip("Link the messages that hold the highlighted key word");
    run_->setVisible(keyWords);
    refresh();
}

void TopicsBrowse::refresh() {
    if (Mem.ForumNumber != db_) return;
    const QTreeWidgetItem* cur = tree_->currentItem();
    const QString keep = cur ? cur->text(0) : QString();
    entries_ = listEntries(keyWords_ ? kKeyWordEntry : kTopicEntry);
    fillEntryTree(tree_, keyWords_ ? kKeyWordEntry : kTopicEntry, entries_);
    for (int i = 0; i < tree_->topLevelItemCount(); ++i)
        if (tree_->topLevelItem(i)->text(0) == keep) tree_->setCurrentItem(tree_->topLevelItem(i));
    setWindowTitle(QString(" Topics [%1]").arg(entries_.size()));
}

std::optional<Entry> TopicsBrowse::highlighted() const {
    const int row = tree_->indexOfTopLevelItem(tree_->currentItem());
    if (row < 0 || row >= static_cast<int>(entries_.size())) return std::nullopt;
    return entries_[static_cast<size_t>(row)];
}

void TopicsBrowse::openForm(int mode) {
    if (!sameDatabase(db_, this)) return;
    const uint8_t type = keyWords_ ? kKeyWordEntry : kTopicEntry;
    std::optional<Entry> e = highlighted();
    if (mode != EntryForm::Add && !e) return;
    EntryForm form(static_cast<EntryForm::Mode>(mode), type, e.value_or(Entry{}), this);
    if (form.exec() != QDialog::Accepted) return;
    // A new key word, or one whose match changed, is run at once.
    if (type == kKeyWordEntry && mode != EntryForm::Delete &&
        (mode == EntryForm::Add || form.result().date == 0))
        runKeyWordsWithProgress({form.result().id}, this);
    refresh();
}

void TopicsBrowse::runHighlighted() {
    if (!keyWords_ || !sameDatabase(db_, this)) return;
    std::optional<Entry> e = highlighted();
    if (!e) return;
    runKeyWordsWithProgress({e->id}, this);
    refresh();
}

// ---- classification -------------------------------------------------------------------

ClassifyWindow::ClassifyWindow(QWidget* parent) : QWidget(parent), db_(Mem.ForumNumber) {
    setWindowTitle(" Classify");
    auto* l = new QVBoxLayout(this);
    heading_ = new QLabel(this);
    l->addWidget(heading_);
    list_ = new QListWidget(this);
    connect(list_, &QListWidget::itemChanged, this, [this](QListWidgetItem* it) {
        if (!filling_) toggle(list_->row(it));
    });
    l->addWidget(list_, 1);
    auto* b = new QHBoxLayout;
    auto* remove = new QPushButton("Remove from list", this);
    remove->setToolTip("Take the highlighted topic off this list");
    connect(remove, &QPushButton::clicked, this, [this] { removeFromList(list_->currentRow()); });
    auto* close = new QPushButton("Close", this);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    b->addWidget(remove);
    b->addStretch(1);
    b->addWidget(close);
    l->addLayout(b);
    resize(260, 400);
    if (BrowseWindow* w = openBrowse()) {
        connect(w, &BrowseWindow::messageShown, this, &ClassifyWindow::follow);
        message_ = w->currentId();
        move(w->frameGeometry().topRight());
    }
    refresh();
}

void ClassifyWindow::refresh() {
    if (Mem.ForumNumber != db_) return;
    items_.clear();
    for (const Entry& e : listEntries(kTopicEntry)) {
        if (std::find(hidden_.begin(), hidden_.end(), e.id) != hidden_.end()) continue;
        items_.push_back({e, message_ && isLinked(e.id, message_) ? 1 : 2});
    }
    fillList();
}

void ClassifyWindow::follow(uint32_t messageId) {
    message_ = messageId;
    refresh();
}

void ClassifyWindow::fillList() {
    filling_ = true;
    const int row = list_->currentRow();
    list_->clear();
    for (size_t i = 0; i < items_.size(); ++i) {
        auto* w = new QListWidgetItem(list_);
        w->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    }
    filling_ = false;
    for (int i = 0; i < list_->count(); ++i) showRow(i);
    if (row >= 0 && row < list_->count()) list_->setCurrentRow(row);
    heading_->setText(message_ ? QString("Topics of message %1").arg(message_) : QString("No message"));
}

// One row in place: a toggle comes from the row's own change signal.
void ClassifyWindow::showRow(int row) {
    const Item& it = items_[static_cast<size_t>(row)];
    QListWidgetItem* w = list_->item(row);
    const bool was = filling_;
    filling_ = true;
    w->setText(q(it.entry.name) + QString(" (%1)").arg(it.entry.count));
    w->setCheckState(it.mark == 1 ? Qt::Checked : Qt::Unchecked);
    w->setToolTip(it.mark == 1 ? "Attached: click to detach" : "Not attached: click to attach");
    filling_ = was;
}

bool ClassifyWindow::toggle(int row) {
    if (row < 0 || row >= static_cast<int>(items_.size())) return false;
    if (message_ == 0) {
        showRow(row);
        return false;
    }
    if (!sameDatabase(db_, this)) return false;
    Item& it = items_[static_cast<size_t>(row)];
    bool attached = it.mark == 1;
    const EntryResult r = attachMessages(it.entry.id, {message_}, !attached);
    if (r == EntryResult::Ok) {
        it.mark = attached ? 2 : 1;
        Entry now;
        if (findEntryById(it.entry.id, now)) it.entry = now;
    }
    showRow(row);
    // The topics browse and the browse's topic tab follow.
    if (auto* tb = qobject_cast<TopicsBrowse*>(procedureWindow("BrowseTopics"))) tb->refresh();
    if (BrowseWindow* w = openBrowse(); w && w->tab() == (w->isMail() ? 7 : 8)) w->setTab(w->tab());
    return r == EntryResult::Ok;
}

void ClassifyWindow::removeFromList(int row) {
    if (row < 0 || row >= static_cast<int>(items_.size())) return;
    hidden_.push_back(items_[static_cast<size_t>(row)].entry.id);
    items_.erase(items_.begin() + row);
    fillList();
}

void entriesChanged() {
    if (auto* tb = qobject_cast<TopicsBrowse*>(procedureWindow("BrowseTopics"))) tb->refresh();
    if (auto* cw = qobject_cast<ClassifyWindow*>(procedureWindow("Classify"))) cw->refresh();
    if (BrowseWindow* w = openBrowse(); w && w->tab() == (w->isMail() ? 7 : 8)) w->setTab(w->tab());
}

namespace {

bool needsDatabase() {
    if (Mem.ForumNumber != 0 && !Mem.Dirnamn.empty()) return true;
    ui().message("Quillbox", "No database is selected.", Icon::Exclamation);
    return false;
}

const bool regTopics = registerProcedure("BrowseTopics", [](QWidget* parent) -> QWidget* {
    return needsDatabase() ? new TopicsBrowse(parent) : nullptr;
});
const bool regClassify = registerProcedure("Classify", [](QWidget* parent) -> QWidget* {
    return needsDatabase() ? new ClassifyWindow(parent) : nullptr;
});

} // namespace

} // namespace qb
