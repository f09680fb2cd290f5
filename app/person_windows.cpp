#include "app/person_windows.h"

#include <QCloseEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/browsewindow.h"
#include "app/jobwindows.h"
#include "app/procedures.h"
#include "core/access.h"
#include "core/dates.h"
#include "core/globals.h"
#include "core/kinds.h"
#include "core/registry.h"
#include "core/text.h"
#include "core/ui.h"
#include "maintenance/dedup.h"
#include "maintenance/persons.h"

namespace qb {

namespace {

QString q(std::string_view cp1252) { return QString::fromStdString(toUtf8(rtrim(cp1252))); }
std::string cp(const QString& s) { return fromUtf8(s.toStdString()); }
constexpr int IdRole = Qt::UserRole + 1;

QTreeWidgetItem* personItem(const PersonRec& p) {
    auto* it = new QTreeWidgetItem({q(p.LASTNAME.view()), q(p.FIRSTNAME.view()), q(p.ADDRESS.view()),
                                    QString::number(p.FROMCOUNT), QString::number(p.TOCOUNT)});
    it->setData(0, IdRole, QVariant::fromValue<uint>(p.PERSONID));
    return it;
}

QPushButton* button(QLayout* l, QWidget* parent, const char* text, std::function<void()> f) {
    auto* b = new QPushButton(text, parent);
    QObject::connect(b, &QPushButton::clicked, parent, std::move(f));
    l->addWidget(b);
    return b;
}

// A window of the person menu closes when another database becomes active:
// it belongs to the database it was opened for.
void closeOnDatabaseChange(QWidget* w, uint32_t forumId) {
    QPointer<QWidget> guard(w);
    onActiveDatabaseChanged([guard, forumId] {
        if (guard && Mem.ForumNumber != forumId) QTimer::singleShot(0, guard.data(), &QWidget::close);
    });
}

} // namespace

// ---------------------------------------------------------------- browse

PersonBrowse::PersonBrowse(QWidget* parent) : QWidget(parent), forumId_(Mem.ForumNumber) {
    setWindowFlag(Qt::Window, true);
    setWindowTitle(q(personBrowseTitle(Mem.ForumType, Mem.Description)));
    auto* layout = new QVBoxLayout(this);
    auto* sort = new QHBoxLayout;
    byName_ = new QRadioButton("Sort by lastname", this);
    byAddress_ = new QRadioButton("Sort by CIS adress", this);
    byName_->setChecked(true);
    sort->addWidget(byName_);
    sort->addWidget(byAddress_);
    layout->addLayout(sort);
    connect(byAddress_, &QRadioButton::toggled, this, [this](bool on) { sortByAddress(on); });
    list_ = new QTreeWidget(this);
    list_->setRootIsDecorated(false);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setHeaderLabels({"Lastname", "Firstname", "Address", "Sent", "Received"});
    layout->addWidget(list_);
    auto* buttons = new QHBoxLayout;
    button(buttons, this, "Show related alias addresses", [this] { showAliases(); });
    button(buttons, this, "Open merge duplicates window", [this] { openMerge(); });
    button(buttons, this, "Show messages for this sender", [this] { showMessages(); });
    button(buttons, this, "Change first and last name", [this] { changeName(); });
    layout->addLayout(buttons);
    closeOnDatabaseChange(this, forumId_);
    reload();
}

void PersonBrowse::sortByAddress(bool on) {
    if (byAddress_->isChecked() != on) byAddress_->setChecked(on);
    reload();
}

void PersonBrowse::reload() {
    const uint32_t keep = currentId();
    list_->clear();
    QList<QTreeWidgetItem*> items;
    for (const PersonRec& p : listPersons(byAddress_->isChecked())) items.append(personItem(p));
    list_->addTopLevelItems(items);
    if (keep) selectPerson(keep);
    else if (list_->topLevelItemCount()) list_->setCurrentItem(list_->topLevelItem(0));
}

uint32_t PersonBrowse::currentId() const {
    auto* it = list_->currentItem();
    return it ? it->data(0, IdRole).toUInt() : 0;
}

bool PersonBrowse::selectPerson(uint32_t id) {
    for (int i = 0; i < list_->topLevelItemCount(); ++i)
        if (list_->topLevelItem(i)->data(0, IdRole).toUInt() == id) {
            list_->setCurrentItem(list_->topLevelItem(i));
            return true;
        }
    return false;
}

QDialog* PersonBrowse::showAliases() {
    PersonRec p;
    if (!readPerson(currentId(), p)) return nullptr;
    auto* w = new AliasWindow(p, this);
    w->setAttribute(Qt::WA_DeleteOnClose);
    connect(w, &QDialog::accepted, this, &PersonBrowse::reload);
    w->show();
    return w;
}

QWidget* PersonBrowse::openMerge() {
    auto* w = dynamic_cast<MergeWindow*>(startProcedure("MergePersons", this));
    if (!w) return nullptr;
    for (auto* it : list_->selectedItems()) {
        PersonRec p;
        if (readPerson(it->data(0, IdRole).toUInt(), p)) w->addPerson(p);
    }
    connect(w, &QObject::destroyed, this, [this] { reload(); });
    return w;
}

QDialog* PersonBrowse::showMessages() {
    PersonRec p;
    if (!readPerson(currentId(), p)) return nullptr;
    const bool mail = Mem.ForumType == KindMail;
    Table& header = mail ? Mail : MsgNmbr;
    OP_CLOSE(OpOpenShared, header.number());
    const std::vector<uint32_t> ids = messagesOfPerson(PersonRef{p.PERSONID, p.LASTNAME.str()});
    if (ids.empty()) {
        OP_CLOSE(OpClose, header.number());
        ui().message("Warning!", "No messages from address " + p.ADDRESS.str(), Icon::Exclamation);
        return nullptr;
    }
    auto* d = new QDialog(this);
    d->setAttribute(Qt::WA_DeleteOnClose);
    d->setWindowTitle(q(" Messages of " + p.FIRSTNAME.str() + " " + p.LASTNAME.str()));
    auto* layout = new QVBoxLayout(d);
    auto* list = new QTreeWidget(d);
    list->setRootIsDecorated(false);
    list->setHeaderLabels({"ID", "Date", mail ? "Subject" : "Thread"});
    for (uint32_t id : ids) {
        QString date, subject;
        if (mail) {
            Mail.clearBuffer();
            MAI.MAILID = id;
            if (Mail.get(MAI_IdKey)) date = q(formatDate(MAI.DATE, "@D10-")), subject = q(MAI.SUBJECT.view());
        } else {
            MsgNmbr.clearBuffer();
            MSG.MSGNUMBER = id;
            if (MsgNmbr.get(MSG_IdKey)) date = q(formatDate(MSG.DATE, "@D10-")), subject = q(MSG.THREADALPHA.view());
        }
        auto* it = new QTreeWidgetItem({QString::number(id), date, subject});
        it->setData(0, IdRole, QVariant::fromValue<uint>(id));
        list->addTopLevelItem(it);
    }
    OP_CLOSE(OpClose, header.number());
    // Choosing one shows it in the open browse of the database.
    connect(list, &QTreeWidget::itemActivated, d, [](QTreeWidgetItem* it) {
        if (BrowseWindow* b = openBrowse()) b->showMessage(it->data(0, IdRole).toUInt());
    });
    layout->addWidget(list);
    d->show();
    return d;
}

QDialog* PersonBrowse::changeName() {
    PersonRec p;
    if (!readPerson(currentId(), p)) return nullptr;
    auto* f = new PersonNameForm(p, this);
    f->setAttribute(Qt::WA_DeleteOnClose);
    connect(f, &QDialog::accepted, this, &PersonBrowse::reload);
    f->show();
    return f;
}

// ---------------------------------------------------------------- name form

PersonNameForm::PersonNameForm(const PersonRec& person, QWidget* parent) : QDialog(parent), opened_(person) {
    setWindowTitle(q(" Update " + personWord(Mem.ForumType) + " name"));
    auto* form = new QFormLayout(this);
    auto fixed = [&](const char* label, const QString& value) {
        auto* e = new QLineEdit(value, this);
        e->setReadOnly(true);
        form->addRow(label, e);
    };
    fixed("Full address - cannot be changed", q(person.PERSONSTRING.view()));
    last_ = new QLineEdit(q(person.LASTNAME.view()), this);
    last_->setMaxLength(25);
    form->addRow("Lastname - can be changed", last_);
    first_ = new QLineEdit(q(person.FIRSTNAME.view()), this);
    first_->setMaxLength(25);
    form->addRow("Firstname - can be changed", first_);
    fixed("Address - cannot be changed", q(person.ADDRESS.view()));
    fixed("Messages sent - cannot be changed", QString::number(person.FROMCOUNT));
    fixed("Messages received - cannot be changed", QString::number(person.TOCOUNT));
    auto* save = new QPushButton("Save changes", this);
    connect(save, &QPushButton::clicked, this, [this] { this->save(); });
    form->addRow(save);
}

bool PersonNameForm::save() {
    const SaveResult r = renamePerson(opened_, cp(last_->text()), cp(first_->text()));
    if (r == SaveResult::ChangedByOther) {
        // The form shows the row as it is now; the next save compares with it.
        readPerson(opened_.PERSONID, opened_);
        return false;
    }
    if (r != SaveResult::Saved) return false;
    accept();
    return true;
}

// ---------------------------------------------------------------- aliases

AliasWindow::AliasWindow(const PersonRec& person, QWidget* parent)
    : QDialog(parent), person_(person), string_(person.PERSONSTRING.str()), address_(person.ADDRESS.str()) {
    std::string name = person.LASTNAME.str();
    if (!person.FIRSTNAME.empty()) name += ", " + person.FIRSTNAME.str();
    setWindowTitle(q(" Current address for " + name));
    auto* layout = new QVBoxLayout(this);
    current_ = new QLabel(this);
    layout->addWidget(current_);
    list_ = new QTreeWidget(this);
    list_->setRootIsDecorated(false);
    list_->setHeaderLabels({"Address", "Identity"});
    for (const PersonAlias& a : personAliases(person.PERSONID))
        list_->addTopLevelItem(new QTreeWidgetItem({q(a.address), q(a.personString)}));
    layout->addWidget(list_);
    auto* buttons = new QHBoxLayout;
    button(buttons, this, "Swap", [this] {
        if (auto* it = list_->currentItem()) swapWith(list_->indexOfTopLevelItem(it));
    });
    button(buttons, this, "OK", [this] { acceptChoice(); });
    button(buttons, this, "Cancel", [this] { reject(); });
    layout->addLayout(buttons);
    showCurrent();
}

void AliasWindow::showCurrent() {
    current_->setText(q(address_) + "\n" + q(string_));
}

bool AliasWindow::swapWith(int row) {
    auto* it = list_->topLevelItem(row);
    if (!it) return false;
    const std::string s = cp(it->text(1)), a = cp(it->text(0));
    it->setText(0, q(qb::lower(address_)));
    it->setText(1, q(string_));
    string_ = s;
    address_ = a;
    showCurrent();
    return true;
}

bool AliasWindow::acceptChoice() {
    if (upper(rtrim(string_)) == upper(person_.PERSONSTRING.view())) {
        reject();
        return true;
    }
    if (!swapIdentity(person_.PERSONID, string_, address_)) return false;
    accept();
    return true;
}

// ---------------------------------------------------------------- merge

MergeWindow::MergeWindow(QWidget* parent) : QWidget(parent) {
    setWindowFlag(Qt::Window, true);
    setWindowTitle(q(" Merge " + personsWord(Mem.ForumType) + " [" + Mem.Description + "]"));
    auto* layout = new QVBoxLayout(this);
    list_ = new QTreeWidget(this);
    list_->setRootIsDecorated(false);
    list_->setHeaderLabels({"Keep", "Lastname", "Firstname", "Address", "Sent", "Received"});
    layout->addWidget(list_);
    auto* buttons = new QHBoxLayout;
    button(buttons, this, "Merge selected persons", [this] { mergeSelected(); });
    button(buttons, this, "Keep highlighted person", [this] {
        if (auto* it = list_->currentItem()) keepRow(list_->indexOfTopLevelItem(it));
    });
    button(buttons, this, "Remove highlighted person fron merge", [this] {
        if (auto* it = list_->currentItem()) removeRow(list_->indexOfTopLevelItem(it));
    });
    layout->addLayout(buttons);
    closeOnDatabaseChange(this, Mem.ForumNumber);
}

void MergeWindow::addPerson(const PersonRec& p) {
    for (const PersonRec& x : persons_)
        if (x.PERSONID == p.PERSONID) return;
    persons_.push_back(p);
    if (!keep_) keep_ = p.PERSONID;
    refresh();
}

void MergeWindow::keepRow(int row) {
    if (row < 0 || row >= static_cast<int>(persons_.size())) return;
    keep_ = persons_[static_cast<size_t>(row)].PERSONID;
    refresh();
}

void MergeWindow::removeRow(int row) {
    if (row < 0 || row >= static_cast<int>(persons_.size())) return;
    const uint32_t id = persons_[static_cast<size_t>(row)].PERSONID;
    persons_.erase(persons_.begin() + row);
    if (keep_ == id) keep_ = persons_.empty() ? 0 : persons_.front().PERSONID;
    refresh();
}

void MergeWindow::refresh() {
    list_->clear();
    for (const PersonRec& p : persons_) {
        auto* it = new QTreeWidgetItem({p.PERSONID == keep_ ? "*" : "", q(p.LASTNAME.view()), q(p.FIRSTNAME.view()),
                                        q(p.ADDRESS.view()), QString::number(p.FROMCOUNT), QString::number(p.TOCOUNT)});
        list_->addTopLevelItem(it);
    }
}

bool MergeWindow::mergeSelected() {
    std::vector<uint32_t> others;
    for (const PersonRec& p : persons_)
        if (p.PERSONID != keep_) others.push_back(p.PERSONID);
    if (!keep_ || others.empty()) return false;
    const MergeOutcome r = mergePersons(keep_, others);
    PersonRec kept;
    persons_.clear();
    if (readPerson(keep_, kept)) persons_.push_back(kept);
    else keep_ = 0;
    refresh();
    return r.merged > 0;
}

// ---------------------------------------------------------------- duplicates

DuplicatesWindow::DuplicatesWindow(QWidget* parent)
    : QWidget(parent), scheduled_(unattended()), database_(Mem.ForumNumber) {
    setWindowFlag(Qt::Window, true);
    setWindowTitle(q((scheduled_ ? " Scheduled Duplicate Merging [" : " Duplicate Merging [") + Mem.Description + "]"));
    const std::string who = Mem.ForumType == KindMail ? "Mail Partners" : "Forum Members";
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    const std::string labels[8] = {"Existing " + who + " in database:",
                                   "Obsolete " + who + " removed:",
                                   "Duplicate " + who + " merged:",
                                   "Remaining " + who + ":",
                                   "Number of persons before duplicate elimination",
                                   "Number of persons without related messages",
                                   "Number of duplicate persons",
                                   "Number of remaining persons"};
    for (int i = 0; i < 8; ++i) {
        counts_[i] = new QLabel("0", this);
        form->addRow(q(labels[i]), counts_[i]);
    }
    layout->addLayout(form);
    status_ = new QLabel(this);
    layout->addWidget(status_);
    bar_ = new QProgressBar(this);
    layout->addWidget(bar_);
    auto* buttons = new QHBoxLayout;
    startButton_ = button(buttons, this, "Start the duplicate elimination process", [this] { start(); });
    button(buttons, this, "End this session", [this] {
        if (endSession()) close();
    });
    layout->addLayout(buttons);
    timer_ = new QTimer(this);
    timer_->setInterval(0);
    connect(timer_, &QTimer::timeout, this, &DuplicatesWindow::tick);
    if (scheduled_) QTimer::singleShot(0, this, &DuplicatesWindow::start);
}

DuplicatesWindow::~DuplicatesWindow() {
    // A scheduled run that ends with its window still reports.
    if (scheduled_ && !reported_) report(run_ && run_->ok() ? 1 : 2);
    OnDatabase on(database_);
    run_.reset();
}

// Unattended: the end goes to the task manager, and its next job starts.
void DuplicatesWindow::report(int result) {
    reported_ = true;
    reportJobEnd(JobDuplicates, database_, result);
}

bool DuplicatesWindow::running() const { return run_ && !run_->finished(); }

void DuplicatesWindow::start() {
    if (running()) return;
    OnDatabase on(database_);
    run_ = std::make_unique<DuplicateMerge>();
    startButton_->setEnabled(false);
    timer_->start();
}

void DuplicatesWindow::tick() {
    if (!run_) return;
    bool more = false;
    OnDatabase on(database_);
    try {
        more = run_->step();
    } catch (const ProgramStop&) {
        run_->stop();
        throw;
    }
    showCounts();
    if (!more) finish();
}

void DuplicatesWindow::showCounts() {
    if (!run_) return;
    status_->setText(q(run_->status()));
    bar_->setRange(0, static_cast<int>(std::max<long long>(1, std::min<long long>(run_->total(), INT32_MAX))));
    bar_->setValue(static_cast<int>(std::min<long long>(run_->done(), INT32_MAX)));
    const uint64_t v[4] = {run_->existing(), run_->removed(), run_->merged(), run_->remaining()};
    for (int i = 0; i < 4; ++i) {
        counts_[i]->setText(QString::number(v[i]));
        counts_[i + 4]->setText(QString::number(v[i]));
    }
}

void DuplicatesWindow::finish() {
    timer_->stop();
    startButton_->setEnabled(true);
    if (run_->ok() && !scheduled_) {
        std::string text = "The Duplicate Removal Process has finished!";
        if (readingPrefs().searchTiming)
            text += "\r\nThe time for completion was: " + std::to_string(static_cast<long long>(run_->seconds())) +
                    " seconds";
        ui().message(" Duplicate Elimination ", text, Icon::Information);
    }
    if (scheduled_) {
        report(run_->ok() ? 1 : 2);
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

bool DuplicatesWindow::endSession() {
    if (run_ && !run_->finished()) {
        if (run_->stopNeedsQuestion() && !unattended()) {
            const unsigned a = ui().ask("Duplicate Person elimination interrupted",
                                        "Stopping at this stage will cause message counts \r\nto be incorrect.\r\n"
                                        "If you do quit, please run the Count Messages process to correct the "
                                        "numbers! Are you sure you want to quit?",
                                        BtnYes | BtnNo, BtnNo, Icon::Question);
            if (a != BtnYes) return false;
        }
        timer_->stop();
        OnDatabase on(database_);
        run_->stop();
        showCounts();
    }
    return true;
}

void DuplicatesWindow::closeEvent(QCloseEvent* e) {
    if (!endSession()) {
        e->ignore();
        return;
    }
    e->accept();
}

namespace {
const bool registered = [] {
    registerProcedure("BrowsePerson", [](QWidget* parent) -> QWidget* {
        if (Mem.ForumNumber == 0) return nullptr;
        return new PersonBrowse(parent);
    });
    registerProcedure("MergePersons", [](QWidget* parent) -> QWidget* {
        if (Mem.ForumNumber == 0) return nullptr;
        return new MergeWindow(parent);
    });
    registerProcedure("Duplicates", [](QWidget* parent) -> QWidget* {
        if (Mem.ForumNumber == 0) return nullptr;
        return new DuplicatesWindow(parent);
    });
    return true;
}();
} // namespace

} // namespace qb
