// The task manager in the main program: the scheduler's check (SemaFore
// 206, every 15 seconds from the main frame), the countdown window, and the
// run of a task driven by a timer, one batch of its current step a tick.
#include "app/task_windows.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include "app/taskrun.h"
#include "core/dates.h"
#include "core/globals.h"
#include "core/registry.h"
#include "core/settings.h"
#include "core/ui.h"
#include "tasks/taskmanager.h"

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
    return true;
}();
} // namespace

} // namespace qb
