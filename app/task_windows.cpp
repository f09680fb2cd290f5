// The task manager in the main program: the scheduler's check (SemaFore
// 206, every 15 seconds from the main frame), the countdown window, and the
// run of a task driven by a timer, one batch of its current step a tick.
#include "app/task_windows.h"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMimeData>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFormLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include "app/jobwindows.h"
#include "app/procedures.h"
#include "app/taskrun.h"
#include "core/dates.h"
#include "core/globals.h"
#include "core/registry.h"
#include "core/settings.h"
#include "core/text.h"
#include "core/ui.h"
#include "import/catalogue.h"
#include "maintenance/taskreport.h"
#include "tasks/taskmanager.h"
#include "tasks/tasktables.h"

namespace qb {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

// The postponement, held in memory only.
int32_t gPostponeDate = 0, gPostponeTime = 0;

enum class Choice { Cancel, Run, Postpone, Skip, Deactivate, TurnOff };

class CountdownWindow : public QDialog {
public:
    explicit CountdownWindow(const TasksRec& task) {
        setObjectName("TaskCountdown");
        setWindowTitle(QStringLiteral(" Task Processing"));
        auto* v = new QVBoxLayout(this);
        auto* text = new QLabel(
            QStringLiteral("It is time to start task processing! \nYou cannot do other work in Quillbox during task "
                           "processing. If you do not want to run the task now, select an appropriate option and "
                           "click on the OK button. \n\nOtherwise task processing will commence within a minute with "
                           "the task below and all open windows will close."),
            this);
        text->setWordWrap(true);
        v->addWidget(text);
        auto* name = new QLabel(q(task.DESCRIPTION.str()), this);
        name->setObjectName("TaskName");
        v->addWidget(name);
        status_ = new QLabel(this);
        status_->setObjectName("CountdownText");
        v->addWidget(status_);
        group_ = new QButtonGroup(this);
        auto add = [&](const char* label, Choice c) {
            auto* b = new QRadioButton(QString::fromLatin1(label), this);
            group_->addButton(b, static_cast<int>(c));
            return b;
        };
        add("&Run the task", Choice::Run)->setChecked(true);
        auto* row = new QHBoxLayout;
        row->addWidget(add("&Postpone by (hours):", Choice::Postpone));
        hours_ = new QSpinBox(this);
        hours_->setRange(1, 24);
        hours_->setValue(1);
        row->addWidget(hours_);
        v->addLayout(row);
        v->addWidget(add("&Skip this run", Choice::Skip));
        v->addWidget(add("&Deactivate the task", Choice::Deactivate));
        v->addWidget(add("Turn task processing &off", Choice::TurnOff));
        v->insertWidget(3, group_->button(static_cast<int>(Choice::Run)));
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        connect(buttons, &QDialogButtonBox::accepted, this, [this] { finish(false); });
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        v->addWidget(buttons);
        timer_ = new QTimer(this);
        connect(timer_, &QTimer::timeout, this, &CountdownWindow::second);
        timer_->start(1000);
        showRemaining();
    }

    Choice choice() const { return choice_; }
    int hours() const { return hours_->value(); }

private:
    void showRemaining() {
        status_->setText(QString(" Task processing starts in %1 seconds").arg(remaining_, 2, 10, QChar('0')));
    }
    void second() {
        if (--remaining_ <= 0) {
            finish(true);
            return;
        }
        if (remaining_ % 5 == 0) showRemaining();
    }
    void finish(bool timedOut) {
        timer_->stop();
        choice_ = static_cast<Choice>(timedOut ? static_cast<int>(Choice::Run) : group_->checkedId());
        if (choice_ == Choice::Run) {
            if (NextTask(13, 0, nullptr)) {
                // Another procedure is at work: no run now.
                if (!timedOut) ui().message(" Task Start Error ", "Another Task is already active!");
                choice_ = Choice::Cancel;
                reject();
                return;
            }
            status_->setText(QStringLiteral(" Task processing starting up!"));
        } else if (choice_ == Choice::Postpone) {
            status_->setText(QString(" Task processing postponed %1 hour(s)").arg(hours()));
        }
        accept();
    }

    QLabel* status_ = nullptr;
    QButtonGroup* group_ = nullptr;
    QSpinBox* hours_ = nullptr;
    QTimer* timer_ = nullptr;
    int remaining_ = 60;
    Choice choice_ = Choice::Cancel;
};

// Drives a run. An import runs here, one batch a tick; a maintenance job
// runs in its procedure's window, which works by itself while the run is
// unattended and reports its end (CleanUp 4) through the receiver installed
// here; the next step starts once that window has gone.
class TaskDriver : public QObject {
public:
    static TaskDriver& instance() {
        static TaskDriver* d = new TaskDriver;
        return *d;
    }
    bool start(uint32_t id) {
        previous_ = Mem.ForumNumber;
        if (!NextTask(15, sizeof id, &id)) return false;
        setMaintenanceReport([this](int kind, uint32_t database, int result) { return jobEnded(kind, database, result); });
        // A run may be over already (nothing to import); the windows close
        // without a question all the same.
        const int mode = Mem.DoTask;
        if (!unattended()) Mem.DoTask = 2;
        closeOtherWindows();
        Mem.DoTask = mode;
        timer_.start(0);
        return true;
    }
    bool busy() const { return timer_.isActive(); }

private:
    TaskDriver() {
        connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
    }

    // The run needs the screen and the tables to itself: every window but the
    // main frame closes, the procedures' first. Nothing asks while unattended.
    static void closeOtherWindows() {
        closeAllProcedures();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && !qobject_cast<QMainWindow*>(w)) w->close();
    }

    int jobEnded(int kind, uint32_t database, int result) {
        if (!job_.waiting || job_.reported || kind != job_.kind) return JobNone;
        job_.reported = true;
        CleanUp(4, kind, result, database);
        return JobNone;  // the next job starts from here, after this window
    }

    void startJob(const TaskStep& step) {
        job_ = Job{};
        job_.waiting = true;
        job_.kind = step.kind;
        job_.database = step.database;
        const char* proc = procedureOfJob(step.kind);
        // The window reports as soon as it can, possibly while it opens.
        if (proc && selectDatabase(step.database)) job_.window = startProcedure(proc);
        timer_.setInterval(20);
    }

    // True while the window of the current job works or is going.
    bool waitForJob() {
        if (!job_.waiting) return false;
        if (!job_.window.isNull()) {
            if (job_.reported) job_.window->close();
            return true;
        }
        job_.waiting = false;
        timer_.setInterval(0);
        // A window that went without a report (or never opened) failed its job.
        if (!job_.reported) CleanUp(4, job_.kind, 2, job_.database);
        return false;
    }

    void tick() {
        try {
            if (work_.step || work_.end) {
                stepTaskWork(work_);
                return;
            }
            if (waitForJob()) return;
            if (taskRunning()) {
                const TaskStep step = takeRequestedStep();
                if (step.kind == StepNone) CleanUp(6);
                else if (step.kind == StepImport) work_ = beginTaskStep(step);
                else startJob(step);
                return;
            }
        } catch (const ProgramStop&) {
            timer_.stop();
            setMaintenanceReport(nullptr);
            if (taskRunning()) CleanUp(6);
            QApplication::exit(3);
            return;
        }
        // The run is over.
        timer_.stop();
        setMaintenanceReport(nullptr);
        if (konfigNumber(57) == 1) {
            QApplication::exit(0);
            return;
        }
        if (previous_ != 0) selectDatabase(previous_);
        else clearActiveDatabase();
    }

    struct Job {
        bool waiting = false, reported = false;
        int kind = 0;
        uint32_t database = 0;
        QPointer<QWidget> window;
    };

    QTimer timer_;
    TaskWork work_;
    Job job_;
    uint32_t previous_ = 0;
};

// "Start Task": runs the chosen task now, unattended.
class StartTaskWindow : public QDialog {
public:
    explicit StartTaskWindow(QWidget* parent = nullptr) : QDialog(parent) {
        setObjectName("StartTask");
        setWindowTitle(QStringLiteral("Start Task"));
        auto* v = new QVBoxLayout(this);
        tasks_ = new QComboBox(this);
        for (const TasksRec& t : listTasks()) tasks_->addItem(q(t.DESCRIPTION.str()), t.ID);
        v->addWidget(tasks_);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        connect(buttons, &QDialogButtonBox::accepted, this, [this] {
            const uint32_t id = tasks_->currentData().toUInt();
            if (id == 0) return;
            if (Mem.DoTask != 0 || NextTask(13, 0, nullptr)) {
                ui().message(" Task Start Error ", "Another Task is already active!");
                return;
            }
            TaskDriver::instance().start(id);
            close();
        });
        connect(buttons, &QDialogButtonBox::rejected, this, &QWidget::close);
        v->addWidget(buttons);
    }

private:
    QComboBox* tasks_ = nullptr;
};

void apply(const TasksRec& t, Choice c, int hours) {
    switch (c) {
    case Choice::Run:
        if (TaskDriver::instance().start(t.ID)) return;
        break;
    case Choice::Postpone: postponeFrom(today(), clockNow(), hours, gPostponeDate, gPostponeTime); break;
    case Choice::Skip: changeTask(t.ID, skipRun, today()); break;
    case Choice::Deactivate: changeTask(t.ID, [](TasksRec& r, int32_t) { r.ACTIVE = 0; }, 0); break;
    case Choice::TurnOff: {
        int32_t one = 1;
        std::string none;
        Konfig(7, 48, one, none);
        Konfig(9, 48, one, none);
        break;
    }
    case Choice::Cancel: gPostponeDate = gPostponeTime = 0; break;
    }
    Mem.DoTask = 0;
}


QString when(int32_t date, int32_t time) {
    if (date == 0) return {};
    return q(formatDate(date, "@D17") + (time ? " " + formatTime(time, "@T1") : std::string()));
}

QString duration(int32_t d1, int32_t t1, int32_t d2, int32_t t2) {
    return q(durationText(stepDuration(d1, t1, d2, t2)));
}

// The task log: the runs of the chosen task, and the steps of the chosen run.
class TaskLogWindow : public QWidget {
public:
    explicit TaskLogWindow(QWidget* parent = nullptr) : QWidget(parent, Qt::Window) {
        setObjectName("ShowLog");
        setWindowTitle(QStringLiteral("Task Log"));
        auto* v = new QVBoxLayout(this);
        tasks_ = new QComboBox(this);
        for (const TasksRec& t : listTasks()) tasks_->addItem(q(t.DESCRIPTION.str()), t.ID);
        v->addWidget(tasks_);
        runs_ = new QTreeWidget(this);
        runs_->setObjectName("Runs");
        runs_->setRootIsDecorated(false);
        runs_->setHeaderLabels({"Started", "Duration", "Result"});
        v->addWidget(runs_);
        items_ = new QTreeWidget(this);
        items_->setObjectName("Steps");
        items_->setRootIsDecorated(false);
        items_->setHeaderLabels({"Kind", "Description", "Started", "Duration", "Result"});
        v->addWidget(items_);
        auto* close = new QPushButton(QStringLiteral("&Close"), this);
        v->addWidget(close, 0, Qt::AlignRight);
        connect(close, &QPushButton::clicked, this, &QWidget::close);
        connect(tasks_, &QComboBox::currentIndexChanged, this, [this] { fillRuns(); });
        connect(runs_, &QTreeWidget::currentItemChanged, this, [this] { fillItems(); });
        resize(620, 420);
        fillRuns();
    }

private:
    void fillRuns() {
        runs_->clear();
        for (const TaskLogRec& r : taskRuns(tasks_->currentData().toUInt())) {
            auto* item = new QTreeWidgetItem(runs_);
            item->setText(0, when(r.DATESTARTED, r.TIMESTARTED));
            item->setText(1, duration(r.DATESTARTED, r.TIMESTARTED, r.DATEFINISHED, r.TIMEFINISHED));
            item->setText(2, q(resultText(r.RESULTCODE)));
            item->setData(0, Qt::UserRole, r.TASKLOGID);
        }
        if (runs_->topLevelItemCount() > 0) runs_->setCurrentItem(runs_->topLevelItem(runs_->topLevelItemCount() - 1));
        fillItems();
    }
    void fillItems() {
        items_->clear();
        QTreeWidgetItem* run = runs_->currentItem();
        if (!run) return;
        for (const TaskLogItemRec& i : runItems(run->data(0, Qt::UserRole).toUInt())) {
            auto* item = new QTreeWidgetItem(items_);
            item->setText(0, q(stepKindText(static_cast<int>(i.TYPE))));
            item->setText(1, q(itemDescription(i)));
            item->setText(2, when(i.DATESTARTED, i.TIMESTARTED));
            item->setText(3, duration(i.DATESTARTED, i.TIMESTARTED, i.DATEFINISHED, i.TIMEFINISHED));
            item->setText(4, q(resultText(i.RESULTCODE)));
        }
    }

    QComboBox* tasks_ = nullptr;
    QTreeWidget* runs_ = nullptr;
    QTreeWidget* items_ = nullptr;
};


// A row of buttons at the right under the window's contents, in the order given.
std::vector<QPushButton*> buttonRow(QWidget* owner, QVBoxLayout* v, std::initializer_list<const char*> labels) {
    auto* row = new QHBoxLayout;
    row->addStretch();
    std::vector<QPushButton*> buttons;
    for (const char* label : labels) {
        buttons.push_back(new QPushButton(QString::fromLatin1(label), owner));
        row->addWidget(buttons.back());
    }
    v->addLayout(row);
    return buttons;
}

// ---- Import definitions: the list, its drag, the definition window --------

// A drag of import definitions carries their IDs, blank-separated.
const QString kDefinitionMime = QStringLiteral("application/x-quillbox-import-definitions");

QString text1252(const std::string& s) { return QString::fromStdString(toUtf8(s)); }

std::vector<uint32_t> definitionsIn(const QMimeData* m) {
    std::vector<uint32_t> ids;
    if (!m || !m->hasFormat(kDefinitionMime)) return ids;
    for (const QString& part : QString::fromLatin1(m->data(kDefinitionMime)).split(' ', Qt::SkipEmptyParts))
        if (const uint32_t id = part.toUInt()) ids.push_back(id);
    return ids;
}

QString methodText(int method) {
    switch (method) {
    case 0: return QStringLiteral("Directory Tree Selection");
    case 1: return QStringLiteral("Directory Selection");
    default: return QStringLiteral("File selection");
    }
}

// The saved import definitions; dragging takes the chosen ones along.
class DefinitionList : public QTreeWidget {
public:
    explicit DefinitionList(QWidget* parent) : QTreeWidget(parent) {
        setObjectName("Definitions");
        setRootIsDecorated(false);
        setSelectionMode(QAbstractItemView::ExtendedSelection);
        setDragEnabled(true);
        setDragDropMode(QAbstractItemView::DragOnly);
        setHeaderLabels({"Description", "Reader", "Selection", "Directory or files", "Masks"});
        reload();
    }
    void reload() {
        const std::vector<uint32_t> chosen = chosenIds();
        const uint32_t current = currentId();
        clear();
        for (const BatchRec& b : listDefinitions()) {
            auto* item = new QTreeWidgetItem(this);
            const std::string specs = joinList(fileSpecs(b.ID));
            item->setText(0, text1252(b.DESCRIPTION.str()));
            item->setText(1, text1252(readerName(b.FILETYPE)));
            item->setText(2, methodText(b.SELMETHOD));
            item->setText(3, text1252(b.SELMETHOD == 2 ? specs : b.IMPPATH.str()));
            item->setText(4, b.SELMETHOD == 2 ? QString() : text1252(specs));
            item->setData(0, Qt::UserRole, b.ID);
            if (b.ID == current) setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
            if (std::find(chosen.begin(), chosen.end(), b.ID) != chosen.end()) item->setSelected(true);
        }
        if (!currentItem() && topLevelItemCount() > 0) setCurrentItem(topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
    }
    // The selected definitions, else the current one.
    std::vector<uint32_t> chosenIds() const {
        std::vector<uint32_t> ids;
        for (int i = 0; i < topLevelItemCount(); ++i)
            if (topLevelItem(i)->isSelected()) ids.push_back(topLevelItem(i)->data(0, Qt::UserRole).toUInt());
        if (ids.empty() && currentItem()) ids.push_back(currentItem()->data(0, Qt::UserRole).toUInt());
        return ids;
    }
    uint32_t currentId() const { return currentItem() ? currentItem()->data(0, Qt::UserRole).toUInt() : 0; }
    // What a drag of these rows carries.
    QMimeData* mimeData(const QList<QTreeWidgetItem*>& items) const override {
        QStringList ids;
        for (const QTreeWidgetItem* i : items) {
            const QString id = QString::number(i->data(0, Qt::UserRole).toUInt());
            if (!ids.contains(id)) ids << id;
        }
        auto* m = new QMimeData;
        m->setData(kDefinitionMime, ids.join(' ').toLatin1());
        m->setText(ids.join(' '));
        return m;
    }

protected:
    QStringList mimeTypes() const override { return {kDefinitionMime}; }
};

// The definitions a task runs: import definitions are dropped here (or
// added with the button beside it) and taken out with Delete.
class TaskDefinitionList : public QListWidget {
public:
    explicit TaskDefinitionList(QWidget* parent) : QListWidget(parent) {
        setObjectName("TaskDefinitions");
        setSelectionMode(QAbstractItemView::ExtendedSelection);
        setAcceptDrops(true);
        viewport()->setAcceptDrops(true);
        setDragDropMode(QAbstractItemView::DropOnly);
    }
    void add(const std::vector<uint32_t>& ids) {
        const std::vector<BatchRec> all = listDefinitions();
        for (uint32_t id : ids) {
            if (std::find(ids_.begin(), ids_.end(), id) != ids_.end()) continue;
            auto it = std::find_if(all.begin(), all.end(), [id](const BatchRec& b) { return b.ID == id; });
            if (it == all.end()) continue;  // deleted meanwhile
            auto* item = new QListWidgetItem(text1252(it->DESCRIPTION.str()), this);
            item->setData(Qt::UserRole, id);
            ids_.push_back(id);
        }
    }
    void removeChosen() {
        for (QListWidgetItem* item : selectedItems()) {
            ids_.erase(std::remove(ids_.begin(), ids_.end(), item->data(Qt::UserRole).toUInt()), ids_.end());
            delete item;
        }
    }
    const std::vector<uint32_t>& ids() const { return ids_; }

protected:
    void dragEnterEvent(QDragEnterEvent* e) override {
        if (e->mimeData()->hasFormat(kDefinitionMime)) e->acceptProposedAction();
        else e->ignore();
    }
    void dragMoveEvent(QDragMoveEvent* e) override {
        if (e->mimeData()->hasFormat(kDefinitionMime)) e->acceptProposedAction();
        else e->ignore();
    }
    void dropEvent(QDropEvent* e) override {
        const std::vector<uint32_t> ids = definitionsIn(e->mimeData());
        if (ids.empty()) {
            e->ignore();
            return;
        }
        add(ids);
        e->setDropAction(Qt::CopyAction);
        e->accept();
    }
    void keyPressEvent(QKeyEvent* e) override {
        if (e->key() == Qt::Key_Delete || e->key() == Qt::Key_Backspace) removeChosen();
        else QListWidget::keyPressEvent(e);
    }

private:
    std::vector<uint32_t> ids_;
};

// One import definition: shown ("Open") or changed ("Change"). The reader,
// the kinds and the targets stay as saved; the description, the directory,
// the masks or files and the options can change.
class DefinitionForm : public QDialog {
public:
    DefinitionForm(const BatchRec& b, bool change, QWidget* parent) : QDialog(parent), batch_(b) {
        setObjectName("DefinitionForm");
        setWindowTitle(change ? QStringLiteral(" Update Import Definition") : QStringLiteral(" Import Definition"));
        auto* f = new QFormLayout(this);
        name_ = new QLineEdit(text1252(b.DESCRIPTION.str()), this);
        name_->setObjectName("Description");
        name_->setMaxLength(50);
        f->addRow("Description", name_);
        f->addRow("Import file type", new QLabel(text1252(readerName(b.FILETYPE)), this));
        f->addRow("Selection method", new QLabel(methodText(b.SELMETHOD), this));
        QStringList kinds;
        if (b.MAILMSG) kinds << "mail";
        if (b.FORUMMSG) kinds << "forum messages";
        if (b.NEWSGROUPMSG) kinds << "newsgroup messages";
        f->addRow("Message types", new QLabel(kinds.join(", "), this));
        const bool files = b.SELMETHOD == 2;
        path_ = new QLineEdit(files ? QString() : text1252(b.IMPPATH.str()), this);
        path_->setObjectName("Directory");
        path_->setMaxLength(static_cast<int>(BatchRec{}.IMPPATH.size()));
        if (!files) f->addRow("Directory for import files", path_);
        else path_->hide();
        specs_ = new QLineEdit(text1252(joinList(fileSpecs(b.ID))), this);
        specs_->setObjectName("Specs");
        f->addRow(files ? "Import messages from file(s)" : "Filename mask(s)", specs_);
        reimport_ = new QCheckBox("Update existing messages", this);
        reimport_->setChecked(b.ALLOWREIMP != 0);
        f->addRow(reimport_);
        createOnly_ = new QCheckBox("Import no messages (database creation only)", this);
        createOnly_->setChecked(b.MSGFILTER == 2);
        f->addRow(createOnly_);
        auto* buttons = new QDialogButtonBox(change ? QDialogButtonBox::Ok | QDialogButtonBox::Cancel
                                                    : QDialogButtonBox::Close,
                                             this);
        connect(buttons, &QDialogButtonBox::accepted, this, &DefinitionForm::save);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        f->addRow(buttons);
        if (!change) {
            for (QLineEdit* e : {name_, path_, specs_}) e->setReadOnly(true);
            for (QCheckBox* c : {reimport_, createOnly_}) c->setEnabled(false);
        }
    }

private:
    void save() {
        const std::string title = " Import definition error!";
        const std::string name = fromUtf8(name_->text().trimmed().toStdString());
        if (name.empty()) {
            ui().message(title, "The definition needs a description!");
            name_->setFocus();
            return;
        }
        BatchRec other{};
        if (definitionNamed(name, other) && other.ID != batch_.ID) {
            ui().message(title, "Another import definition has this description!");
            name_->setFocus();
            return;
        }
        const bool files = batch_.SELMETHOD == 2;
        const std::string path = fromUtf8(path_->text().trimmed().toStdString());
        // Masks ignore letter case; file names do not.
        std::vector<std::string> specs;
        for (const std::string& item : splitList(fromUtf8(specs_->text().toStdString())))
            if (std::find_if(specs.begin(), specs.end(), [&](const std::string& x) {
                    return compare1252(x, item, !files) == 0;
                }) == specs.end())
                specs.push_back(item);
        if (!files && path.empty()) {
            ui().message(title, "You must give the directory of the import files!");
            path_->setFocus();
            return;
        }
        if (files && specs.empty()) {
            ui().message(title, "You must select at least one file!");
            specs_->setFocus();
            return;
        }
        // An empty mask reads every file, as in the wizard.
        if (!files && specs.empty()) specs.push_back("*.*");
        for (const std::string& item : specs)
            if (item.size() > FileListRec{}.FILESPEC.size()) {
                ui().message(title, "The import path is too long to be kept in a definition.");
                specs_->setFocus();
                return;
            }
        BatchRec b = batch_;
        b.DESCRIPTION.set(name);
        b.IMPPATH.set(files ? joinList(specs).substr(0, b.IMPPATH.size()) : path);
        b.ALLOWREIMP = reimport_->isChecked() ? 1 : 0;
        b.MSGFILTER = createOnly_->isChecked() ? 2 : 1;
        if (!changeDefinition(b, specs)) {
            ui().message(title, "The import definition could not be changed.");
            return;
        }
        accept();
    }

    BatchRec batch_{};
    QLineEdit* name_ = nullptr;
    QLineEdit* path_ = nullptr;
    QLineEdit* specs_ = nullptr;
    QCheckBox* reimport_ = nullptr;
    QCheckBox* createOnly_ = nullptr;
};

class TaskForm;
// The task windows open now, the most recent first.
std::vector<TaskForm*> openTaskForms();
void addToTaskForm(TaskForm* form, const std::vector<uint32_t>& ids);

// "Import Definitions": the saved definitions, opened, changed, deleted,
// dragged into a task window's list (or added to it with "Add to task").
class DefinitionBrowseWindow : public QWidget {
public:
    explicit DefinitionBrowseWindow(QWidget* parent = nullptr) : QWidget(parent, Qt::Window) {
        setWindowTitle(QStringLiteral("Import Definitions"));
        auto* v = new QVBoxLayout(this);
        list_ = new DefinitionList(this);
        v->addWidget(list_);
        const auto buttons = buttonRow(this, v, {"&Open", "&Change", "&Delete", "Add to &task", "C&lose"});
        QPushButton *open = buttons[0], *change = buttons[1], *remove = buttons[2], *toTask = buttons[3],
                    *close = buttons[4];
        connect(open, &QPushButton::clicked, this, [this] { openDefinition(false); });
        connect(list_, &QTreeWidget::itemActivated, this, [this] { openDefinition(false); });
        connect(change, &QPushButton::clicked, this, [this] { openDefinition(true); });
        connect(remove, &QPushButton::clicked, this, [this] { removeCurrent(); });
        connect(toTask, &QPushButton::clicked, this, [this] {
            const std::vector<TaskForm*> forms = openTaskForms();
            if (forms.empty()) {
                ui().message("Import Definitions", "Open a task in the task window first (Scheduled Tasks, Add or Change).",
                             Icon::Information);
                return;
            }
            addToTaskForm(forms.front(), list_->chosenIds());
        });
        connect(close, &QPushButton::clicked, this, &QWidget::close);
        resize(720, 360);
    }

private:
    bool current(BatchRec& out) const {
        const uint32_t id = list_->currentId();
        for (const BatchRec& b : listDefinitions())
            if (b.ID == id) {
                out = b;
                return true;
            }
        return false;
    }
    void openDefinition(bool change) {
        BatchRec b{};
        if (!current(b)) return;
        DefinitionForm form(b, change, this);
        if (form.exec() == QDialog::Accepted) list_->reload();
    }
    void removeCurrent() {
        BatchRec b{};
        if (!current(b)) return;
        const std::string title = " Delete Import Definition";
        const std::vector<uint32_t> users = tasksUsing(b.ID);
        if (!users.empty()) {
            std::string task = std::to_string(users.front());
            for (const TasksRec& t : listTasks())
                if (t.ID == users.front()) task = "\"" + t.DESCRIPTION.str() + "\"";
            ui().message(title, "The task " + task + " runs this import definition.\r\nTake it out of the task first.");
            return;
        }
        if (ui().ask(title, " Confirm deletion of Import Definition", BtnYes | BtnNo, BtnNo) != BtnYes) return;
        if (!deleteDefinition(b.ID)) ui().message(title, "The import definition could not be deleted.");
        list_->reload();
    }

    DefinitionList* list_ = nullptr;
};

// The task window: " Add New Task" or " Update Task".
class TaskForm : public QDialog {
public:
    TaskForm(uint32_t id, QWidget* parent) : QDialog(parent) {
        setObjectName("TaskForm");
        Tasks.clearBuffer();
        task_ = TAS;
        adding_ = id == 0;
        if (!adding_)
            for (const TasksRec& t : listTasks())
                if (t.ID == id) task_ = t;
        setWindowTitle(adding_ ? QStringLiteral(" Add New Task") : QStringLiteral(" Update Task"));
        auto* f = new QFormLayout(this);
        name_ = new QLineEdit(q(task_.DESCRIPTION.str()), this);
        name_->setObjectName("Description");
        name_->setMaxLength(50);
        f->addRow("Description", name_);
        // The task's definitions come by dragging from the list of import
        // definitions, or with "Add"; Delete or "Remove" takes them out.
        auto* lists = new QHBoxLayout;
        source_ = new DefinitionList(this);
        lists->addWidget(source_, 3);
        auto* middle = new QVBoxLayout;
        auto* addDef = new QPushButton(QStringLiteral("A&dd >"), this);
        addDef->setObjectName("AddDefinition");
        auto* removeDef = new QPushButton(QStringLiteral("< Re&move"), this);
        removeDef->setObjectName("RemoveDefinition");
        middle->addStretch();
        middle->addWidget(addDef);
        middle->addWidget(removeDef);
        middle->addStretch();
        lists->addLayout(middle);
        defs_ = new TaskDefinitionList(this);
        if (!adding_) defs_->add(taskDefinitions(id));
        lists->addWidget(defs_, 2);
        connect(addDef, &QPushButton::clicked, this, [this] { defs_->add(source_->chosenIds()); });
        connect(removeDef, &QPushButton::clicked, this, [this] { defs_->removeChosen(); });
        f->addRow("Import definitions", lists);
        hasNext_ = new QCheckBox("Next start", this);
        next_ = new QDateTimeEdit(this);
        next_->setDisplayFormat("yyyy-MM-dd HH:mm");
        if (task_.RUNNEXTDATE) {
            int y, m, d, h, mi, sec, hs;
            civilDate(task_.RUNNEXTDATE, y, m, d);
            clockParts(task_.RUNNEXTTIME, h, mi, sec, hs);
            next_->setDateTime(QDateTime(QDate(y, m, d), QTime(h, mi)));
            hasNext_->setChecked(true);
        } else {
            next_->setDateTime(QDateTime::currentDateTime());
        }
        f->addRow(hasNext_, next_);
        auto* days = new QHBoxLayout;
        const char* names[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
        for (int i = 0; i < 7; ++i) {
            days_[i] = new QCheckBox(names[i], this);
            days_[i]->setChecked(task_.DAYS[i] == 1);
            days->addWidget(days_[i]);
        }
        f->addRow("Weekdays", days);
        QStringList md;
        for (uint8_t d : task_.MONTHDAYS)
            if (d) md << QString::number(d);
        monthDays_ = new QLineEdit(md.join(","), this);
        f->addRow("Month days (up to 5)", monthDays_);
        const char* jobs[4] = {"Merge duplicate persons", "Purge", "Count", "Word indexing"};
        uint8_t* flags[4] = {&task_.DODUPELIM, &task_.DOPURGE, &task_.DOCOUNT, &task_.DOINDEX};
        for (int i = 0; i < 4; ++i) {
            jobs_[i] = new QCheckBox(jobs[i], this);
            jobs_[i]->setChecked(*flags[i] == 1);
            f->addRow(jobs_[i]);
        }
        runNow_ = new QCheckBox("Run now", this);
        runNow_->setChecked(task_.RUNNOWDATE != 0);
        f->addRow(runNow_);
        active_ = new QCheckBox("Active", this);
        active_->setChecked(adding_ || task_.ACTIVE == 1);
        f->addRow(active_);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        connect(buttons, &QDialogButtonBox::accepted, this, &TaskForm::save);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        f->addRow(buttons);
        // Weekdays and month days only with a next start.
        auto open = [this] {
            for (QCheckBox* c : days_) c->setEnabled(hasNext_->isChecked());
            monthDays_->setEnabled(hasNext_->isChecked());
            next_->setEnabled(hasNext_->isChecked());
        };
        connect(hasNext_, &QCheckBox::toggled, this, open);
        open();
    }

private:
    void save() {
        TasksRec t = task_;
        t.DESCRIPTION.set(name_->text().toStdString());
        const std::vector<uint32_t> batches = defs_->ids();
        const bool hasNext = hasNext_->isChecked();
        const QDateTime n = next_->dateTime();
        t.RUNNEXTDATE = hasNext ? dayNumber(n.date().year(), n.date().month(), n.date().day()) : 0;
        t.RUNNEXTTIME = hasNext ? clockTime(n.time().hour(), n.time().minute(), 0) : 0;
        for (int i = 0; i < 7; ++i) t.DAYS[i] = hasNext && days_[i]->isChecked() ? 1 : 0;
        std::fill(std::begin(t.MONTHDAYS), std::end(t.MONTHDAYS), 0);
        int k = 0;
        for (const QString& part : monthDays_->text().split(',', Qt::SkipEmptyParts)) {
            const int d = part.trimmed().toInt();
            if (hasNext && d >= 1 && d <= 31 && k < 5) t.MONTHDAYS[k++] = static_cast<uint8_t>(d);
        }
        uint8_t* flags[4] = {&t.DODUPELIM, &t.DOPURGE, &t.DOCOUNT, &t.DOINDEX};
        for (int i = 0; i < 4; ++i) *flags[i] = jobs_[i]->isChecked() ? 1 : 0;
        if (runNow_->isChecked() && t.RUNNOWDATE == 0) {
            t.RUNNOWDATE = today();
            t.RUNNOWTIME = clockNow();
        } else if (!runNow_->isChecked()) {
            t.RUNNOWDATE = t.RUNNOWTIME = 0;
        }
        t.ACTIVE = active_->isChecked() ? 1 : 0;
        if (t.ACTIVE == 1 && t.RUNNEXTDATE == 0 && t.RUNNOWDATE == 0) {
            t.ACTIVE = 0;
            active_->setChecked(false);
            ui().message(" Warning! ", " A Task without run information cannot be active!");
        }
        if (saveTask(t, adding_, batches, true)) accept();
    }

public:
    void addDefinitions(const std::vector<uint32_t>& ids) { defs_->add(ids); }

private:
    TasksRec task_{};
    bool adding_ = true;
    QLineEdit* name_ = nullptr;
    DefinitionList* source_ = nullptr;
    TaskDefinitionList* defs_ = nullptr;
    QCheckBox* hasNext_ = nullptr;
    QDateTimeEdit* next_ = nullptr;
    QCheckBox* days_[7] = {};
    QLineEdit* monthDays_ = nullptr;
    QCheckBox* jobs_[4] = {};
    QCheckBox* runNow_ = nullptr;
    QCheckBox* active_ = nullptr;
};

std::vector<TaskForm*> openTaskForms() {
    std::vector<TaskForm*> forms;
    if (auto* active = dynamic_cast<TaskForm*>(QApplication::activeWindow())) forms.push_back(active);
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* form = dynamic_cast<TaskForm*>(w); form && form->isVisible() && (forms.empty() || forms[0] != form))
            forms.push_back(form);
    return forms;
}

void addToTaskForm(TaskForm* form, const std::vector<uint32_t>& ids) { form->addDefinitions(ids); }

// The list of tasks: a run-now request, deletion, the log.
class TaskListWindow : public QWidget {
public:
    explicit TaskListWindow(QWidget* parent = nullptr) : QWidget(parent, Qt::Window) {
        setObjectName("BrowseTasks");
        setWindowTitle(QStringLiteral("Scheduled Tasks"));
        auto* v = new QVBoxLayout(this);
        list_ = new QTreeWidget(this);
        list_->setRootIsDecorated(false);
        list_->setHeaderLabels({"Task", "Active", "Next start", "Last run", "Result"});
        v->addWidget(list_);
        const auto buttons = buttonRow(this, v, {"&Add", "&Change", "&Run now", "&Delete", "&Log", "&Close"});
        QPushButton *add = buttons[0], *change = buttons[1], *runNow = buttons[2], *remove = buttons[3],
                    *log = buttons[4], *close = buttons[5];
        // The task window stays open beside the list of import definitions,
        // from which definitions are dragged into it.
        auto openForm = [this](uint32_t id) {
            auto* form = new TaskForm(id, this);
            form->setAttribute(Qt::WA_DeleteOnClose);
            connect(form, &QDialog::finished, this, [this] { reload(); });
            form->show();
        };
        connect(add, &QPushButton::clicked, this, [openForm] { openForm(0); });
        connect(change, &QPushButton::clicked, this, [this, openForm] {
            if (const uint32_t id = currentId()) openForm(id);
        });
        connect(runNow, &QPushButton::clicked, this, [this] {
            if (const uint32_t id = currentId())
                changeTask(id, [](TasksRec& t, int32_t) {
                    t.RUNNOWDATE = today();
                    t.RUNNOWTIME = clockNow();
                    t.ACTIVE = 1;
                }, 0);
            reload();
        });
        connect(remove, &QPushButton::clicked, this, [this] {
            const uint32_t id = currentId();
            if (id && ui().ask(" Delete Task", " Confirm deletion of Task", BtnYes | BtnNo, BtnNo) == BtnYes) deleteTask(id);
            reload();
        });
        connect(log, &QPushButton::clicked, this, [] { startProcedure("ShowLog"); });
        connect(close, &QPushButton::clicked, this, &QWidget::close);
        resize(620, 320);
        reload();
    }

private:
    uint32_t currentId() const { return list_->currentItem() ? list_->currentItem()->data(0, Qt::UserRole).toUInt() : 0; }
    void reload() {
        const uint32_t current = currentId();
        list_->clear();
        for (const TasksRec& t : listTasks()) {
            auto* item = new QTreeWidgetItem(list_);
            item->setText(0, q(t.DESCRIPTION.str()));
            item->setText(1, t.ACTIVE == 1 ? "Yes" : "No");
            item->setText(2, t.RUNNOWDATE ? when(t.RUNNOWDATE, t.RUNNOWTIME) : when(t.RUNNEXTDATE, t.RUNNEXTTIME));
            item->setText(3, when(t.LASTRUNDATE, t.LASTRUNTIME));
            item->setText(4, q(resultText(t.RESULTCODE)));
            item->setData(0, Qt::UserRole, t.ID);
            if (t.ID == current) list_->setCurrentItem(item);
        }
        if (!list_->currentItem() && list_->topLevelItemCount() > 0) list_->setCurrentItem(list_->topLevelItem(0));
    }
    QTreeWidget* list_ = nullptr;
};

} // namespace

bool taskDriverBusy() { return TaskDriver::instance().busy(); }

int schedulerTick() {
    if (Mem.DoTask != 0 || NextTask(13, 0, nullptr) || konfigNumber(48) == 1) return 0;
    const int32_t day = today(), now = clockNow();
    if (postponementHolds(day, now, gPostponeDate, gPostponeTime)) return 0;
    gPostponeDate = gPostponeTime = 0;
    if (inQuietPeriod(now, konfigNumber(46), konfigNumber(47))) return 0;
    TasksRec t{};
    if (!findDueTask(day, now, t)) return 0;
    Mem.DoTask = 1;
    CountdownWindow w(t);
    w.exec();
    apply(t, w.choice(), w.hours());
    return 1;
}

namespace {
const bool registered = [] {
    registerSemaFore(206, schedulerTick);
    registerProcedure("ShowLog", [](QWidget* parent) -> QWidget* { return new TaskLogWindow(parent); });
    registerProcedure("StartTask", [](QWidget* parent) -> QWidget* { return new StartTaskWindow(parent); });
    registerProcedure("BrowseTasks", [](QWidget* parent) -> QWidget* { return new TaskListWindow(parent); });
    registerProcedure("BrowseBatch", [](QWidget* parent) -> QWidget* { return new DefinitionBrowseWindow(parent); });
    return true;
}();
} // namespace

} // namespace qb
