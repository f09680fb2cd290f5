// The task manager in the main program: the scheduler's check (SemaFore
// 206, every 15 seconds from the main frame), the countdown window, and the
// run of a task driven by a timer, one batch of its current step a tick.
#include "app/task_windows.h"

#include <QApplication>
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

#include "app/procedures.h"
#include "app/taskrun.h"
#include "core/dates.h"
#include "core/globals.h"
#include "core/registry.h"
#include "core/settings.h"
#include "core/ui.h"
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

// Drives a run: one batch of the current step a tick.
class TaskDriver : public QObject {
public:
    static TaskDriver& instance() {
        static TaskDriver* d = new TaskDriver;
        return *d;
    }
    bool start(uint32_t id) {
        previous_ = Mem.ForumNumber;
        if (!NextTask(15, sizeof id, &id)) return false;
        timer_.start(0);
        return true;
    }

private:
    TaskDriver() {
        connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
    }
    void tick() {
        try {
            if (work_.step || work_.end) {
                stepTaskWork(work_);
                return;
            }
            if (taskRunning()) {
                const TaskStep step = takeRequestedStep();
                if (step.kind == StepNone) CleanUp(6);
                else work_ = beginTaskStep(step);
                return;
            }
        } catch (const ProgramStop&) {
            timer_.stop();
            if (taskRunning()) CleanUp(6);
            QApplication::exit(3);
            return;
        }
        // The run is over.
        timer_.stop();
        if (konfigNumber(57) == 1) {
            QApplication::exit(0);
            return;
        }
        if (previous_ != 0) selectDatabase(previous_);
        else clearActiveDatabase();
    }

    QTimer timer_;
    TaskWork work_;
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
        name_->setMaxLength(50);
        f->addRow("Description", name_);
        defs_ = new QListWidget(this);
        const std::vector<uint32_t> chosen = adding_ ? std::vector<uint32_t>{} : taskDefinitions(id);
        for (const BatchRec& b : listDefinitions()) {
            auto* item = new QListWidgetItem(q(b.DESCRIPTION.str()), defs_);
            item->setData(Qt::UserRole, b.ID);
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            const bool on = std::find(chosen.begin(), chosen.end(), b.ID) != chosen.end();
            item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
        }
        f->addRow("Import definitions", defs_);
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
        std::vector<uint32_t> batches;
        for (int i = 0; i < defs_->count(); ++i)
            if (defs_->item(i)->checkState() == Qt::Checked) batches.push_back(defs_->item(i)->data(Qt::UserRole).toUInt());
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

    TasksRec task_{};
    bool adding_ = true;
    QLineEdit* name_ = nullptr;
    QListWidget* defs_ = nullptr;
    QCheckBox* hasNext_ = nullptr;
    QDateTimeEdit* next_ = nullptr;
    QCheckBox* days_[7] = {};
    QLineEdit* monthDays_ = nullptr;
    QCheckBox* jobs_[4] = {};
    QCheckBox* runNow_ = nullptr;
    QCheckBox* active_ = nullptr;
};

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
        auto* row = new QHBoxLayout;
        auto* add = new QPushButton(QStringLiteral("&Add"), this);
        auto* change = new QPushButton(QStringLiteral("&Change"), this);
        auto* runNow = new QPushButton(QStringLiteral("&Run now"), this);
        auto* remove = new QPushButton(QStringLiteral("&Delete"), this);
        auto* log = new QPushButton(QStringLiteral("&Log"), this);
        auto* close = new QPushButton(QStringLiteral("&Close"), this);
        row->addStretch();
        for (QPushButton* b : {add, change, runNow, remove, log, close}) row->addWidget(b);
        connect(add, &QPushButton::clicked, this, [this] {
            TaskForm(0, this).exec();
            reload();
        });
        connect(change, &QPushButton::clicked, this, [this] {
            if (const uint32_t id = currentId()) TaskForm(id, this).exec();
            reload();
        });
        v->addLayout(row);
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
    return true;
}();
} // namespace

} // namespace qb
