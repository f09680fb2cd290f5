#include "app/word_windows.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDropEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "app/boundwindows.h"
#include "app/browsewindow.h"
#include "app/jobwindows.h"
#include "app/procedures.h"
#include "core/access.h"
#include "core/globals.h"
#include "core/settings.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/ui.h"

namespace qb {

namespace {
QString q(const std::string& s) { return QString::fromStdString(toUtf8(s)); }
std::string s1252(const QString& s) { return fromUtf8(s.toStdString()); }

QPushButton* button(const QString& text, QWidget* parent, const char* name) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

int indexBatch() {
    int32_t b = 4;
    try {
        b = SpeedVal(3, 28);
    } catch (...) {
    }
    return b > 0 ? b : 4;
}

std::string kindName(uint8_t kind) {
    return kind == 1 ? "Forum" : kind == 2 ? "Mail" : "Newsgroup";
}
} // namespace

// ================================================================ indexing

IndexWindow::IndexWindow(QWidget* parent) : QWidget(parent), scheduled_(unattended()) {
    bindToActiveDatabase(this);
    database_ = boundDatabase(this).id;
    setWindowTitle(q(" Indexing of " + kindName(Mem.ForumType) + " database [" + Mem.Description + "]"));
    auto* lay = new QVBoxLayout(this);
    advice_label_ = new QLabel(this);
    advice_label_->setObjectName("Advice");
    status_ = new QLabel(this);
    bar_ = new QProgressBar(this);
    lay->addWidget(advice_label_);
    lay->addWidget(status_);
    lay->addWidget(bar_);
    auto* row = new QHBoxLayout;
    partial_ = button("Partial", this, "Partial");
    full_ = button("Full", this, "Full");
    recount_ = button("Recount", this, "Recount");
    cancel_ = button("Cancel", this, "Cancel");
    for (auto* b : {partial_, full_, recount_, cancel_}) row->addWidget(b);
    lay->addLayout(row);
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &IndexWindow::tick);
    connect(partial_, &QPushButton::clicked, this, [this] { runMode(advice_ == AdviceCleanup ? ModeCleanupOnly : ModePartial); });
    connect(full_, &QPushButton::clicked, this, [this] { runMode(ModeFull); });
    connect(cancel_, &QPushButton::clicked, this, [this] {
        if (run_) {
            stopped_ = true;
            run_->cancel();
        } else {
            close();
        }
    });
    connect(recount_, &QPushButton::clicked, this, [this] {
        DatabaseScope scope(this);
        if (!readIndexFields(position_, count_, needsUpdate_)) {
            ui().message("Disk Error", "Unable to read forum data!|Recount not possible now.");
            close();
            return;
        }
        WSIndexFixup(advice_, 4, position_, count_, 0, 1);
        writeIndexFields(position_, count_, needsUpdate_);
        showAdvice();
        ui().message("Recommended Action", adviceText(advice_), Icon::Information);
    });

    readOk_ = readIndexFields(position_, count_, needsUpdate_);
    if (!readOk_) {
        // A task's job shows no box: its failure goes to the task log.
        if (scheduled_) report(2);
        else ui().message("Disk Error", "Unable to read forum data!|Indexing not possible now.");
        QTimer::singleShot(0, this, &QWidget::close);
        return;
    }
    WSIndexFixup(advice_, 4, position_, count_, 1, 0);
    showAdvice();
    if (scheduled_) {
        // A task's job: the indexer's own advice, without a question.
        QTimer::singleShot(0, this, [this] {
            if (advice_ == AdviceNone) {
                report(1);  // the index is up to date
                close();
                return;
            }
            runMode(advice_ == AdviceCleanup ? ModeCleanupOnly : static_cast<int>(advice_));
        });
    }
}

IndexWindow::~IndexWindow() {
    if (run_) finishRun();
    // A job whose window went before its end is a failed job.
    if (scheduled_ && !reported_) report(2);
}

void IndexWindow::report(int result) {
    if (reported_) return;
    reported_ = true;
    reportJobEnd(JobIndex, database_, result);
}

QString IndexWindow::adviceShown() const { return advice_label_->text(); }

void IndexWindow::showAdvice() {
    advice_label_->setText(q(adviceText(advice_)));
    partial_->setEnabled(advice_ == AdvicePartial || advice_ == AdviceCleanup);
    full_->setEnabled(true);
}

void IndexWindow::runMode(int mode) {
    if (run_) return;
    DatabaseScope scope(this);
    run_ = std::make_unique<WordIndexer>(mode, indexBatch(), position_, Mem.ForumNumber, Mem.ForumType,
                                         needsUpdate_, count_);
    if (!run_->start()) {
        run_->finish();
        run_.reset();
        if (scheduled_) {
            report(2);
            QTimer::singleShot(0, this, &QWidget::close);
        }
        return;
    }
    writeIndexFields(position_, count_, needsUpdate_);
    setWindowTitle(q(run_->title()));
    for (auto* b : {partial_, full_, recount_}) b->setEnabled(false);
    setBatchRunning(this, true);
    timer_->start(0);
}

void IndexWindow::tick() {
    if (!run_) return;
    // The run reads and writes the tables of its own database, whichever
    // database is active meanwhile.
    DatabaseScope scope(this);
    bool more = false;
    try {
        more = run_->step();
    } catch (const ProgramStop&) {
        // The library has said why the program stops.
        timer_->stop();
        run_.reset();
        QApplication::exit(3);
        return;
    }
    status_->setText(q(run_->status()));
    if (run_->total() > 0) {
        bar_->setRange(0, 1000);
        bar_->setValue(static_cast<int>(std::min<long long>(1000, run_->done() * 1000 / run_->total())));
    }
    if (!more) finishRun();
}

void IndexWindow::finishRun() {
    timer_->stop();
    if (!run_) return;
    DatabaseScope scope(this);
    const bool ok = run_->finish() == 1 && !run_->failed();
    writeIndexFields(position_, count_, needsUpdate_);
    status_->setText(QStringLiteral("Indexing finished!"));
    run_.reset();
    setBatchRunning(this, false);
    WSIndexFixup(advice_, 4, position_, count_, 1, 0);
    showAdvice();
    recount_->setEnabled(true);
    if (scheduled_) {
        // A stopped run kept what it wrote, but the job did not end.
        report(ok && !stopped_ ? 1 : 2);
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

void IndexWindow::closeEvent(QCloseEvent* e) {
    if (run_) {
        // The run ends after its final flush; the window goes then.
        stopped_ = true;
        run_->cancel();
        e->ignore();
        return;
    }
    e->accept();
}

// ================================================================ lookup

LookupDialog::LookupDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Find one or more Indexed Words"));
    auto* lay = new QFormLayout(this);
    text = new QLineEdit(this);
    text->setObjectName("Words");
    lay->addRow(QStringLiteral(" Indexed Words(s) Separated by a Space:"), text);
    whole = new QCheckBox(QStringLiteral(" Whole Word Only?"), this);
    whole->setChecked(true);
    starts = new QCheckBox(QStringLiteral(" Starts With...?"), this);
    soundex = new QCheckBox(QStringLiteral(" Soundex?"), this);
    approx = new QCheckBox(QStringLiteral(" Approximate Match?"), this);
    degree = new QSpinBox(this);
    degree->setRange(0, 9);
    degree->setValue(1);
    degree->setVisible(false);
    phrase = new QCheckBox(QStringLiteral(" Phrase Search"), this);
    memos = new QCheckBox(QStringLiteral("Search Memos?"), this);
    memos->setChecked(true);
    for (QCheckBox* c : {whole, starts, soundex, approx}) lay->addRow(c);
    lay->addRow(QStringLiteral("Degree of Mismatch:"), degree);
    lay->addRow(phrase);
    lay->addRow(memos);
    auto* bb = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    lay->addRow(bb);
    connect(bb, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(bb, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(text, &QLineEdit::textChanged, this, &LookupDialog::applyRules);
    connect(soundex, &QCheckBox::toggled, this, [this](bool on) {
        if (on) approx->setChecked(false);
        applyRules();
    });
    connect(approx, &QCheckBox::toggled, this, &LookupDialog::applyRules);
    connect(phrase, &QCheckBox::toggled, this, [this](bool on) {
        if (on) {
            whole->setChecked(true);
            starts->setChecked(true);
            soundex->setChecked(false);
            approx->setChecked(false);
        }
        applyRules();
    });
}

void LookupDialog::applyRules() {
    const bool star = text->text().contains('*');
    const bool ph = phrase->isChecked(), sx = soundex->isChecked(), ap = approx->isChecked();
    whole->setEnabled(!ph && !sx);
    starts->setEnabled(!star && !ph && !sx && !ap);
    soundex->setEnabled(!star && !ph);
    approx->setEnabled(!star && !ph && !sx);
    phrase->setEnabled(!star);
    degree->setVisible(ap && !star);
}

LookupOptions LookupDialog::options() const {
    LookupOptions o;
    const bool star = text->text().contains('*');
    o.wholeWord = whole->isChecked();
    o.startsWith = !star && starts->isChecked() && !phrase->isChecked();
    o.soundex = !star && soundex->isChecked();
    o.approximate = !star && approx->isChecked();
    o.degree = degree->value();
    o.phrase = !star && phrase->isChecked();
    o.searchMemos = memos->isChecked();
    return o;
}

// ================================================================ professional search

ProSearchWindow::ProSearchWindow(QWidget* parent) : QWidget(parent) {
    bindToActiveDatabase(this);
    setWindowTitle(QStringLiteral("Professional Search"));
    // The tables of the search stay open while the window is open.
    OP_CLOSE(OpOpenShared, WordList.number(), MasIdx.number(), MsgText.number(), StopWords.number());
    forumType_ = Mem.ForumType;
    if (forumType_ == 2) OP_CLOSE(OpOpenShared, Mail.number());
    else OP_CLOSE(OpOpenShared, MsgNmbr.number(), Threads.number());
    auto* lay = new QVBoxLayout(this);
    auto* step1 = new QGroupBox(QStringLiteral(" STEP 1 - Input Search Words"), this);
    auto* l1 = new QHBoxLayout(step1);
    hitsList = new QListWidget(step1);
    hitsList->setObjectName("Hits");
    hitsList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    auto* insert = button("Insert", step1, "Insert");
    l1->addWidget(hitsList, 1);
    l1->addWidget(insert);
    auto* step2 = new QGroupBox(QStringLiteral(" STEP 2 - Build Search Expression"), this);
    auto* l2 = new QGridLayout(step2);
    andView = new QListWidget(step2);
    orView = new QListWidget(step2);
    andView->setObjectName("AndList");
    orView->setObjectName("OrList");
    // Words are dragged from one list to the other.
    for (QListWidget* v : {andView, orView}) {
        v->setDragEnabled(true);
        v->setAcceptDrops(true);
        v->setDragDropMode(QAbstractItemView::DragDrop);
        v->viewport()->installEventFilter(this);
    }
    auto* toOr = button("OR ---->", step2, "ToOr");
    auto* toAnd = button("AND ---->", step2, "ToAnd");
    auto* del = button("Delete", step2, "Delete");
    auto* delAll = button("DeleteAll", step2, "DeleteAll");
    auto* notB = button("NOT", step2, "Not");
    l2->addWidget(new QLabel(QStringLiteral("Add Highlighted\nword(s) to a list:"), step2), 0, 0);
    l2->addWidget(toOr, 1, 0);
    l2->addWidget(toAnd, 2, 0);
    l2->addWidget(new QLabel(QStringLiteral("Must Contain One or More of These:"), step2), 0, 1);
    l2->addWidget(orView, 1, 1, 2, 1);
    l2->addWidget(new QLabel(QStringLiteral("Must Contain ALL of These:"), step2), 0, 2);
    l2->addWidget(andView, 1, 2, 2, 1);
    auto* l2b = new QVBoxLayout;
    l2b->addWidget(del);
    l2b->addWidget(delAll);
    l2b->addWidget(notB);
    l2->addLayout(l2b, 1, 3, 2, 1);
    auto* step3 = new QGroupBox(QStringLiteral(" STEP 3 - Get the Messages"), this);
    auto* l3 = new QHBoxLayout(step3);
    auto* get = button("Get Msgs", step3, "GetMsgs");
    auto* next = button("Next Block", step3, "NextBlock");
    auto* cancel = button("Cancel", step3, "Cancel");
    count_ = new QLabel(step3);
    resultView = new QListWidget(step3);
    resultView->setObjectName("Result");
    l3->addWidget(get);
    l3->addWidget(next);
    l3->addWidget(cancel);
    l3->addWidget(count_);
    l3->addWidget(resultView, 1);
    lay->addWidget(step1);
    lay->addWidget(step2);
    lay->addWidget(step3);

    connect(insert, &QPushButton::clicked, this, [this] {
        LookupDialog d(this);
        d.text->setText(q(state.SEARCHSTRING));
        if (d.exec() != QDialog::Accepted) return;
        lookup(d.text->text(), d.options());
    });
    connect(toOr, &QPushButton::clicked, this, [this] { addHighlighted(false); });
    connect(toAnd, &QPushButton::clicked, this, [this] { addHighlighted(true); });
    connect(del, &QPushButton::clicked, this, &ProSearchWindow::deleteSelected);
    connect(delAll, &QPushButton::clicked, this, [this] {
        andList.clear();
        orList.clear();
        phrase.clear();
        state.DIRTYLIST = 1;
        refreshLists();
    });
    connect(notB, &QPushButton::clicked, this, &ProSearchWindow::toggleNot);
    connect(get, &QPushButton::clicked, this, [this] { getMessages(false); });
    connect(next, &QPushButton::clicked, this, [this] { getMessages(true); });
    connect(cancel, &QPushButton::clicked, this, &QWidget::close);
}

ProSearchWindow::~ProSearchWindow() {
    OP_CLOSE(OpClose, WordList.number(), MasIdx.number(), MsgText.number(), StopWords.number());
    if (forumType_ == 2) OP_CLOSE(OpClose, Mail.number());
    else OP_CLOSE(OpClose, MsgNmbr.number(), Threads.number());
}

bool ProSearchWindow::lookup(const QString& text, const LookupOptions& opt) {
    state.SEARCHSTRING = s1252(text);
    std::vector<std::string> words;
    if (!prepareLookup(state.SEARCHSTRING, opt, words)) return false;
    std::vector<LookupHit> found = lookupWords(words, opt);
    if (opt.phrase && text.indexOf('*') < 0) {
        for (const std::string& w : words)
            if (exactWord(w).id == 0) {
                ui().message("No matches", "One of the words in the phrase was not found in any document.|Word: " + w);
                return false;
            }
        andList.clear();
        orList.clear();
        phrase = words;
        for (const std::string& w : words) {
            LookupHit h = exactWord(w);
            andList.push_back(ListEntry{"", h.word, h.count, h.id, false});
        }
        state.DIRTYLIST = 1;
        refreshLists();
        getMessages(false);
        return true;
    }
    hits = found;
    hitsList->clear();
    for (const LookupHit& h : hits) hitsList->addItem(q(h.word) + "\t" + QString::number(h.count));
    return true;
}

void ProSearchWindow::addHighlighted(bool toAnd) {
    auto sel = hitsList->selectedItems();
    if (sel.isEmpty()) {
        ui().message("Nothing Selected", "Please Click on a Search Word to Select it then Try Again");
        return;
    }
    for (QListWidgetItem* it : sel) {
        const LookupHit& h = hits[static_cast<size_t>(hitsList->row(it))];
        auto& list = toAnd ? andList : orList;
        if (std::none_of(list.begin(), list.end(), [&](auto& e) { return e.id == h.id; }))
            list.push_back(ListEntry{"", h.word, h.count, h.id, false});
    }
    phrase.clear();
    state.DIRTYLIST = 1;
    refreshLists();
}

void ProSearchWindow::deleteSelected() {
    int a = andView->currentRow(), o = orView->currentRow();
    if (a < 0 && o < 0) {
        ui().message("Pick One First", "Please Pick an Entry in one of the Lists Above to Delete and Try Again.");
        return;
    }
    if (a >= 0 && a < static_cast<int>(andList.size())) andList.erase(andList.begin() + a);
    else if (o >= 0 && o < static_cast<int>(orList.size())) orList.erase(orList.begin() + o);
    phrase.clear();
    state.DIRTYLIST = 1;
    refreshLists();
}

void ProSearchWindow::moveEntry(bool fromAnd, int row) {
    auto& from = fromAnd ? andList : orList;
    auto& to = fromAnd ? orList : andList;
    if (row < 0 || row >= static_cast<int>(from.size())) return;
    ListEntry e = from[static_cast<size_t>(row)];
    from.erase(from.begin() + row);
    if (std::none_of(to.begin(), to.end(), [&](auto& x) { return x.id == e.id; })) to.push_back(e);
    phrase.clear();
    state.DIRTYLIST = 1;
    refreshLists();
}

bool ProSearchWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
        static_cast<QDropEvent*>(event)->acceptProposedAction();
        return true;
    }
    if (event->type() == QEvent::Drop) {
        auto* drop = static_cast<QDropEvent*>(event);
        QListWidget* target = watched == andView->viewport() ? andView : orView;
        QListWidget* source = qobject_cast<QListWidget*>(drop->source());
        if (source && source != target && (source == andView || source == orView))
            moveEntry(source == andView, source->currentRow());
        drop->setDropAction(Qt::IgnoreAction);
        drop->accept();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void ProSearchWindow::toggleNot() {
    int a = andView->currentRow(), o = orView->currentRow();
    ListEntry* e = a >= 0 && a < static_cast<int>(andList.size())  ? &andList[a]
                   : o >= 0 && o < static_cast<int>(orList.size()) ? &orList[o]
                                                                    : nullptr;
    if (!e) {
        ui().message("Nothing Selected", "Please Click on a Search Word in one of the Lists Above to NOT and Try Again.");
        return;
    }
    e->condition = e->negated() ? "" : "NOT";
    state.DIRTYLIST = 1;
    refreshLists();
}

void ProSearchWindow::refreshLists() {
    auto fill = [](QListWidget* v, const std::vector<ListEntry>& l) {
        v->clear();
        for (const ListEntry& e : l)
            v->addItem((e.negated() ? QStringLiteral("NOT ") : QString()) + q(e.word) + "\t" + QString::number(e.count));
    };
    fill(andView, andList);
    fill(orView, orList);
}

void ProSearchWindow::getMessages(bool nextBlock) {
    if (andList.empty() && orList.empty()) {
        ui().message("No Search Words", "Please use the Insert Button to Locate words of Interest!|Then Try Again.");
        return;
    }
    if (!nextBlock) state.DIRTYLIST = 1;
    DatabaseScope scope(this);
    std::vector<uint32_t> r;
    SearchOutcome o = runProSearch(state, andList, orList, phrase, Mem.ForumType == 2 ? 2 : 1, r, found, true);
    result_ = o == SearchOutcome::Found ? r : std::vector<uint32_t>{};
    if (!storeSearchResult(result_))
        ui().message("Search Result", "The result could not be stored for the browse window.|" + errorText(),
                     Icon::Exclamation);
    resultView->clear();
    for (uint32_t id : result_) resultView->addItem(QString::number(id));
    count_->setText(QStringLiteral("Messages Found: %1").arg(result_.size()));
    emit searchDone(static_cast<int>(result_.size()));
    // The browse of this database shows the result on its search tab now.
    if (BrowseWindow* b = openBrowseOf(Mem.ForumNumber)) b->showSearchResult(found);
}

// ================================================================ word list

WordListWindow::WordListWindow(QWidget* parent) : QWidget(parent) {
    bindToActiveDatabase(this);
    setWindowTitle(q(" Word List [" + Mem.Description + "]"));
    auto* lay = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("List of indexed words"), this);
    table = new QTableWidget(this);
    table->setObjectName("Words");
    table->setColumnCount(2);
    table->setHorizontalHeaderLabels({QStringLiteral(" Indexed Word"), QStringLiteral(" Count")});
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->horizontalHeader()->setStretchLastSection(true);
    table->verticalHeader()->hide();
    auto* byCount = new QRadioButton(QStringLiteral("By &Count"), this);
    auto* byWord = new QRadioButton(QStringLiteral("By &Word"), this);
    byCount->setToolTip(QStringLiteral("Sort by number of related messages"));
    byWord->setToolTip(QStringLiteral("Sort alphabetically by word"));
    byCount->setChecked(true);
    auto* del = button("&Delete", this, "Delete");
    del->setToolTip(QStringLiteral("Mark highlighted word for deletion"));
    auto* row = new QHBoxLayout;
    row->addWidget(byCount);
    row->addWidget(byWord);
    row->addStretch();
    row->addWidget(del);
    auto* locator = new QLineEdit(this);
    locator->setObjectName("Locator");
    locator->setPlaceholderText(QStringLiteral("Type a count or a word"));
    lay->addWidget(label);
    lay->addWidget(locator);
    lay->addWidget(table);
    lay->addLayout(row);
    connect(locator, &QLineEdit::textEdited, this, &WordListWindow::locate);
    connect(byCount, &QRadioButton::toggled, this, [this](bool on) { sortBy(on); });
    connect(del, &QPushButton::clicked, this, &WordListWindow::toggleCurrent);
    marks.open();
    words_ = marks.words(true);
    fill();
}

void WordListWindow::sortBy(bool byCount) {
    byCount_ = byCount;
    words_ = marks.words(byCount);
    fill();
}

void WordListWindow::fill() {
    table->setRowCount(static_cast<int>(words_.size()));
    for (size_t i = 0; i < words_.size(); ++i) {
        auto* w = new QTableWidgetItem(q(words_[i].word));
        auto* c = new QTableWidgetItem(QString::number(words_[i].count));
        if (marks.marked(words_[i].id)) {
            w->setForeground(Qt::red);
            c->setForeground(Qt::red);
        }
        table->setItem(static_cast<int>(i), 0, w);
        table->setItem(static_cast<int>(i), 1, c);
    }
}

void WordListWindow::locate(const QString& typed) {
    if (typed.isEmpty() || words_.empty()) return;
    size_t at = words_.size() - 1;
    if (byCount_) {
        bool ok = false;
        const long long n = typed.toLongLong(&ok);
        if (!ok) return;
        auto it = std::find_if(words_.begin(), words_.end(), [&](auto& w) { return w.count <= n; });
        if (it != words_.end()) at = static_cast<size_t>(it - words_.begin());
    } else {
        const std::string w = upper(s1252(typed));
        auto it = std::lower_bound(words_.begin(), words_.end(), w,
                                   [](const IndexedWord& a, const std::string& b) { return a.word < b; });
        if (it != words_.end()) at = static_cast<size_t>(it - words_.begin());
    }
    table->setCurrentCell(static_cast<int>(at), 0);
    table->scrollToItem(table->item(static_cast<int>(at), 0));
}

void WordListWindow::toggleCurrent() {
    int r = table->currentRow();
    if (r < 0 || r >= static_cast<int>(words_.size())) return;
    marks.toggle(words_[static_cast<size_t>(r)].id);
    const QBrush b = marks.marked(words_[static_cast<size_t>(r)].id) ? QBrush(Qt::red) : table->palette().text();
    table->item(r, 0)->setForeground(b);
    table->item(r, 1)->setForeground(b);
}

void WordListWindow::closeEvent(QCloseEvent* e) {
    DatabaseScope scope(this);
    // Marks that cannot be written now (the indexer is at work) keep the
    // window open, so that they are not lost.
    if (marks.close()) e->accept();
    else e->ignore();
}

// ================================================================ ignore list

StopListWindow::StopListWindow(QWidget* parent) : QWidget(parent) {
    setWindowTitle(q(" Ignore List [" + std::string("All Databases") + "]"));
    auto* lay = new QVBoxLayout(this);
    lay->addWidget(new QLabel(QStringLiteral("List of non index words"), this));
    list = new QListWidget(this);
    list->setObjectName("StopWords");
    lay->addWidget(list);
    auto* row = new QHBoxLayout;
    auto* ins = button("&Insert", this, "Insert");
    auto* chg = button("&Change", this, "Change");
    auto* del = button("&Delete", this, "Delete");
    for (auto* b : {ins, chg, del}) row->addWidget(b);
    lay->addLayout(row);
    connect(ins, &QPushButton::clicked, this, [this] { edit(1); });
    connect(chg, &QPushButton::clicked, this, [this] { edit(2); });
    connect(del, &QPushButton::clicked, this, [this] { edit(3); });
    seedStopWords();
    reload();
}

void StopListWindow::reload() {
    list->clear();
    for (const std::string& w : stopWordList()) list->addItem(q(w));
}

void StopListWindow::edit(int request) {
    QString current = list->currentItem() ? list->currentItem()->text() : QString();
    if (request != 1 && current.isEmpty()) return;
    static const char* titles[] = {"", " Add New Non Index Word", " Update Non Index Word", " Delete Non Index Word"};
    static const char* accepts[] = {"", " Accept New Non Index Word", " Accept update of Non Index Word",
                                    " Confirm deletion of Non Index Word"};
    QDialog d(this);
    d.setWindowTitle(QString::fromLatin1(titles[request]));
    auto* f = new QFormLayout(&d);
    auto* field = new QLineEdit(request == 1 ? QString() : current, &d);
    field->setMaxLength(40);
    field->setReadOnly(request == 3);
    f->addRow(QStringLiteral(" Non Index Word"), field);
    auto* ok = new QPushButton(QString::fromLatin1(accepts[request]), &d);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), &d);
    auto* row = new QHBoxLayout;
    row->addWidget(ok);
    row->addWidget(cancel);
    f->addRow(row);
    connect(cancel, &QPushButton::clicked, &d, &QDialog::reject);
    connect(ok, &QPushButton::clicked, &d, [&] {
        if (field->text().trimmed().isEmpty()) {
            QApplication::beep();
            return;
        }
        bool done = request == 1   ? addStopWord(s1252(field->text()))
                    : request == 2 ? changeStopWord(s1252(current), s1252(field->text()))
                                   : deleteStopWord(s1252(current));
        if (done) d.accept();
    });
    if (d.exec() == QDialog::Accepted) reload();
}

// ================================================================ word definition wizard

WordDefWizard::WordDefWizard(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Word Index Setup Wizard"));
    if (!readWordIndexSettings(settings_)) ui().message("Config Problem", "Unable to read configuration file.");
    auto* lay = new QVBoxLayout(this);
    auto* tabs = new QTabWidget(this);
    lay->addWidget(new QLabel(QStringLiteral("currently indexed for PRO Search: %1").arg(indexedDatabaseCount()), this));
    lay->addWidget(tabs);

    auto* pNumbers = new QWidget;
    auto* ln = new QVBoxLayout(pNumbers);
    numbers = new QCheckBox(QStringLiteral("Index numbers"), pNumbers);
    numbers->setChecked(settings_.indexNumbers == 1);
    ln->addWidget(numbers);
    ln->addStretch();
    tabs->addTab(pNumbers, QStringLiteral("Numbers"));

    auto* pFooters = new QWidget;
    auto* lf = new QVBoxLayout(pFooters);
    forumFooters = new QCheckBox(QStringLiteral("Index the footers of forum messages"), pFooters);
    newsFooters = new QCheckBox(QStringLiteral("Index the footers of newsgroup messages"), pFooters);
    forumFooters->setChecked(settings_.indexForumFooters != 0);
    newsFooters->setChecked(settings_.indexNewsFooters != 0);
    lf->addWidget(forumFooters);
    lf->addWidget(newsFooters);
    lf->addStretch();
    tabs->addTab(pFooters, QStringLiteral("Footers"));

    auto* pRules = new QWidget;
    auto* lr = new QVBoxLayout(pRules);
    sets = new QComboBox(pRules);
    sets->setEditable(true);
    sets->addItem(QStringLiteral("Current Selection"));
    for (const std::string& n : savedRuleSets())
        if (n != "Current Selection") sets->addItem(q(n));
    table = new QTableWidget(256, 4, pRules);
    table->setObjectName("Rules");
    table->setHorizontalHeaderLabels({"Code", "Start", "Inside", "End"});
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    auto* save = button("Save && Reindex", pRules, "SaveReindex");
    lr->addWidget(sets);
    lr->addWidget(table);
    lr->addWidget(save);
    tabs->addTab(pRules, QStringLiteral("Words"));
    connect(table, &QTableWidget::cellClicked, this, [this](int r, int c) {
        if (c >= 1) toggleCell(r, c - 1);
    });
    connect(sets, &QComboBox::currentIndexChanged, this, [this](int index) {
        const QString name = sets->itemText(index);
        RuleSet r = name == QStringLiteral("Current Selection") ? RuleSet{} : savedRuleSet(s1252(name));
        loadRules(r.size() == 256 ? r : currentRules());
    });
    connect(save, &QPushButton::clicked, this, [this] { saveAndReindex(); });
    loadRules(currentRules());

    auto* pCommon = new QWidget;
    auto* lc = new QVBoxLayout(pCommon);
    stopForum = new QCheckBox(QStringLiteral("Move very common words of forum databases to the ignore list"), pCommon);
    stopNews = new QCheckBox(QStringLiteral("Move very common words of newsgroup databases to the ignore list"), pCommon);
    stopMail = new QCheckBox(QStringLiteral("Move very common words of mail databases to the ignore list"), pCommon);
    stopForum->setChecked(settings_.autoStopForum == 1);
    stopNews->setChecked(settings_.autoStopNews == 1);
    stopMail->setChecked(settings_.autoStopMail == 1);
    for (auto* c : {stopForum, stopNews, stopMail}) lc->addWidget(c);
    lc->addStretch();
    tabs->addTab(pCommon, QStringLiteral("Common Words"));

    auto* pPause = new QWidget;
    auto* lp = new QFormLayout(pPause);
    pause = new QSpinBox(pPause);
    pause->setRange(0, 100000000);
    pause->setValue(settings_.searchPauseCount);
    lp->addRow(QStringLiteral("Messages searched before asking to continue:"), pause);
    tabs->addTab(pPause, QStringLiteral("Search Pause"));

    auto* row = new QHBoxLayout;
    auto* fin = button("&Finish", this, "Finish");
    auto* cancel = button("Cancel", this, "Cancel");
    row->addStretch();
    row->addWidget(fin);
    row->addWidget(cancel);
    lay->addLayout(row);
    connect(fin, &QPushButton::clicked, this, [this] {
        if (finish()) accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void WordDefWizard::loadRules(const RuleSet& r) {
    rules = r;
    auto yn = [](uint8_t v) { return v ? QStringLiteral("no") : QStringLiteral("yes"); };
    for (int i = 0; i < 256; ++i) {
        table->setItem(i, 0, new QTableWidgetItem(QString::number(i)));
        table->setItem(i, 1, new QTableWidgetItem(yn(rules[i].start)));
        table->setItem(i, 2, new QTableWidgetItem(yn(rules[i].inside)));
        table->setItem(i, 3, new QTableWidgetItem(yn(rules[i].end)));
    }
}

void WordDefWizard::toggleCell(int row, int column) {
    if (row < 0 || row > 255) return;
    toggleRule(rules[static_cast<size_t>(row)], column);
    auto yn = [](uint8_t v) { return v ? QStringLiteral("no") : QStringLiteral("yes"); };
    table->item(row, 1)->setText(yn(rules[row].start));
    table->item(row, 2)->setText(yn(rules[row].inside));
    table->item(row, 3)->setText(yn(rules[row].end));
}

bool WordDefWizard::saveAndReindex() {
    if (!rulesDiffer(rules, currentRules())) {
        ui().message("No Changes", "Nothing has changed!|No save needed.", Icon::Information);
        return false;
    }
    std::string name = s1252(sets->currentText());
    if (ui().ask("Save Word Definition",
                 "This will save the set: |" + name + "|as your current word definition.|Is that what you want to do?",
                 BtnYes | BtnNo, BtnNo) != BtnYes)
        return false;
    if (indexedDatabaseCount() > 0 &&
        ui().ask("Save and Reindex",
                 "Are you SURE you want to save and REINDEX?|It may take hours!|Searching will not work until you "
                 "reindex.",
                 BtnYes | BtnNo, BtnNo) != BtnYes)
        return false;
    if (name != "Current Selection") saveRuleSet(name, rules);
    return applyRulesAndDropIndexes(rules);
}

bool WordDefWizard::finish() {
    settings_.indexNumbers = numbers->isChecked() ? 1 : 0;
    settings_.indexForumFooters = forumFooters->isChecked() ? 1 : 0;
    settings_.indexNewsFooters = newsFooters->isChecked() ? 1 : 0;
    settings_.autoStopForum = stopForum->isChecked() ? 1 : 0;
    settings_.autoStopNews = stopNews->isChecked() ? 1 : 0;
    settings_.autoStopMail = stopMail->isChecked() ? 1 : 0;
    settings_.searchPauseCount = std::max(1000, pause->value());
    pause->setValue(settings_.searchPauseCount);
    if (!writeWordIndexSettings(settings_)) {
        ui().message("Not Saved", "Unable to save changes.");
        return false;
    }
    return true;
}

namespace {
bool indexed() { return wordIndexHasRows(); }

const bool registered = [] {
    registerProcedure("AutoIndex", [](QWidget* p) -> QWidget* { return new IndexWindow(p); });
    registerProcedure("SetIndex", [](QWidget* p) -> QWidget* { return new WordDefWizard(p); });
    registerProcedure("SearchWz", [](QWidget* p) -> QWidget* {
        if (!indexed()) {
            ui().message(" Database not indexed!",
                         "You cannot use the Professional search if the database is not indexed. Please run Build "
                         "Word Index from the Indexing menu.");
            // Nothing to show: a window that goes at once.
            auto* w = new QWidget(p);
            QTimer::singleShot(0, w, &QWidget::close);
            return w;
        }
        return new ProSearchWindow(p);
    });
    registerProcedure("WordList", [](QWidget* p) -> QWidget* { return new WordListWindow(p); });
    registerProcedure("StopList", [](QWidget* p) -> QWidget* { return new StopListWindow(p); });
    return true;
}();
} // namespace

} // namespace qb
