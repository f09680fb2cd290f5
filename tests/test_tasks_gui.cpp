// The scheduler's check with its countdown window: running, deactivating and
// postponing a due task.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QListWidget>
#include <QMimeData>
#include <QPointer>
#include <QComboBox>
#include <fstream>
#include <functional>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>

#include "app/procedures.h"
#include "app/task_windows.h"
#include "app/taskrun.h"
#include "core/dates.h"
#include "core/globals.h"
#include "tasks/taskmanager.h"
#include "tasks/tasktables.h"
#include "wordsearch/wordbreak.h"
#include "import/catalogue.h"
#include "import/maildb.h"
#include "tests/dbhome.h"
#include "tests/reading_runs.h"

using namespace qb;

namespace {

class TaskWindows : public qb::testing::DbHome {
protected:
    void SetUp() override {
        DbHome::SetUp();
        qb::testing::ensureApp();
        open({Tasks.number(), TaskBatch.number()});
        Tasks.clearBuffer();
        TAS.ID = 900;
        TAS.DESCRIPTION = "Nightly";
        TAS.ACTIVE = 1;
        TAS.RUNNEXTDATE = today() - 1;
        TAS.RUNNEXTTIME = 1;
        TAS.DAYS[weekday(today())] = 1;
        ASSERT_TRUE(Tasks.add());
        TaskBatch.clearBuffer();
        TIM.TASKID = 900;
        TIM.BATCHID = 510;  // a definition that no longer exists
        ASSERT_TRUE(TaskBatch.add());
        OP_CLOSE(OpClose, Tasks.number(), TaskBatch.number());
    }
    void TearDown() override {
        // A run's driver puts the active database back after the run's end.
        waitFor([] { return !taskDriverBusy(); });
        closeAllProcedures();
        QApplication::processEvents();
        if (taskRunning()) CleanUp(6);
        Mem.DoTask = 0;
        DbHome::TearDown();
    }

    // Answers the countdown window once it is open: the option, then OK.
    static void answer(const QString& option) {
        QTimer::singleShot(50, [option] {
            auto* w = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!w || w->objectName() != "TaskCountdown") return;
            for (auto* b : w->findChildren<QRadioButton*>())
                if (b->text() == option) b->setChecked(true);
            w->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        });
    }

    static void click(QWidget* w, const QString& text) {
        for (auto* b : w->findChildren<QPushButton*>())
            if (b->text() == text) {
                b->click();
                return;
            }
        ADD_FAILURE() << "no button " << text.toStdString();
    }
    static bool waitFor(const std::function<bool()>& done, int ms = 20000) {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < ms) {
            QApplication::processEvents();
            QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        return done();
    }
    // A saved definition of the mailbox reader over `dir`.
    static uint32_t definition(const std::string& name, const std::string& dir, uint32_t mailDb) {
        ImportSettings s;
        chooseReader(s, *readerByName("Unix Mail"));
        s.mailDb = mailDb;
        s.method = 1;
        s.path = dir;
        const uint32_t id = saveDefinition(s);
        if (id == 0) return 0;
        BatchRec b{};
        for (const BatchRec& d : listDefinitions())
            if (d.ID == id) b = d;
        b.DESCRIPTION.set(name);
        return changeDefinition(b, fileSpecs(id)) ? id : 0;
    }

    // A mail database that keeps a word index, a mailbox of three mails and
    // task `name` that imports it, counts and indexes, to run now.
    void mailTask(TasksRec& t, const std::string& name) {
        ASSERT_TRUE(loadWordTables());
        std::string why;
        const uint32_t db = addMailDatabase("Lists", "owner@example.org", {}, &why);
        ASSERT_NE(db, 0u) << why;
        const std::string in = home.path + "/in";
        std::filesystem::create_directories(in);
        {
            std::ofstream mbox(in + "/list.mbox", std::ios::binary);
            for (int i = 1; i <= 3; ++i)
                mbox << "From a@example.org Mon Dec  7 10:0" << i << ":00 2026\nFrom: a@example.org\n"
                     << "To: owner@example.org\nSubject: kernel patch " << i << "\nDate: Mon, 7 Dec 2026 10:0" << i
                     << ":00 +0000\n\nThe mips kernel boots again, attempt " << i << ".\n\n";
        }
        const uint32_t def = definition("List mail", in, db);
        ASSERT_NE(def, 0u);
        ASSERT_TRUE(setKeepsIndex(db, true));
        t = TasksRec{};
        t.DESCRIPTION.set(name);
        t.RUNNOWDATE = today();
        t.RUNNOWTIME = clockNow();
        t.ACTIVE = 1;
        t.DOCOUNT = 1;
        t.DOINDEX = 1;
        ASSERT_TRUE(saveTask(t, true, {def}, true));
    }
    // The kind and result of each step of the last run, each finished.
    static std::vector<std::pair<int, int>> loggedSteps() {
        std::vector<std::pair<int, int>> steps;
        for (const TaskLogItemRec& i : runItems(currentTaskLogId())) {
            steps.emplace_back(static_cast<int>(i.TYPE), static_cast<int>(i.RESULTCODE));
            EXPECT_NE(i.DATEFINISHED, 0) << i.TYPE;
        }
        return steps;
    }

    TasksRec row() {
        OP_CLOSE(OpOpenShared, Tasks.number());
        Tasks.clearBuffer();
        TAS.ID = 900;
        EXPECT_TRUE(Tasks.get(TAS_IDKEY));
        TasksRec t = TAS;
        OP_CLOSE(OpClose, Tasks.number());
        return t;
    }
};

TEST_F(TaskWindows, RunDeactivateAndPostpone) {
    // Run: the countdown hands the task to the timer-driven run, which ends
    // at once (the definition is gone) with its log and the next start.
    answer("&Run the task");
    ASSERT_EQ(schedulerTick(), 1);
    QElapsedTimer clock;
    clock.start();
    while (taskRunning() && clock.elapsed() < 10000) QApplication::processEvents();
    EXPECT_FALSE(taskRunning());
    EXPECT_EQ(Mem.DoTask, 0);
    EXPECT_EQ(lastRunResult(), 2);
    TasksRec t = row();
    EXPECT_EQ(t.RUNNEXTDATE, today() + 7);
    EXPECT_EQ(t.ACTIVE, 1);
    EXPECT_EQ(schedulerTick(), 0);  // not due any more

    // The log window shows the run's one step, failed.
    QWidget* log = startProcedure("ShowLog");
    ASSERT_NE(log, nullptr);
    auto* steps = log->findChild<QTreeWidget*>("Steps");
    ASSERT_NE(steps, nullptr);
    ASSERT_EQ(steps->topLevelItemCount(), 1);
    EXPECT_EQ(steps->topLevelItem(0)->text(0), "Import");
    EXPECT_EQ(steps->topLevelItem(0)->text(1), "definition 510");
    EXPECT_EQ(steps->topLevelItem(0)->text(4), "Error");
    EXPECT_EQ(log->findChild<QTreeWidget*>("Runs")->topLevelItemCount(), 1);

    // Deactivate from the countdown.
    OP_CLOSE(OpOpenShared, Tasks.number());
    TAS.ID = 900;
    ASSERT_TRUE(Tasks.get(TAS_IDKEY));
    TAS.RUNNEXTDATE = today() - 1;
    ASSERT_TRUE(Tasks.put());
    OP_CLOSE(OpClose, Tasks.number());
    answer("&Deactivate the task");
    ASSERT_EQ(schedulerTick(), 1);
    EXPECT_EQ(row().ACTIVE, 0);
    EXPECT_EQ(Mem.DoTask, 0);

    // Postpone: no countdown until the hour has passed.
    OP_CLOSE(OpOpenShared, Tasks.number());
    TAS.ID = 900;
    ASSERT_TRUE(Tasks.get(TAS_IDKEY));
    TAS.ACTIVE = 1;
    ASSERT_TRUE(Tasks.put());
    OP_CLOSE(OpClose, Tasks.number());
    answer("&Postpone by (hours):");
    ASSERT_EQ(schedulerTick(), 1);
    EXPECT_EQ(schedulerTick(), 0);
    EXPECT_EQ(row().ACTIVE, 1);
}

TEST_F(TaskWindows, FormRefusesAnActiveTaskWithoutRunInformation) {
    QWidget* list = startProcedure("BrowseTasks");
    ASSERT_NE(list, nullptr);
    click(list, "&Add");
    auto* form = list->findChild<QDialog*>("TaskForm");
    ASSERT_NE(form, nullptr);
    form->findChild<QLineEdit*>("Description")->setText("Weekly import");
    for (auto* c : form->findChildren<QCheckBox*>())
        if (c->text() == "Purge" || c->text() == "Active") c->setChecked(true);
    form->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    ASSERT_EQ(headless.shown.size(), 1u);
    EXPECT_EQ(headless.shown[0].title, " Warning! ");
    EXPECT_EQ(headless.shown[0].text, " A Task without run information cannot be active!");
    TasksRec added{};
    ASSERT_TRUE(taskNamed("Weekly import", added));
    EXPECT_EQ(added.ACTIVE, 0);
    EXPECT_EQ(added.DOPURGE, 1);
    EXPECT_NE(added.ID, 0u);
    EXPECT_NE(added.ID, 900u);
}

TEST_F(TaskWindows, StartTaskRunsTheChosenTaskOnce) {
    QWidget* w = startProcedure("StartTask");
    ASSERT_NE(w, nullptr);
    Mem.DoTask = 1;  // a countdown is open: no second start
    w->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    ASSERT_EQ(headless.shown.size(), 1u);
    EXPECT_EQ(headless.shown[0].text, "Another Task is already active!");
    Mem.DoTask = 0;
    w->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    QElapsedTimer clock;
    clock.start();
    while (taskRunning() && clock.elapsed() < 10000) QApplication::processEvents();
    EXPECT_EQ(lastRunResult(), 2);  // its definition is gone
    EXPECT_EQ(taskRuns(900).size(), 1u);
}

TEST_F(TaskWindows, DefinitionsAreDraggedIntoATaskChangedAndKeptWhileUsed) {
    addForumsRow(301, "Mail", 2, 1);
    const uint32_t a = definition("Inbox", home.path + "/in", 301);
    const uint32_t b = definition("Outbox", home.path + "/out", 301);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    QWidget* browse = startProcedure("BrowseBatch");
    ASSERT_NE(browse, nullptr);
    auto* defs = browse->findChild<QTreeWidget*>("Definitions");
    ASSERT_NE(defs, nullptr);
    ASSERT_EQ(defs->topLevelItemCount(), 2);
    EXPECT_EQ(defs->topLevelItem(0)->text(0), "Inbox");
    EXPECT_EQ(defs->topLevelItem(0)->text(1), "Unix Mail");
    EXPECT_EQ(defs->topLevelItem(0)->text(3), QString::fromStdString(home.path + "/in"));

    // The task window takes definitions dropped from the list, once each,
    // and nothing else.
    QWidget* tasks = startProcedure("BrowseTasks");
    ASSERT_NE(tasks, nullptr);
    click(tasks, "&Add");
    auto* form = tasks->findChild<QDialog*>("TaskForm");
    ASSERT_NE(form, nullptr);
    auto* chosen = form->findChild<QListWidget*>("TaskDefinitions");
    ASSERT_NE(chosen, nullptr);
    auto drop = [&](QMimeData* data) {
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(chosen->viewport(), &enter);
        QDropEvent e(QPointF(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(chosen->viewport(), &e);
        delete data;
    };
    defs->clearSelection();
    defs->topLevelItem(0)->setSelected(true);
    // What a drag of the selected rows carries.
    auto dragged = [&] { return defs->model()->mimeData(defs->selectionModel()->selectedIndexes()); };
    drop(dragged());
    drop(dragged());
    auto* text = new QMimeData;
    text->setText(QString::number(b));
    drop(text);
    ASSERT_EQ(chosen->count(), 1);
    EXPECT_EQ(chosen->item(0)->text(), "Inbox");

    // Without a mouse: "Add to task" in the list, Delete in the task window.
    defs->clearSelection();
    defs->topLevelItem(1)->setSelected(true);
    click(browse, "Add to &task");
    ASSERT_EQ(chosen->count(), 2);
    chosen->clearSelection();
    chosen->item(0)->setSelected(true);
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(chosen, &del);
    ASSERT_EQ(chosen->count(), 1);
    form->findChild<QLineEdit*>("Description")->setText("Outgoing");
    for (auto* c : form->findChildren<QCheckBox*>())
        if (c->text() == "Active") c->setChecked(false);
    form->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    TasksRec saved{};
    ASSERT_TRUE(taskNamed("Outgoing", saved));
    EXPECT_EQ(taskDefinitions(saved.ID), std::vector<uint32_t>{b});

    // Changing a definition: its masks (an empty list reads every file, as in
    // the wizard), and a description that another definition has is refused.
    defs->setCurrentItem(defs->topLevelItem(1));
    QTimer::singleShot(50, [] {
        auto* f = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!f || f->objectName() != "DefinitionForm") return;
        f->findChild<QLineEdit*>("Description")->setText("inbox");
        f->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        f->findChild<QLineEdit*>("Description")->setText("Sent mail");
        f->findChild<QLineEdit*>("Specs")->setText("*.mbx; *.MBX ;*.txt");
        f->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    click(browse, "&Change");
    ASSERT_EQ(headless.shown.size(), 1u);
    EXPECT_EQ(headless.shown[0].text, "Another import definition has this description!");
    EXPECT_EQ(fileSpecs(b), (std::vector<std::string>{"*.mbx", "*.txt"}));
    BatchRec changed{};
    ASSERT_TRUE(definitionNamed("Sent mail", changed));
    EXPECT_EQ(changed.ID, b);
    EXPECT_EQ(defs->topLevelItem(1)->text(0), "Sent mail");
    QTimer::singleShot(50, [] {
        auto* f = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!f || f->objectName() != "DefinitionForm") return;
        f->findChild<QLineEdit*>("Specs")->setText("");
        f->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    headless.shown.clear();
    click(browse, "&Change");
    EXPECT_TRUE(headless.shown.empty());
    EXPECT_EQ(fileSpecs(b), std::vector<std::string>{"*.*"});
    ImportSettings loaded;
    SetupCheck check;
    ASSERT_TRUE(loadDefinition(b, loaded, check)) << check.text;
    EXPECT_EQ(loaded.masks, "*.*");

    // A definition a task runs stays; another one goes after the question.
    headless.shown.clear();
    click(browse, "&Delete");
    ASSERT_EQ(headless.shown.size(), 1u);
    EXPECT_NE(headless.shown[0].text.find("\"Outgoing\""), std::string::npos) << headless.shown[0].text;
    EXPECT_EQ(listDefinitions().size(), 2u);
    defs->setCurrentItem(defs->topLevelItem(0));
    headless.answers.push_back(BtnNo);
    click(browse, "&Delete");
    EXPECT_EQ(listDefinitions().size(), 2u);
    headless.answers.push_back(BtnYes);
    click(browse, "&Delete");
    ASSERT_EQ(listDefinitions().size(), 1u);
    EXPECT_EQ(listDefinitions()[0].ID, b);
    EXPECT_TRUE(fileSpecs(a).empty());
    EXPECT_EQ(defs->topLevelItemCount(), 1);
}

TEST_F(TaskWindows, OpenWorkWindowsHoldTheScheduler) {
    // While the import wizard is open no task starts, nor is one started by hand.
    QPointer<QWidget> wizard = startProcedure("ImportMeny");
    ASSERT_FALSE(wizard.isNull());
    EXPECT_EQ(NextTask(13, 0, nullptr), 1);
    EXPECT_EQ(schedulerTick(), 0);
    EXPECT_EQ(Mem.DoTask, 0);
    EXPECT_EQ(runTaskUnattended(900), 0);
    EXPECT_TRUE(taskRuns(900).empty());
    // A second work window counts as well: both must go.
    QPointer<QWidget> rebuild = startProcedure("RebuildMeny");
    ASSERT_FALSE(rebuild.isNull());
    wizard->close();
    ASSERT_TRUE(waitFor([&] { return wizard.isNull(); }));
    EXPECT_EQ(NextTask(13, 0, nullptr), 1);
    rebuild->close();
    ASSERT_TRUE(waitFor([&] { return rebuild.isNull(); }));
    EXPECT_EQ(NextTask(13, 0, nullptr), 0);
    NextTask(14, 0, nullptr);  // never below none
    EXPECT_EQ(NextTask(13, 0, nullptr), 0);

    // Reading windows do not hold it; the run closes them before it starts.
    QPointer<QWidget> log = startProcedure("ShowLog");
    QPointer<QWidget> defs = startProcedure("BrowseBatch");
    ASSERT_FALSE(log.isNull());
    ASSERT_FALSE(defs.isNull());
    EXPECT_EQ(NextTask(13, 0, nullptr), 0);
    QWidget* start = startProcedure("StartTask");
    ASSERT_NE(start, nullptr);
    start->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    EXPECT_EQ(procedureWindow("ShowLog"), nullptr);
    EXPECT_EQ(procedureWindow("BrowseBatch"), nullptr);
    ASSERT_TRUE(waitFor([&] { return !taskRunning() && log.isNull() && defs.isNull(); }));
    EXPECT_EQ(taskRuns(900).size(), 1u);
}

TEST_F(TaskWindows, JobsRunInTheirWindowsAndReportTheirEnd) {
    TasksRec t{};
    ASSERT_NO_FATAL_FAILURE(mailTask(t, "Mail and index"));
    QWidget* start = startProcedure("StartTask");
    ASSERT_NE(start, nullptr);
    auto* which = start->findChild<QComboBox*>();
    which->setCurrentIndex(which->findData(t.ID));
    bool counting = false, indexing = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        counting = counting || procedureWindow("CountMess") != nullptr;
        indexing = indexing || procedureWindow("AutoIndex") != nullptr;
    });
    watch.start(1);
    start->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    ASSERT_TRUE(taskRunning());
    ASSERT_TRUE(waitFor([] { return !taskRunning(); }, 60000));
    watch.stop();
    EXPECT_EQ(lastRunResult(), 1);
    EXPECT_TRUE(headless.shown.empty()) << headless.shown[0].text;

    // Import, count and indexing, each logged with its end; the jobs ran in
    // their windows, which went with the run.
    EXPECT_EQ(loggedSteps(), (std::vector<std::pair<int, int>>{{StepImport, 1}, {StepCount, 1}, {StepIndex, 1}}));
    EXPECT_TRUE(counting);
    EXPECT_TRUE(indexing);
    ASSERT_TRUE(waitFor([] { return NextTask(13, 0, nullptr) == 0; }));
    EXPECT_EQ(procedureWindow("AutoIndex"), nullptr);
    TasksRec after{};
    ASSERT_TRUE(taskNamed("Mail and index", after));
    EXPECT_EQ(after.ACTIVE, 0);  // a run-now task without a next start ran once
    EXPECT_EQ(after.RESULTCODE, 1);
}

TEST_F(TaskWindows, AFailedJobWindowEndsTheRunAndTheTask) {
    // A weekly task: after a good run it would stay active.
    TasksRec t{};
    ASSERT_NO_FATAL_FAILURE(mailTask(t, "Weekly mail"));
    t.RUNNEXTDATE = today() + 1;
    t.RUNNEXTTIME = clockTime(3, 0, 0);
    t.DAYS[weekday(today())] = 1;
    ASSERT_TRUE(saveTask(t, false, {}, false));
    // Another indexer holds the word index: the indexing window's run cannot start.
    IndexingInProgress = true;
    QWidget* start = startProcedure("StartTask");
    ASSERT_NE(start, nullptr);
    auto* which = start->findChild<QComboBox*>();
    which->setCurrentIndex(which->findData(t.ID));
    start->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    const bool ended = waitFor([] { return !taskRunning(); }, 60000);
    IndexingInProgress = false;
    ASSERT_TRUE(ended);
    EXPECT_EQ(lastRunResult(), 2);
    EXPECT_TRUE(headless.shown.empty()) << headless.shown[0].text;
    EXPECT_EQ(loggedSteps(), (std::vector<std::pair<int, int>>{{StepImport, 1}, {StepCount, 1}, {StepIndex, 2}}));
    TasksRec after{};
    ASSERT_TRUE(taskNamed("Weekly mail", after));
    EXPECT_EQ(after.ACTIVE, 0);
    EXPECT_EQ(after.RUNNOWDATE, 0);
    EXPECT_EQ(after.RESULTCODE, 2);
    EXPECT_EQ(after.RUNNEXTDATE, today() + 1);  // a run-now run leaves the next start
    ASSERT_TRUE(waitFor([] { return NextTask(13, 0, nullptr) == 0; }));
}

} // namespace
