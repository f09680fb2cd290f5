// The task manager in the main program: the scheduler's check (SemaFore
// 206, every 15 seconds from the main frame), the countdown window, and the
// run of a task driven by a timer, one batch of its current step a tick.
#include "app/task_windows.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
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
        auto* runNow = new QPushButton(QStringLiteral("&Run now"), this);
        auto* remove = new QPushButton(QStringLiteral("&Delete"), this);
        auto* log = new QPushButton(QStringLiteral("&Log"), this);
        auto* close = new QPushButton(QStringLiteral("&Close"), this);
        row->addStretch();
        for (QPushButton* b : {runNow, remove, log, close}) row->addWidget(b);
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
    registerProcedure("BrowseTasks", [](QWidget* parent) -> QWidget* { return new TaskListWindow(parent); });
    return true;
}();
} // namespace

} // namespace qb
