#include "app/browsewindow.h"

#include "app/layout.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTabBar>
#include <QTextBlock>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>

#include "app/batchwindow.h"
#include "app/boundwindows.h"
#include "app/browsemodel.h"
#include "app/procedures.h"
#include "app/topic_windows.h"
#include "core/access.h"
#include "core/dates.h"
#include "core/globals.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/ui.h"
#include "reading/render.h"
#include "wordsearch/prosearch.h"

namespace qb {

namespace {

std::function<bool(uint32_t)>& removalHandler() {
    static std::function<bool(uint32_t)> h;
    return h;
}

QString q(const std::string& cp1252) { return QString::fromStdString(toUtf8(cp1252)); }
std::string cp(const QString& s) { return fromUtf8(s.toStdString()); }

const char* const kMailTabNames[kMailTabs] = {"Date", "Subject", "Partner", "Sender",
                                              "Receiver", "Key word", "Topic", "Search result"};
const char* const kMessageTabNames[kMessageTabs] = {"Number", "Thread", "Section", "Sender", "Receiver",
                                                    "Date", "Key word", "Topic", "Search result"};

// A day number from "yyyy-mm-dd", "dd-mm-yyyy" or "dd.mm.yyyy"; 0 when not a date.
int32_t parseDay(const std::string& s) {
    int a = 0, b = 0, c = 0;
    char s1 = 0, s2 = 0;
    if (std::sscanf(s.c_str(), "%d%c%d%c%d", &a, &s1, &b, &s2, &c) != 5) return 0;
    if (a > 31) return dayNumber(a, b, c);
    return dayNumber(fullYear(c), b, a);
}

bool startsWithNoCase(const std::string& text, const std::string& prefix) {
    if (prefix.size() > text.size()) return false;
    return compare1252(std::string_view(text).substr(0, prefix.size()), prefix, true) == 0;
}

std::string personLabel(const PersonRec& p, uint32_t count) {
    std::string n = p.LASTNAME.str();
    if (!p.FIRSTNAME.empty()) n += ", " + p.FIRSTNAME.str();
    if (n.empty()) n = p.ADDRESS.str();
    return n + " (" + std::to_string(count) + ")";
}

} // namespace

void BrowseWindow::setDatabaseRemoval(std::function<bool(uint32_t)> handler) { removalHandler() = std::move(handler); }

BrowseWindow* openBrowse() {
    if (auto* w = dynamic_cast<BrowseWindow*>(procedureWindow("BrowseMail"))) return w;
    return dynamic_cast<BrowseWindow*>(procedureWindow("BrowseMsgNmbr"));
}

BrowseWindow* openBrowseOf(uint32_t forumId) {
    for (const char* name : {"BrowseMail", "BrowseMsgNmbr"}) {
        auto* w = dynamic_cast<BrowseWindow*>(procedureWindow(name));
        if (w && boundDatabase(w).id == forumId) return w;
    }
    return nullptr;
}

BrowseWindow::BrowseWindow(bool mail, QWidget* parent) : QWidget(parent), mail_(mail) {
    bindToActiveDatabase(this);
    tables_ = browseTables(mail_);
    for (int n : tables_) OP_CLOSE(OpOpenShared, n);
    build();
    restoreWindowPos(1, layoutWindow(), this);
    restoreListColumns(layoutList(), list_->horizontalHeader());
    applyView(0);
    if (Mem.ForumCheck == 2) QTimer::singleShot(0, this, [this] { askDeletion(); });
}

BrowseWindow::~BrowseWindow() {
    storeWindowPos(1, layoutWindow(), this);
    storeListColumns(layoutList(), list_->horizontalHeader());
    for (int n : tables_) OP_CLOSE(OpClose, n);
}

void BrowseWindow::build() {
    setWindowTitle(QString(mail_ ? "Mail - " : "Messages - ") + q(Mem.Description));
    auto* top = new QVBoxLayout(this);

    tabs_ = new QTabBar(this);
    const int count = mail_ ? kMailTabs : kMessageTabs;
    for (int i = 0; i < count; ++i) {
        tabs_->addTab(mail_ ? kMailTabNames[i] : kMessageTabNames[i]);
        tabs_->setTabToolTip(i, mail_ ? kMailTabHints[i] : kMessageTabHints[i]);
    }
    connect(tabs_, &QTabBar::currentChanged, this, [this](int i) { setTab(i + 1); });
    top->addWidget(tabs_);

    auto* loc = new QHBoxLayout;
    caption_ = new QLabel(this);
    caption_->setMinimumWidth(90);
    locator_ = new QLineEdit(this);
    locator_->setMaximumWidth(220);
    connect(locator_, &QLineEdit::returnPressed, this, &BrowseWindow::locatorEntered);
    choiceView_ = new QLabel(this);
    prevButton_ = new QPushButton(this);
    nextButton_ = new QPushButton(this);
    clearButton_ = new QPushButton("Clear", this);
    connect(prevButton_, &QPushButton::clicked, this, [this] { stepChoice(false); });
    connect(nextButton_, &QPushButton::clicked, this, [this] { stepChoice(true); });
    connect(clearButton_, &QPushButton::clicked, this, &BrowseWindow::clearChoice);
    topicList_ = new QPushButton("List of Topics", this);
    topicList_->setToolTip("Choose the topic from the list");
    connect(topicList_, &QPushButton::clicked, this, &BrowseWindow::lookUpTopic);
    loc->addWidget(caption_);
    loc->addWidget(locator_);
    loc->addWidget(choiceView_, 1);
    loc->addWidget(prevButton_);
    loc->addWidget(nextButton_);
    loc->addWidget(clearButton_);
    loc->addWidget(topicList_);
    top->addLayout(loc);

    auto* split = new QSplitter(Qt::Vertical, this);
    model_ = new BrowseModel(mail_, this);
    list_ = new BrowseListView(split);
    list_->setBrowseModel(model_);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this, &BrowseWindow::contextMenu);
    connect(list_, &BrowseListView::currentMessageChanged, this, &BrowseWindow::messageChanged);
    list_->horizontalHeader()->resizeSection(0, mail_ ? 90 : 80);
    list_->horizontalHeader()->resizeSection(1, mail_ ? 50 : 90);
    list_->horizontalHeader()->resizeSection(2, 150);
    list_->horizontalHeader()->resizeSection(3, 150);

    auto* viewerBox = new QWidget(split);
    auto* vl = new QVBoxLayout(viewerBox);
    vl->setContentsMargins(0, 0, 0, 0);
    viewer_ = new QPlainTextEdit(viewerBox);
    viewer_->setReadOnly(true);
    QFont mono("Monospace");
    mono.setStyleHint(QFont::TypeWriter);
    viewer_->setFont(mono);
    vl->addWidget(viewer_);
    auto* pl = new QHBoxLayout;
    pagePrev_ = new QPushButton("Previous page", viewerBox);
    pageNext_ = new QPushButton("Next page", viewerBox);
    pageLabel_ = new QLabel(viewerBox);
    connect(pagePrev_, &QPushButton::clicked, this, [this] { setPage(page_ - 1); });
    connect(pageNext_, &QPushButton::clicked, this, [this] { setPage(page_ + 1); });
    pl->addWidget(pagePrev_);
    pl->addWidget(pageNext_);
    pl->addWidget(pageLabel_);
    pl->addStretch(1);
    vl->addLayout(pl);
    split->addWidget(list_);
    split->addWidget(viewerBox);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    top->addWidget(split, 1);

    auto* bottom = new QHBoxLayout;
    bookmark_ = new QPushButton("Set BookMark", this);
    connect(bookmark_, &QPushButton::clicked, this, &BrowseWindow::bookmarkButton);
    auto* search = new QPushButton("Standard search", this);
    connect(search, &QPushButton::clicked, this, &BrowseWindow::openSearch);
    auto* copy = new QPushButton("Copy", this);
    connect(copy, &QPushButton::clicked, this, &BrowseWindow::copyToClipboard);
    bottom->addWidget(bookmark_);
    bottom->addWidget(search);
    if (!mail_) {
        auto* tree = new QPushButton("Thread tree", this);
        connect(tree, &QPushButton::clicked, this, &BrowseWindow::openTree);
        bottom->addWidget(tree);
    }
    bottom->addWidget(copy);
    auto* batch = new QPushButton("Batch...", this);
    batch->setObjectName("BatchButton");
    connect(batch, &QPushButton::clicked, this, &BrowseWindow::openBatch);
    bottom->addWidget(batch);
    auto* classify = new QPushButton("Classify", this);
    classify->setToolTip("Attach topics to the highlighted message");
    connect(classify, &QPushButton::clicked, this, [] { startProcedure("Classify"); });
    bottom->addWidget(classify);
    bottom->addStretch(1);
    countLabel_ = new QLabel(this);
    bottom->addWidget(countLabel_);
    auto* close = new QPushButton("Close", this);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    bottom->addWidget(close);
    top->addLayout(bottom);
    resize(900, 640);
}

// ---------------------------------------------------------------- views

ViewSpec BrowseWindow::currentSpec() const { return mail_ ? mailView(tab_, choice_) : messageView(tab_, choice_); }

void BrowseWindow::applyView(uint32_t keepId) {
    model_->setView(currentSpec());
    int row = keepId ? model_->locateId(keepId) : -1;
    list_->selectRow(row >= 0 ? row : 0);
    if (model_->rowCount() == 0) messageChanged();
    updateLabels();
}

void BrowseWindow::setTab(int tab) {
    const int count = mail_ ? kMailTabs : kMessageTabs;
    if (tab < 1 || tab > count) return;
    const uint32_t keep = currentId();
    tab_ = tab;
    if (tabs_->currentIndex() != tab - 1) {
        QSignalBlocker block(tabs_);
        tabs_->setCurrentIndex(tab - 1);
    }
    locator_->clear();
    applyView(keep);
}

void BrowseWindow::updateLabels() {
    caption_->setText(QString::fromStdString(mail_ ? mailLocatorCaption(tab_) : messageLocatorCaption(tab_)));
    QString prev, next;
    if (mail_) {
        if (tab_ == 3) prev = "Previous Mail Partner", next = "Next Mail Partner";
        if (tab_ == 4) prev = "Previous Sender", next = "Next Sender";
        if (tab_ == 5) prev = "Previous Receiver", next = "Next Receiver";
    } else {
        if (tab_ == 2) prev = "Previous Thread", next = "Next Thread";
        if (tab_ == 4) prev = "Previous Sender", next = "Next Sender";
        if (tab_ == 5) prev = "Previous Receiver", next = "Next Receiver";
    }
    prevButton_->setText(prev);
    nextButton_->setText(next);
    prevButton_->setVisible(!prev.isEmpty());
    nextButton_->setVisible(!next.isEmpty());
    clearButton_->setVisible(mail_ ? (tab_ >= 3 && tab_ <= 5) : (tab_ >= 2 && tab_ <= 5));
    topicList_->setVisible(tab_ == (mail_ ? 7 : 8));
    choiceView_->setText(choiceText());
    countLabel_->setText(QString("Records: %1").arg(static_cast<qlonglong>(model_->list().headerCount())));
}

QString BrowseWindow::choiceText() const { return choiceLabel_[tab_]; }

uint32_t BrowseWindow::currentId() const {
    const BrowseRow* r = model_->rowAt(list_->currentRowIndex());
    return r ? r->id : 0;
}

std::optional<ViewRow> BrowseWindow::currentRow() const {
    const BrowseRow* r = model_->rowAt(list_->currentRowIndex());
    if (!r) return std::nullopt;
    return r->row;
}

// ---------------------------------------------------------------- choices

void BrowseWindow::choosePerson(int tab, uint32_t personId, const std::string& alpha, const std::string& label) {
    if (mail_ && tab == 3) choice_.partnerId = personId, choice_.partnerAlpha = alpha.substr(0, 25);
    else if (tab == 4) choice_.senderId = personId, choice_.senderAlpha = alpha.substr(0, 10);
    else if (tab == 5) choice_.receiverId = personId, choice_.receiverAlpha = alpha.substr(0, 10);
    else return;
    choiceLabel_[tab] = q(label);
    if (tab_ == tab) applyView(0);
}

void BrowseWindow::chooseThread(uint32_t threadId, const std::string& alpha, const std::string& label) {
    choice_.threadId = threadId;
    choice_.threadAlpha = alpha;
    choiceLabel_[2] = q(label);
    if (tab_ == 2) applyView(0);
}

void BrowseWindow::chooseSection(uint32_t sectionId, const std::string& label) {
    choice_.sectionId = sectionId;
    choiceLabel_[3] = q(label);
    if (tab_ == 3) applyView(0);
}

void BrowseWindow::chooseWord(const std::string& word) {
    const int tab = mail_ ? 6 : 7;
    choice_.wordId = 0;
    if (std::find(tables_.begin(), tables_.end(), WordList.number()) == tables_.end()) {
        // The word index is opened only when it is asked for.
        OP_CLOSE(OpOpenShared, WordList.number(), MasIdx.number());
        tables_.push_back(WordList.number());
        tables_.push_back(MasIdx.number());
    }
    if (WordList.isOpen() && !rtrim(word).empty()) {
        const WordListRec saved = WOR;
        WordList.clearBuffer();
        WOR.THEWORD = word.substr(0, 40);
        if (WordList.get(WOR_by_theWord)) choice_.wordId = static_cast<uint32_t>(WOR.WORDID);
        WOR = saved;
    }
    if (choice_.wordId == 0) locator_->clear();
    choiceLabel_[tab] = choice_.wordId ? q(word) : QString();
    if (tab_ == tab) applyView(0);
}

void BrowseWindow::chooseTopic(const std::string& topic) {
    const int tab = mail_ ? 7 : 8;
    choice_.topicId = 0;
    if (Codes.isOpen() && !rtrim(topic).empty()) {
        const CodesRec saved = COD;
        Codes.clearBuffer();
        COD.TYPE = 2;
        COD.INDEX = topic.substr(0, 40);
        if (Codes.get(COD_ClassKey)) choice_.topicId = COD.ID;
        COD = saved;
    }
    if (choice_.topicId == 0) locator_->clear();
    choiceLabel_[tab] = choice_.topicId ? q(topic) : QString();
    if (tab_ == tab) applyView(0);
}

void BrowseWindow::lookUpTopic() {
    EntryListDialog d(kTopicEntry, this);
    if (d.exec() != QDialog::Accepted || !d.chosen()) return;
    locator_->setText(q(d.chosen()->name));
    chooseTopic(d.chosen()->name);
}

void BrowseWindow::clearChoice() {
    if (mail_ && tab_ == 3) choice_.partnerId = 0, choice_.partnerAlpha.clear();
    else if (tab_ == 4) choice_.senderId = 0, choice_.senderAlpha.clear();
    else if (tab_ == 5) choice_.receiverId = 0, choice_.receiverAlpha.clear();
    else if (!mail_ && tab_ == 2) choice_.threadId = 0, choice_.threadAlpha.clear();
    else if (!mail_ && tab_ == 3) choice_.sectionId = 0;
    else return;
    choiceLabel_[tab_].clear();
    locator_->clear();
    applyView(currentId());
}

bool BrowseWindow::stepChoice(bool forward) {
    if (mail_ && tab_ >= 3 && tab_ <= 5) {
        const int key = tab_ == 3 ? MAI_PairKey : tab_ == 4 ? MAI_FromKey : MAI_ToKey;
        const uint32_t id = tab_ == 3 ? choice_.partnerId : tab_ == 4 ? choice_.senderId : choice_.receiverId;
        const std::string& a = tab_ == 3 ? choice_.partnerAlpha : tab_ == 4 ? choice_.senderAlpha : choice_.receiverAlpha;
        auto s = stepPerson(Mail, key, a, id, forward);
        if (!s) return false;
        PersonRec p{};
        p.LASTNAME = s->lastName;
        p.FIRSTNAME = s->firstName;
        choosePerson(tab_, s->id, s->alpha, personLabel(p, s->count));
        return true;
    }
    if (!mail_ && (tab_ == 4 || tab_ == 5)) {
        const int key = tab_ == 4 ? MSG_FromKey : MSG_ToKey;
        const uint32_t id = tab_ == 4 ? choice_.senderId : choice_.receiverId;
        const std::string& a = tab_ == 4 ? choice_.senderAlpha : choice_.receiverAlpha;
        auto s = stepPerson(MsgNmbr, key, a, id, forward);
        if (!s) return false;
        PersonRec p{};
        p.LASTNAME = s->lastName;
        p.FIRSTNAME = s->firstName;
        choosePerson(tab_, s->id, s->alpha, personLabel(p, s->count));
        return true;
    }
    if (!mail_ && tab_ == 2) {
        auto s = stepThread(choice_.threadId, choice_.sectionId, forward);
        if (!s) return false;
        std::string label = s->heading;
        if (!choice_.sectionId) label += " (" + std::to_string(s->count) + ")";
        chooseThread(s->id, s->alpha, label);
        return true;
    }
    return false;
}

void BrowseWindow::locatorEntered() {
    const std::string text = cp(locator_->text().trimmed());
    if (mail_) {
        switch (tab_) {
        case 1: {
            const int32_t d = parseDay(text);
            if (!d) return;
            MailRec r{};
            setKeyBound(Mail, MAI_DateKey, &r, 0, 3, false);
            r.DATE = d;
            const int row = model_->seek(&r);
            list_->selectRow(row);
            return;
        }
        case 2: {
            MailRec r{};
            setKeyBound(Mail, MAI_SubjectKey, &r, 0, 4, false);
            r.SUBJECT = text;
            list_->selectRow(model_->seek(&r));
            return;
        }
        case 6: chooseWord(text); return;
        case 7: chooseTopic(text); return;
        default: break;
        }
    } else {
        switch (tab_) {
        case 1: {
            MsgNmbrRec r{};
            r.MSGNUMBER = static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
            if (!r.MSGNUMBER) return;
            list_->selectRow(model_->seek(&r));
            return;
        }
        case 6: {
            const int32_t d = parseDay(text);
            if (!d) return;
            MsgNmbrRec r{};
            setKeyBound(MsgNmbr, MSG_DateKey, &r, 0, 2, false);
            r.DATE = d;
            list_->selectRow(model_->seek(&r));
            return;
        }
        case 2: {
            if (!Threads.isOpen() || text.empty()) return;
            const ThreadsRec saved = THR;
            Threads.clearBuffer();
            if (choice_.sectionId) THR.SECSYSID = choice_.sectionId;
            THR.ALPHA = text.substr(0, 10);
            Threads.setFrom(choice_.sectionId ? THR_SecKey : THR_AlphaKey);
            bool found = Threads.next() && startsWithNoCase(std::string(rtrim(THR.heading())), text) &&
                         (!choice_.sectionId || THR.SECSYSID == choice_.sectionId);
            if (found) {
                std::string label = std::string(rtrim(THR.heading())) + " (" + std::to_string(THR.MSGCOUNT) + ")";
                ThreadsRec t = THR;
                THR = saved;
                chooseThread(t.THREADNUMBER, t.ALPHA.str(), label);
            } else {
                THR = saved;
                locator_->clear();
            }
            return;
        }
        case 3: {
            if (!Sections.isOpen() || text.empty()) return;
            const SectionsRec saved = SEC;
            bool found = false;
            SectionsRec hit{};
            Sections.set(SEC_SectionKey);
            const bool numeric = text.find_first_not_of("0123456789") == std::string::npos;
            while (Sections.next()) {
                if (numeric ? std::to_string(SEC.SECTIONNUMBER) == text : startsWithNoCase(SEC.DESCRIPTION.str(), text)) {
                    hit = SEC;
                    found = true;
                    break;
                }
            }
            SEC = saved;
            if (found) chooseSection(hit.SECSYSID, std::to_string(hit.SECTIONNUMBER) + " " + hit.DESCRIPTION.str());
            else locator_->clear();
            return;
        }
        case 7: chooseWord(text); return;
        case 8: chooseTopic(text); return;
        default: break;
        }
    }
    // The person tabs: the first person whose last name begins with the text.
    if (tab_ >= (mail_ ? 3 : 4) && tab_ <= 5 && Person.isOpen() && !text.empty()) {
        const PersonRec saved = PER;
        Person.clearBuffer();
        PER.LASTNAME = text;
        Person.setFrom(PER_NameKey);
        bool found = Person.next() && startsWithNoCase(PER.LASTNAME.str(), text);
        PersonRec p = PER;
        PER = saved;
        if (!found) {
            locator_->clear();
            return;
        }
        uint32_t count = tab_ == 3 ? p.FROMCOUNT + p.TOCOUNT : tab_ == 4 ? p.FROMCOUNT : p.TOCOUNT;
        choosePerson(tab_, p.PERSONID, p.LASTNAME.str(), personLabel(p, count));
    }
}

// ---------------------------------------------------------------- viewer

void BrowseWindow::messageChanged() {
    const BrowseRow* r = model_->rowAt(list_->currentRowIndex());
    const uint32_t id = r ? r->id : 0;
    if (id == shownId_ && id != 0) return;
    shownId_ = id;
    pages_.clear();
    page_ = 0;
    if (r && r->found) {
        std::string memo;
        if (MsgText.isOpen()) {
            const MsgTextRec saved = TXT;
            const std::string savedMemo = TXT_MsgText;
            MsgText.clearBuffer();
            TXT.MSGNUMBER = id;
            if (MsgText.get(TXT_IdKey)) memo = TXT_MsgText;
            TXT = saved;
            TXT_MsgText = savedMemo;
        }
        const std::string subject = r->cols.size() > 4 ? r->cols[4] : std::string();
        pages_ = viewerPages(memo, &subject);
        if ((highlight_ && highlightId_ == id) || (!foundWords_.empty() && tab_ == (mail_ ? 8 : 9))) {
            for (size_t p = 0; p < pages_.size(); ++p)
                if (!hitsOnPage(pages_[p]).empty()) {
                    page_ = static_cast<int>(p);
                    break;
                }
        }
    }
    showPage();
    if (id) emit messageShown(id);
}

void BrowseWindow::setPage(int p) {
    if (p < 0 || p >= pageCount()) return;
    page_ = p;
    showPage();
}

void BrowseWindow::showPage() {
    const std::string text = page_ < pageCount() ? pages_[static_cast<size_t>(page_)] : std::string();
    // The viewer takes LF line ends; a CR LF would make two line breaks.
    std::string display;
    display.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) display += text[i];
    viewer_->setPlainText(q(display));
    QList<QTextEdit::ExtraSelection> marks;
    const auto hits = hitsOnPage(text);
    if (!hits.empty()) {
        // One character of the page is one character of the document, but the
        // viewer counts a CR LF as one line break.
        std::vector<size_t> docPos(text.size() + 1, 0);
        size_t d = 0;
        for (size_t i = 0; i < text.size(); ++i) {
            docPos[i] = d;
            if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) ++d;
        }
        docPos[text.size()] = d;
        QTextCharFormat fmt;
        fmt.setBackground(QColor(255, 230, 0));
        for (auto [s, e] : hits) {
            QTextEdit::ExtraSelection sel;
            sel.cursor = QTextCursor(viewer_->document());
            sel.cursor.setPosition(static_cast<int>(docPos[s]));
            sel.cursor.setPosition(static_cast<int>(docPos[e]), QTextCursor::KeepAnchor);
            sel.format = fmt;
            marks.push_back(sel);
        }
        if (!marks.isEmpty()) viewer_->setTextCursor(marks.front().cursor);
    }
    viewer_->setExtraSelections(marks);
    pagePrev_->setEnabled(page_ > 0);
    pageNext_->setEnabled(page_ + 1 < pageCount());
    pageLabel_->setText(pageCount() > 1 ? QString("Page %1 of %2").arg(page_ + 1).arg(pageCount()) : QString());
}

QString BrowseWindow::viewerText() const { return viewer_->toPlainText(); }

std::vector<std::pair<size_t, size_t>> BrowseWindow::hitsOnPage(const std::string& text) const {
    std::vector<std::pair<size_t, size_t>> out;
    if (text.empty()) return out;
    if (highlight_ && highlightId_ == shownId_)
        for (auto [s, e] : hitPositions(text, highlight_->text, highlight_->wordsOnly, highlight_->matchCase))
            out.emplace_back(s, e);
    if (out.empty() && !foundWords_.empty() && tab_ == (mail_ ? 8 : 9))
        for (auto [s, e] : BUILDWORDPOSQ1(foundWords_, text))
            out.emplace_back(static_cast<size_t>(s - 1), static_cast<size_t>(e));
    return out;
}

std::vector<std::pair<size_t, size_t>> BrowseWindow::markedPlaces() const {
    return hitsOnPage(page_ < pageCount() ? pages_[static_cast<size_t>(page_)] : std::string());
}

void BrowseWindow::showSearchResult(const std::vector<std::string>& foundWords) {
    foundWords_ = foundWords;
    highlight_.reset();
    const int searchTab = mail_ ? 8 : 9;
    shownId_ = 0;
    if (tab_ != searchTab) setTab(searchTab);
    else applyView(0);
    messageChanged();
}

bool BrowseWindow::showMessage(uint32_t id) {
    int row = model_->locateId(id);
    if (row < 0 && tab_ != 1) {
        // Not in the limited view: show it in the first tab.
        setTab(1);
        row = model_->locateId(id);
    }
    if (row < 0) return false;
    list_->selectRow(row);
    return true;
}

void BrowseWindow::showFound(const ViewRow& row, uint32_t id, const SearchOptions& how, bool inSubject) {
    highlight_ = how;
    highlightId_ = id;
    (void)inSubject;
    shownId_ = 0;
    int r = model_->locateId(id);
    if (r < 0) r = model_->centreOn(row);
    list_->selectRow(r);
    messageChanged();
}

// ---------------------------------------------------------------- status

QStringList BrowseWindow::statusCommands() const {
    QStringList groups = mail_ ? QStringList{"Message", "Partner", "MailBox"}
                               : QStringList{"Message", "Thread", "Section", "Database"};
    QStringList out;
    for (const QString& g : groups) {
        if (!out.isEmpty()) out << "-";
        out << "Normal " + g << "Keep " + g << "Delete " + g;
    }
    return out;
}

bool BrowseWindow::runStatusCommand(const QString& command) {
    const QStringList parts = command.split(' ');
    if (parts.size() != 2) return false;
    const uint8_t status = parts[0] == "Normal" ? 0 : parts[0] == "Keep" ? 1 : parts[0] == "Delete" ? 2 : 255;
    if (status == 255) return false;
    const BrowseRow* r = model_->rowAt(list_->currentRowIndex());
    const QString& what = parts[1];
    bool ok = false;
    if (what == "MailBox" || what == "Database") {
        DatabaseScope scope(this);
        ok = setStatus(StatusTarget::Database, Mem.ForumNumber, status);
    } else if (r && r->found) {
        if (what == "Message") ok = setStatus(StatusTarget::Message, r->id, status);
        else if (what == "Partner" && mail_) ok = setStatus(StatusTarget::Person, r->mail.PAIRID, status);
        else if (what == "Thread" && !mail_) ok = setStatus(StatusTarget::Thread, r->msg.THREADNUMBER, status);
        else if (what == "Section" && !mail_) ok = setStatus(StatusTarget::Section, r->msg.SECSYSID, status);
    }
    if (ok && what == "Message") {
        const uint32_t id = currentId();
        model_->refresh();
        int row = model_->locateId(id);
        list_->selectRow(row);
    }
    return ok;
}

void BrowseWindow::contextMenu(const QPoint& p) {
    QMenu menu(this);
    for (const QString& c : statusCommands()) {
        if (c == "-") menu.addSeparator();
        else menu.addAction(c, this, [this, c] { runStatusCommand(c); });
    }
    menu.addSeparator();
    menu.addAction("Set BookMark", this, &BrowseWindow::setBookmark);
    menu.addAction("Batch...", this, &BrowseWindow::openBatch);
    menu.exec(list_->viewport()->mapToGlobal(p));
}

// ---------------------------------------------------------------- bookmark

void BrowseWindow::setBookmark() {
    const uint32_t id = currentId();
    if (!id) return;
    bookmarkId_ = id;
    bookmarkSet_ = true;
    bookmark_->setText("Reset to BookMark");
}

void BrowseWindow::bookmarkButton() {
    if (!bookmarkSet_) {
        setBookmark();
        return;
    }
    showMessage(bookmarkId_);
}

QString BrowseWindow::bookmarkText() const { return bookmark_->text(); }

// ---------------------------------------------------------------- copy, windows

BatchDialog* BrowseWindow::batchDialog() {
    ScopeChoice c;
    c.wordId = choice_.wordId;
    c.topicId = choice_.topicId;
    auto* d = new BatchDialog(currentId(), c, this);
    d->setAttribute(Qt::WA_DeleteOnClose);
    return d;
}

void BrowseWindow::openBatch() { batchDialog()->open(); }

std::string BrowseWindow::copyText() const {
    const uint32_t id = currentId();
    RenderInput in;
    if (!id || !loadRenderInput(id, in)) return {};
    return clipboardText(in, renderSettings());
}

void BrowseWindow::copyToClipboard() {
    const std::string t = copyText();
    if (t.empty()) return;
    QApplication::clipboard()->setText(q(t));
}

void BrowseWindow::askDeletion() {
    // The question is about the database this browse shows, also when
    // another one has become active since.
    DatabaseScope scope(this);
    unsigned a = ui().ask(" Database marked for deletion!",
                          "Do you really want to delete all messages in this database? If you do, the entire "
                          "database directory will be removed.",
                          BtnYes | BtnNo, BtnNo, Icon::Question);
    if (a != BtnYes) return;
    if (!removalHandler()) {
        ui().message(" Database marked for deletion!", "The removal of databases is not available in this program.",
                     Icon::Exclamation);
        return;
    }
    if (removalHandler()(Mem.ForumNumber)) close();
}

// The windows opened from a browse work on its database: a browse of a
// database that is no longer active opens none.
bool BrowseWindow::ofActiveDatabase() const {
    if (boundDatabase(this).id == Mem.ForumNumber) return true;
    ui().message("Quillbox", "This window shows database " + verbatim(boundDatabase(this).description) +
                                 ", which is no longer the active database.", Icon::Exclamation);
    return false;
}

void BrowseWindow::openSearch() {
    if (ofActiveDatabase()) startProcedure(mail_ ? "SearchMail" : "SearchMsg");
}
void BrowseWindow::openTree() {
    if (ofActiveDatabase()) startProcedure("ThreadTree");
}

// ---------------------------------------------------------------- procedures

namespace {
QWidget* makeBrowse(bool mail, QWidget* parent) {
    if (Mem.ForumNumber == 0 || Mem.Dirnamn.empty()) {
        ui().message("Quillbox", "No database is selected.", Icon::Exclamation);
        return nullptr;
    }
    if ((Mem.ForumType == 2) != mail) {
        ui().message("Quillbox", mail ? "The active database is not a mail database."
                                      : "The active database is not a forum or newsgroup database.",
                     Icon::Exclamation);
        return nullptr;
    }
    return new BrowseWindow(mail, parent);
}
const bool regMail = registerProcedure("BrowseMail", [](QWidget* p) { return makeBrowse(true, p); });
const bool regMsg = registerProcedure("BrowseMsgNmbr", [](QWidget* p) { return makeBrowse(false, p); });
} // namespace

} // namespace qb
