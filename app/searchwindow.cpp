#include "app/searchwindow.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

#include "app/browsewindow.h"
#include "app/procedures.h"
#include "core/access.h"
#include "core/dates.h"
#include "core/globals.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/ui.h"

namespace qb {

namespace {
int32_t dayOf(const QString& s) {
    int y = 0, m = 0, d = 0;
    if (std::sscanf(s.trimmed().toStdString().c_str(), "%d-%d-%d", &y, &m, &d) != 3) return 0;
    return dayNumber(y, m, d);
}
QString dayText(int32_t d) { return QString::fromStdString(formatDate(d, "@D10-")); }

// The date of the oldest message of the active database.
int32_t oldestDate(bool mail) {
    Table& t = mail ? Mail : MsgNmbr;
    if (!t.isOpen()) return 0;
    const int key = mail ? MAI_DateKey : MSG_DateKey;
    ViewCursor c(&t, key);
    auto rows = c.last(1);
    if (rows.empty()) return 0;
    return mail ? rows[0].as<MailRec>().DATE : rows[0].as<MsgNmbrRec>().DATE;
}
} // namespace

std::string& SearchWindow::sharedText() {
    static std::string t;
    return t;
}

SearchWindow::SearchWindow(bool mail, QWidget* parent) : QWidget(parent), mail_(mail) {
    setWindowTitle(" Standard Search  ");
    auto* l = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    text_ = new QLineEdit(QString::fromStdString(toUtf8(sharedText())), this);
    text_->setMaxLength(static_cast<int>(kSearchTextMax));
    form->addRow("Text string to find", text_);
    l->addLayout(form);

    optionsBox_ = new QGroupBox(this);
    auto* ol = new QVBoxLayout(optionsBox_);
    oldest_ = new QRadioButton(mail ? "Start search with oldest mail message" : "Start search with oldest message",
                               optionsBox_);
    newest_ = new QRadioButton(mail ? "Start search with newest mail message" : "Start search with newest message",
                               optionsBox_);
    oldest_->setChecked(true);
    matchCase_ = new QCheckBox("Text with matching character case only", optionsBox_);
    words_ = new QCheckBox("Matching words only", optionsBox_);
    subjectOnly_ = new QCheckBox(mail ? "Search the subject only" : "Search the thread heading only", optionsBox_);
    auto* range = new QHBoxLayout;
    from_ = new QLineEdit(dayText(oldestDate(mail)), optionsBox_);
    to_ = new QLineEdit(dayText(today()), optionsBox_);
    range->addWidget(new QLabel("Dates from", optionsBox_));
    range->addWidget(from_);
    range->addWidget(new QLabel("to", optionsBox_));
    range->addWidget(to_);
    for (QWidget* w : std::initializer_list<QWidget*>{oldest_, newest_, matchCase_, words_, subjectOnly_}) ol->addWidget(w);
    ol->addLayout(range);
    optionsBox_->setVisible(false);
    auto* show = new QCheckBox("Show search options", this);
    connect(show, &QCheckBox::toggled, optionsBox_, &QWidget::setVisible);
    l->addWidget(show);
    l->addWidget(optionsBox_);

    find_ = new QPushButton("Find next occurance of text", this);
    connect(find_, &QPushButton::clicked, this, &SearchWindow::findNext);
    l->addWidget(find_);

    batch_ = readingPrefs().searchBatch > 0 ? readingPrefs().searchBatch : 50;
    timing_ = readingPrefs().searchTiming;
    timer_ = new QTimer(this);
    timer_->setInterval(0);
    connect(timer_, &QTimer::timeout, this, &SearchWindow::tick);
    for (QLineEdit* e : {text_, from_, to_}) connect(e, &QLineEdit::textChanged, this, &SearchWindow::optionsChanged);
    for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{oldest_, newest_, matchCase_, words_, subjectOnly_})
        connect(b, &QAbstractButton::toggled, this, &SearchWindow::optionsChanged);
}

SearchOptions SearchWindow::options() const {
    SearchOptions o;
    o.text = fromUtf8(text_->text().toStdString());
    if (o.text.size() > kSearchTextMax) o.text.resize(kSearchTextMax);
    o.backward = newest_->isChecked();
    o.matchCase = matchCase_->isChecked();
    o.wordsOnly = words_->isChecked();
    o.subjectOnly = subjectOnly_->isChecked();
    o.fromDate = dayOf(from_->text());
    o.toDate = dayOf(to_->text());
    return o;
}

void SearchWindow::setOptions(const SearchOptions& o) {
    text_->setText(QString::fromStdString(toUtf8(o.text)));
    (o.backward ? newest_ : oldest_)->setChecked(true);
    matchCase_->setChecked(o.matchCase);
    words_->setChecked(o.wordsOnly);
    subjectOnly_->setChecked(o.subjectOnly);
    from_->setText(o.fromDate ? dayText(o.fromDate) : QString());
    to_->setText(o.toDate ? dayText(o.toDate) : QString());
    optionsChanged();
}

void SearchWindow::optionsChanged() {
    timer_->stop();
    fresh_ = true;
}

bool SearchWindow::running() const { return timer_->isActive(); }

void SearchWindow::findNext() {
    BrowseWindow* b = openBrowse();
    if (!b || b->isMail() != mail_) return;
    SearchOptions o = options();
    if (rtrim(o.text).empty()) return;
    sharedText() = o.text;
    if (browse_.data() != b) fresh_ = true;  // another browse (or database) since the last search
    browse_ = b;
    if (fresh_ || !search_) {
        // A new search begins at the oldest or newest message of the view.
        search_ = std::make_unique<TextSearch>(o);
        source_ = std::make_unique<ViewSearchSource>(b->currentSpec(), mail_, std::nullopt);
        fresh_ = false;
        clock_.start();
    } else if (b->currentId() != lastHit_) {
        // The user moved on in the browse: go on from the message shown there.
        search_ = std::make_unique<TextSearch>(o);
        source_ = std::make_unique<ViewSearchSource>(b->currentSpec(), mail_, b->currentRow());
        clock_.start();
    }
    find_->setEnabled(false);
    timer_->start();
}

SearchState SearchWindow::stepOnce(int batch) {
    if (!search_ || !source_) return SearchState::End;
    SearchState st = search_->run(*source_, batch);
    if (st == SearchState::Running) return st;
    timer_->stop();
    find_->setEnabled(true);
    if (st == SearchState::Hit) {
        lastHit_ = search_->hit().id;
        if (BrowseWindow* b = openBrowse())
            b->showFound(source_->lastRow(), search_->hit().id, search_->options(), search_->hitInSubject());
    } else {
        if (timing_)
            ui().message(" Standard Search  ",
                         "The time for completion was: " + std::to_string(clock_.elapsed() / 1000) + " seconds",
                         Icon::Information);
        ui().message(" End of File!", "No more messages in this direction!", Icon::Information);
        fresh_ = true;
    }
    emit finished(st);
    return st;
}

void SearchWindow::tick() { stepOnce(batch_); }

SearchState SearchWindow::finishNow() {
    SearchState st = SearchState::Running;
    while (st == SearchState::Running && search_) st = stepOnce(batch_);
    return st;
}

namespace {
QWidget* makeSearch(bool mail, QWidget* parent) {
    BrowseWindow* b = openBrowse();
    if (!b || b->isMail() != mail) {
        ui().message(" Standard Search  ", "Open the browse of the database first.", Icon::Exclamation);
        return nullptr;
    }
    return new SearchWindow(mail, parent);
}
const bool regMail = registerProcedure("SearchMail", [](QWidget* p) { return makeSearch(true, p); });
const bool regMsg = registerProcedure("SearchMsg", [](QWidget* p) { return makeSearch(false, p); });
} // namespace

} // namespace qb
