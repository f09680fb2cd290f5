#include "app/mainframe.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>

#include "app/layout.h"
#include "app/procedures.h"
#include "app/qtui.h"
#include "app/startup.h"
#include "core/access.h"
#include "core/dates.h"
#include "core/globals.h"
#include "core/registry.h"
#include "core/settings.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/ui.h"

namespace qb {

namespace {

// Window 1 of the first set of window positions is the frame.
constexpr int kFrameWindow = 1;
// Group B: 1 minus "Show toolbar"; the frame was maximized.
constexpr int kItemToolbarHidden = 42;
// Group A item 2, the display of the frame: 1 normal, 2 maximised.
constexpr int kItemFrameDisplay = 2;

const char* const kExitTitle = "Exit Not Allowed";
const char* const kExitText = "You May NOT Exit until Indexing Is Done.|This is to Avoid Corruption.";

QString fromLatin(const std::string& s) { return QString::fromStdString(toUtf8(s)); }

// Closes every table and resets the open counts, so that a later start in
// the same process opens them afresh.
void closeEveryTable() {
    for (Table* t : allTables()) OP_CLOSE(OpForceClose, t->number());
    closeAllTables();
}

// The program's about box, a procedure like the others.
QWidget* makeAbout(QWidget* parent) {
    auto* d = new QDialog(parent);
    d->setWindowTitle(QStringLiteral("About Quillbox"));
    auto* layout = new QVBoxLayout(d);
    auto* text = new QLabel(QStringLiteral("<h3>Quillbox %1</h3><p>A message archiver: forum messages, mail and "
                                           "newsgroup articles kept for reading, search and export.</p>"
                                           "<p>Program directory: %2</p>")
                                .arg(QStringLiteral(QB_VERSION), fromLatin(Mem.Net).toHtmlEscaped()),
                            d);
    text->setWordWrap(true);
    layout->addWidget(text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, d);
    QObject::connect(buttons, &QDialogButtonBox::accepted, d, &QDialog::close);
    layout->addWidget(buttons);
    return d;
}
const bool aboutRegistered = registerProcedure("About", makeAbout);

// The program's application object: a stop of the library inside any event
// handler ends the event loop instead of unwinding through Qt.
class StoppingApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool stopped = false;
    std::string stopText, haltText;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const ProgramStop& stop) {
            if (!stopped) {
                stopped = true;
                stopText = stop.what();
                haltText = stop.haltText;
                closeEveryTable();
                QApplication::exit(3);
            }
            return true;
        }
    }
};

void showWelcome(QWidget* parent) {
    QMessageBox::information(
        parent, QStringLiteral("Welcome to Quillbox"),
        QStringLiteral("Welcome to Quillbox!\n\n"
                       "Quillbox keeps the messages that your reader programs have saved: forum messages, "
                       "mail and newsgroup articles.\n\n"
                       "To begin, choose File > Import Messages and pick the reader and the files it saved. "
                       "The databases are created as the messages arrive; File > Select Database opens one.\n\n"
                       "Directories, formats and colours are set in File > Preferences."));
}

} // namespace

PersonMenuTexts personMenuTexts(int forumType) {
    switch (forumType) {
    case 1:
        return {QStringLiteral("Forum Mem&bers"), QStringLiteral("&Browse Forum Members"),
                QStringLiteral("&Merge Duplicate Forum Members")};
    case 2:
        return {QStringLiteral("Mail &Partners"), QStringLiteral("&Browse Mail Partners"),
                QStringLiteral("&Merge Duplicate Mail Partners")};
    case 3:
        return {QStringLiteral("Newsgroup &Participants"), QStringLiteral("&Browse Newsgroup Participants"),
                QStringLiteral("&Merge Duplicate Newsgroup Participants")};
    default:
        return {QStringLiteral("&Persons"), QStringLiteral("&Browse Persons"),
                QStringLiteral("&Merge Duplicate Persons")};
    }
}

QString frameTitle() {
    if (Mem.ForumNumber == 0) return QStringLiteral("[No Active Database] - Quillbox");
    QString kind;
    switch (Mem.ForumType) {
    case 1: kind = QStringLiteral("Forum"); break;
    case 2: kind = QStringLiteral("Mail"); break;
    case 3: kind = QStringLiteral("Newsgroup"); break;
    default: kind = QStringLiteral("Database"); break;
    }
    return QStringLiteral("[%1: %2] - Quillbox").arg(kind, fromLatin(Mem.Description));
}

MainFrame::MainFrame(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("MainFrame"));

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    addProcedure(file, QStringLiteral("&Select Database..."), "ChangeForum", false);
    addProcedure(file, QStringLiteral("&Database List..."), "BrowseBox", false);
    file->addSeparator();
    addProcedure(file, QStringLiteral("&Import Messages..."), "ImportMeny", false);
    addProcedure(file, QStringLiteral("&Merge Databases..."), "MergeMeny", false);
    addProcedure(file, QStringLiteral("&Rebuild Database List..."), "RebuildMeny", false);
    file->addSeparator();
    addProcedure(file, QStringLiteral("&Preferences..."), "UserPanel", false);
    file->addSeparator();
    QAction* exitAction = file->addAction(QStringLiteral("E&xit"));
    exitAction->setObjectName(QStringLiteral("Exit"));
    connect(exitAction, &QAction::triggered, this, &QWidget::close);

    databaseMenu_ = menuBar()->addMenu(QStringLiteral("&Messages"));
    browseMessages_ = addProcedure(databaseMenu_, QStringLiteral("&Browse Messages"), "BrowseMsgNmbr", true);
    addProcedure(databaseMenu_, QStringLiteral("Browse &Topics"), "BrowseTopics", true);
    databaseMenu_->addSeparator();
    addProcedure(databaseMenu_, QStringLiteral("&Purge and Recount..."), "PurgeMess", true);
    addProcedure(databaseMenu_, QStringLiteral("&Count Messages..."), "CountMess", true);
    addProcedure(databaseMenu_, QStringLiteral("Address &Export..."), "AddressExport", true);

    personMenu_ = menuBar()->addMenu(QStringLiteral("&Persons"));
    addProcedure(personMenu_, QStringLiteral("&Browse Persons"), "BrowsePerson", true);
    addProcedure(personMenu_, QStringLiteral("&Merge Duplicate Persons"), "Duplicates", true);

    searchMenu_ = menuBar()->addMenu(QStringLiteral("&Search"));
    addProcedure(searchMenu_, QStringLiteral("&Search Wizard..."), "SearchWz", true);
    addProcedure(searchMenu_, QStringLiteral("&Word Indexing..."), "AutoIndex", true);
    addProcedure(searchMenu_, QStringLiteral("Word &Definition..."), "SetIndex", true);
    addProcedure(searchMenu_, QStringLiteral("Word &List..."), "WordList", true);
    addProcedure(searchMenu_, QStringLiteral("&Ignore List..."), "StopList", false);

    QMenu* tasks = menuBar()->addMenu(QStringLiteral("&Tasks"));
    addProcedure(tasks, QStringLiteral("&Scheduled Tasks..."), "BrowseTasks", false);
    addProcedure(tasks, QStringLiteral("&Import Definitions..."), "BrowseBatch", false);
    addProcedure(tasks, QStringLiteral("S&tart Task..."), "StartTask", false);
    addProcedure(tasks, QStringLiteral("Task &Log..."), "ShowLog", false);

    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    toolbarToggle_ = view->addAction(QStringLiteral("&Toolbar"));
    toolbarToggle_->setCheckable(true);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    addProcedure(help, QStringLiteral("&About Quillbox..."), "About", false);

    toolBar_ = addToolBar(QStringLiteral("Main"));
    toolBar_->setObjectName(QStringLiteral("MainToolBar"));
    toolBar_->setMovable(false);
    for (const char* p : {"ChangeForum", "BrowseMsgNmbr", "BrowsePerson", "BrowseTopics", "SearchWz", "ImportMeny"})
        toolBar_->addAction(procedureAction(p));
    connect(toolbarToggle_, &QAction::toggled, toolBar_, &QToolBar::setVisible);
    connect(toolBar_, &QToolBar::visibilityChanged, this, [this](bool on) {
        if (!isVisible()) return;  // hiding the frame hides its toolbar too
        toolbarToggle_->setChecked(on);
    });

    centre_ = new QLabel(this);
    centre_->setObjectName(QStringLiteral("FrameBackground"));
    centre_->setAlignment(Qt::AlignCenter);
    centre_->setTextFormat(Qt::RichText);
    setCentralWidget(centre_);

    databaseLabel_ = new QLabel(this);
    dateLabel_ = new QLabel(this);
    timeLabel_ = new QLabel(this);
    databaseLabel_->setObjectName(QStringLiteral("StatusDatabase"));
    dateLabel_->setObjectName(QStringLiteral("StatusDate"));
    timeLabel_->setObjectName(QStringLiteral("StatusTime"));
    statusBar()->addWidget(databaseLabel_, 1);
    statusBar()->addPermanentWidget(dateLabel_);
    statusBar()->addPermanentWidget(timeLabel_);

    clock_ = new QTimer(this);
    connect(clock_, &QTimer::timeout, this, &MainFrame::refreshClock);
    clock_->start(1000);

    // The due-task check of the task manager.
    taskTick_ = new QTimer(this);
    connect(taskTick_, &QTimer::timeout, this, [this] {
        try {
            SemaFore(206);
        } catch (const ProgramStop&) {
            closeEveryTable();
            QApplication::exit(3);
        }
    });
    taskTick_->start(15000);

    QPointer<MainFrame> self(this);
    onActiveDatabaseChanged([self] {
        if (self) self->refreshDatabase();
    });

    restoreLayout();
    refreshDatabase();
    refreshClock();
}

QAction* MainFrame::addProcedure(QMenu* menu, const QString& text, const std::string& procedure,
                                 bool needsDatabase) {
    QAction* a = menu->addAction(text);
    a->setObjectName(QString::fromStdString(procedure));
    a->setData(QString::fromStdString(procedure));
    connect(a, &QAction::triggered, this, [this, a] { runProcedure(a->data().toString().toStdString()); });
    actions_[procedure] = a;
    needsDatabase_[a] = needsDatabase;
    return a;
}

QAction* MainFrame::procedureAction(const std::string& procedure) const {
    const std::string key = procedure == "BrowseMail" ? "BrowseMsgNmbr" : procedure;
    auto it = actions_.find(key);
    return it == actions_.end() ? nullptr : it->second;
}

void MainFrame::runProcedure(const std::string& procedure) {
    try {
        startProcedure(procedure, this);
    } catch (const ProgramStop&) {
        // The library has shown why it stops.
        closeEveryTable();
        QApplication::exit(3);
    }
}

void MainFrame::refreshDatabase() {
    const bool active = Mem.ForumNumber != 0;
    setWindowTitle(frameTitle());
    for (auto& [a, needs] : needsDatabase_)
        if (needs) a->setEnabled(active);

    const bool mail = Mem.ForumType == 2;
    browseMessages_->setData(QString::fromLatin1(mail ? "BrowseMail" : "BrowseMsgNmbr"));
    browseMessages_->setText(mail ? QStringLiteral("&Browse Mail") : QStringLiteral("&Browse Messages"));

    const PersonMenuTexts t = personMenuTexts(active ? Mem.ForumType : 0);
    personMenu_->setTitle(t.menu);
    actions_["BrowsePerson"]->setText(t.browse);
    actions_["Duplicates"]->setText(t.merge);
    personMenu_->menuAction()->setEnabled(active);
    databaseMenu_->menuAction()->setEnabled(active);

    databaseLabel_->setText(active ? fromLatin(Mem.Description) : QStringLiteral("No active database"));
    QString kind;
    switch (active ? Mem.ForumType : 0) {
    case 1: kind = QStringLiteral("Forum database"); break;
    case 2: kind = QStringLiteral("Mail database"); break;
    case 3: kind = QStringLiteral("Newsgroup database"); break;
    default: kind = QStringLiteral("Database"); break;
    }
    const QString line = active ? kind + QStringLiteral(": ") + fromLatin(Mem.Description).toHtmlEscaped()
                                : QStringLiteral("No active database &mdash; File &gt; Select Database opens one");
    centre_->setText(QStringLiteral("<div style='color:#9a9a9a; font-size:30pt; font-weight:bold'>Quillbox</div>"
                                    "<div style='color:#707070; font-size:12pt'>%1</div>")
                         .arg(line));
}

QString MainFrame::statusDate() const { return dateLabel_->text(); }
QString MainFrame::statusTime() const { return timeLabel_->text(); }

void MainFrame::refreshClock() {
    std::string name, picture;
    SetDate(name, picture);
    if (picture.empty()) picture = "@D17";
    dateLabel_->setText(QString::fromStdString(formatDate(today(), picture)));
    SetTime(name, picture);
    if (picture.empty()) picture = "@T7";
    timeLabel_->setText(QString::fromStdString(formatTime(clockNow(), picture)));
}

void MainFrame::restoreLayout() {
    restoreWindowPos(1, kFrameWindow, this);
    const bool toolbar = konfigNumber(kItemToolbarHidden) == 0;
    toolBar_->setVisible(toolbar);
    toolbarToggle_->setChecked(toolbar);
    if (konfigNumber(kItemFrameDisplay) == 2) setWindowState(windowState() | Qt::WindowMaximized);
}

void MainFrame::storeLayout() {
    storeWindowPos(1, kFrameWindow, this);
    int32_t n = toolbarToggle_->isChecked() ? 0 : 1;
    std::string text;
    Konfig(7, kItemToolbarHidden, n, text);
    n = isMaximized() ? 2 : 1;
    Konfig(2, kItemFrameDisplay, n, text);
}

bool MainFrame::closeProcedureWindows() {
    for (const std::string& name : openProcedures())
        if (QWidget* w = procedureWindow(name); w && !w->close()) return false;  // it said why
    return true;
}

void MainFrame::closeEvent(QCloseEvent* event) {
    if (IndexingInProgress) {
        ui().message(kExitTitle, kExitText, Icon::Exclamation);
        event->ignore();
        return;
    }
    if (!closeProcedureWindows()) {
        event->ignore();
        return;
    }
    clock_->stop();
    taskTick_->stop();
    try {
        storeLayout();
        saveLayout();
    } catch (const ProgramStop&) {
        // Shown already; the frame closes all the same.
    }
    closeEveryTable();
    event->accept();
}

int runMainWindow(const std::string& home) {
    const auto set = [](const char* v) {
        const char* s = std::getenv(v);
        return s && *s;
    };
    if (!set("DISPLAY") && !set("WAYLAND_DISPLAY") && !set("QT_QPA_PLATFORM")) {
        std::fprintf(stderr,
                     "qbox: no display to open the main window on (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                     "qbox: run a command instead (qbox help lists them).\n");
        return 1;
    }
    static int argc = 1;
    static char arg0[] = "qbox";
    static char* argv[] = {arg0, nullptr};
    QApplication* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app) app = new StoppingApplication(argc, argv);
    app->setApplicationName(QStringLiteral("Quillbox"));

    QtUi qtUi;
    setUi(&qtUi);
    struct RestoreUi {
        ~RestoreUi() { setUi(nullptr); }
    } restoreUi;

    StartupOptions options;
    options.openLastDatabase = true;
    options.checkTasks = true;
    const StartupResult started = startUp(home, options);
    if (!started.ok) {
        std::fprintf(stderr, "qbox: %s\n", started.failure.c_str());
        closeEveryTable();
        return 1;
    }

    MainFrame frame;
    frame.show();
    Mem.ScrRes = frame.width() >= 450 || frame.height() >= 260 ? 1 : 0;
    if (started.firstRun) {
        QTimer::singleShot(0, &frame, [&frame] {
            if (semaForeAvailable(22)) SemaFore(22);
            else showWelcome(&frame);
        });
    }
    const int rc = app->exec();
    closeEveryTable();
    if (auto* s = dynamic_cast<StoppingApplication*>(app); s && s->stopped) {
        std::fprintf(stderr, "qbox: %s\n", s->stopText.c_str());
        if (!s->haltText.empty()) std::fprintf(stderr, "qbox: %s\n", s->haltText.c_str());
        return 3;
    }
    return rc;
}

} // namespace qb
