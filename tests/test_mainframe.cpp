// The main frame, driven offscreen: title and menus per database kind, the
// procedure commands, the status bar, the exit guard and the saved layout.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QMenuBar>
#include <QPixmap>
#include <QPointer>
#include <QToolBar>
#include <QTreeWidget>
#include <QHeaderView>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/layout.h"
#include "app/mainframe.h"
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
#include "core/ui.h"
#include "tests/testutil.h"

namespace fs = std::filesystem;
using namespace qb;

namespace {

void ensureApp() {
    if (QApplication::instance()) return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char arg0[] = "qbtests";
    static char* argv[] = {arg0, nullptr};
    new QApplication(argc, argv);
}

class MainFrameTest : public ::testing::Test {
protected:
    TempDir dir;
    HeadlessUi headless;

    void SetUp() override {
        ensureApp();
        setUi(&headless);
        Mem = MemGlobals{};
        IndexingInProgress = false;
        StartupResult r = startUp(dir.path + "/home");
        ASSERT_TRUE(r.ok) << r.failure;
    }
    void TearDown() override {
        IndexingInProgress = false;
        closeAllProcedures();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (Table* t : allTables()) OP_CLOSE(OpForceClose, t->number());
        setUi(nullptr);
    }

    // A registry row of the given kind with its directory, as the import
    // would leave it.
    uint32_t addDatabase(uint8_t type, const std::string& name, uint32_t dirNumber) {
        OP_CLOSE(OpOpenShared, Forums.number(), Control.number());
        Forums.clearBuffer();
        FOR.ID = NextNr();
        FOR.DIRNUMBER = dirNumber;
        FOR.TYPE = type;
        FOR.DESCRIPTION = name;
        FOR.CREATED = today();
        EXPECT_TRUE(Forums.add()) << errorText();
        const uint32_t id = FOR.ID;
        OP_CLOSE(OpClose, Forums.number(), Control.number());
        fs::create_directories(Mem.FileDir + "/F" + std::to_string(dirNumber));
        return id;
    }

    static QString menuTitle(MainFrame& f, int index) { return f.menuBar()->actions().at(index)->text(); }
    bool shown(const std::string& title, const std::string& text) const {
        for (const auto& b : headless.shown)
            if (b.title == title && b.text == text) return true;
        return false;
    }
};

TEST_F(MainFrameTest, WithoutDatabaseTheDatabaseCommandsAreOff) {
    MainFrame frame;
    EXPECT_EQ(frame.windowTitle(), "[No Active Database] - Quillbox");
    EXPECT_TRUE(frame.windowTitle().startsWith("[No Active Database]"));
    for (const char* p : {"BrowseMsgNmbr", "BrowsePerson", "BrowseTopics", "PurgeMess", "Duplicates", "SearchWz",
                          "AutoIndex", "WordList", "AddressExport", "SetIndex"}) {
        ASSERT_NE(frame.procedureAction(p), nullptr) << p;
        EXPECT_FALSE(frame.procedureAction(p)->isEnabled()) << p;
    }
    for (const char* p : {"ChangeForum", "BrowseBox", "ImportMeny", "MergeMeny", "RebuildMeny", "BrowseTasks",
                          "BrowseBatch", "StartTask", "ShowLog", "StopList", "UserPanel", "About"}) {
        ASSERT_NE(frame.procedureAction(p), nullptr) << p;
        EXPECT_TRUE(frame.procedureAction(p)->isEnabled()) << p;
    }
    EXPECT_FALSE(frame.personMenu()->menuAction()->isEnabled());
}

TEST_F(MainFrameTest, TitleAndMenusFollowTheDatabaseKind) {
    const uint32_t forum = addDatabase(1, "Linux MIPS Forum", 1);
    const uint32_t mail = addDatabase(2, "My Mail", 2);
    const uint32_t news = addDatabase(3, "comp.os.linux.mips", 3);
    MainFrame frame;

    struct Kind {
        uint32_t id;
        QString title, person, browsePerson, mergePerson, browse, procedure;
    } kinds[] = {
        {forum, "[Forum: Linux MIPS Forum] - Quillbox", "Forum Mem&bers", "&Browse Forum Members",
         "&Merge Duplicate Forum Members", "&Browse Messages", "BrowseMsgNmbr"},
        {mail, "[Mail: My Mail] - Quillbox", "Mail &Partners", "&Browse Mail Partners",
         "&Merge Duplicate Mail Partners", "&Browse Mail", "BrowseMail"},
        {news, "[Newsgroup: comp.os.linux.mips] - Quillbox", "Newsgroup &Participants",
         "&Browse Newsgroup Participants", "&Merge Duplicate Newsgroup Participants", "&Browse Messages",
         "BrowseMsgNmbr"},
    };
    for (const Kind& k : kinds) {
        ASSERT_TRUE(selectDatabase(k.id));
        EXPECT_EQ(frame.windowTitle(), k.title);
        EXPECT_EQ(frame.personMenu()->title(), k.person);
        EXPECT_EQ(frame.procedureAction("BrowsePerson")->text(), k.browsePerson);
        EXPECT_EQ(frame.procedureAction("Duplicates")->text(), k.mergePerson);
        QAction* browse = frame.procedureAction("BrowseMail");
        EXPECT_EQ(browse->text(), k.browse);
        EXPECT_EQ(browse->data().toString(), k.procedure);
        EXPECT_TRUE(browse->isEnabled());
        EXPECT_TRUE(frame.procedureAction("SearchWz")->isEnabled());
        EXPECT_TRUE(frame.personMenu()->menuAction()->isEnabled());
    }
    clearActiveDatabase();
    EXPECT_EQ(frame.windowTitle(), "[No Active Database] - Quillbox");
    EXPECT_EQ(frame.personMenu()->title(), "&Persons");
    EXPECT_FALSE(frame.procedureAction("BrowseMail")->isEnabled());
}

TEST_F(MainFrameTest, MenuCommandsStartProceduresByName) {
    MainFrame frame;
    frame.show();
    QAction* about = frame.procedureAction("About");
    about->trigger();
    QPointer<QWidget> w = procedureWindow("About");
    ASSERT_FALSE(w.isNull());
    EXPECT_TRUE(w->isVisible());
    about->trigger();  // brought to the front, not opened twice
    EXPECT_EQ(procedureWindow("About"), w.data());
    EXPECT_EQ(openProcedures().size(), 1u);

    // A procedure that is not built shows that and opens nothing.
    for (const char* p : {"PurgeMess", "RebuildMeny", "StartTask"}) {
        if (procedureAvailable(p)) continue;
        headless.shown.clear();
        frame.procedureAction(p)->setEnabled(true);
        frame.procedureAction(p)->trigger();
        ASSERT_EQ(headless.shown.size(), 1u) << p;
        EXPECT_EQ(headless.shown[0].text, std::string(p) + " is not available yet.");
        EXPECT_EQ(procedureWindow(p), nullptr);
    }

    // Closing the frame closes the procedure windows.
    ASSERT_TRUE(frame.close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(w.isNull());
}

TEST_F(MainFrameTest, StatusBarShowsDateAndTimeInTheUsersFormats) {
    int32_t n = 10;
    std::string t;
    Konfig(2, 10, n, t);
    n = 3;
    Konfig(2, 13, n, t);
    MainFrame frame;
    frame.refreshClock();
    EXPECT_EQ(frame.statusDate().toStdString(), formatDate(today(), "@D10-"));
    const std::string time = frame.statusTime().toStdString();
    EXPECT_TRUE(time.ends_with("AM") || time.ends_with("PM")) << time;

    n = 2;
    Konfig(2, 10, n, t);
    frame.refreshClock();
    EXPECT_EQ(frame.statusDate().toStdString(), formatDate(today(), "@D2-"));
}

TEST_F(MainFrameTest, ExitIsRefusedWhileIndexing) {
    MainFrame frame;
    frame.show();
    IndexingInProgress = true;
    EXPECT_FALSE(frame.close());
    EXPECT_TRUE(frame.isVisible());
    EXPECT_TRUE(shown("Exit Not Allowed", "You May NOT Exit until Indexing Is Done.|This is to Avoid Corruption."));
    // The menu's exit command goes the same way.
    headless.shown.clear();
    frame.findChild<QAction*>("Exit")->trigger();
    EXPECT_TRUE(frame.isVisible());
    EXPECT_EQ(headless.shown.size(), 1u);

    IndexingInProgress = false;
    headless.shown.clear();
    EXPECT_TRUE(frame.close());
    EXPECT_FALSE(frame.isVisible());
    EXPECT_TRUE(headless.shown.empty());
    EXPECT_EQ(openCount(Control.number()), 0);
    EXPECT_FALSE(Control.isOpen());
}

TEST_F(MainFrameTest, CloseSavesTheLayoutAndTheActiveDatabase) {
    const uint32_t mail = addDatabase(2, "Saved Mail", 4);
    {
        MainFrame frame;
        frame.show();
        ASSERT_TRUE(selectDatabase(mail));
        frame.resize(720, 510);
        frame.toolBar()->setVisible(false);
        ASSERT_TRUE(frame.close());
    }
    // The next start restores what the close saved.
    Mem = MemGlobals{};
    StartupOptions o;
    o.openLastDatabase = true;
    ASSERT_TRUE(startUp(dir.path + "/home", o).ok);
    EXPECT_EQ(Mem.ForumNumber, mail);
    int16_t x, y, w, h;
    WindowPos(3, 1, x, y, w, h);
    EXPECT_EQ(w, 720);
    EXPECT_EQ(h, 510);
    MainFrame again;
    EXPECT_EQ(again.size(), QSize(720, 510));
    EXPECT_EQ(again.windowTitle(), "[Mail: Saved Mail] - Quillbox");
    EXPECT_TRUE(again.toolBar()->isHidden());
}

TEST_F(MainFrameTest, WindowAndColumnLayoutOfOtherWindows) {
    QTreeWidget tree;
    tree.setColumnCount(3);
    tree.header()->setStretchLastSection(false);
    tree.header()->resizeSection(0, 90);
    // Factory widths of 0 leave the list as it lays itself out.
    ASSERT_TRUE(restoreListColumns(7, tree.header()));
    EXPECT_EQ(tree.header()->sectionSize(0), 90);

    std::vector<int16_t> before;
    ListCol(3, 7, before);
    tree.header()->resizeSection(0, 140);
    tree.header()->resizeSection(1, 60);
    tree.header()->resizeSection(2, 45);
    ASSERT_TRUE(storeListColumns(7, tree.header()));
    std::vector<int16_t> widths;
    ListCol(3, 7, widths);
    EXPECT_EQ(widths, (std::vector<int16_t>{140, 60, 45, before[3], before[4]}));

    QTreeWidget other;
    other.setColumnCount(3);
    other.header()->setStretchLastSection(false);
    ASSERT_TRUE(restoreListColumns(7, other.header()));
    EXPECT_EQ(other.header()->sectionSize(0), 140);
    EXPECT_EQ(other.header()->sectionSize(2), 45);
    EXPECT_FALSE(restoreListColumns(21, other.header()));

    QWidget window;
    window.resize(500, 300);
    window.move(10, 20);
    ASSERT_TRUE(storeWindowPos(2, 7, &window));
    int16_t x, y, w, h;
    WindowPos2(3, 7, x, y, w, h);
    EXPECT_EQ(w, 500);
    EXPECT_EQ(h, 300);
    WindowPos(3, 7, x, y, w, h);
    EXPECT_NE(w, 500);  // the first set is apart
    QWidget again;
    ASSERT_TRUE(restoreWindowPos(2, 7, &again));
    EXPECT_EQ(again.size(), QSize(500, 300));
    EXPECT_FALSE(storeWindowPos(1, 26, &window));
}

TEST(LocatorKeyTest, KeyPressesBecomeLocatorCharacters) {
    auto key = [](int k, Qt::KeyboardModifiers m, const QString& text) {
        QKeyEvent e(QEvent::KeyPress, k, m, text);
        return locatorChar(locatorKey(&e));
    };
    EXPECT_EQ(key(Qt::Key_S, Qt::NoModifier, "s"), 's');
    EXPECT_EQ(key(Qt::Key_S, Qt::ShiftModifier, "S"), 'S');
    EXPECT_EQ(key(Qt::Key_7, Qt::KeypadModifier, "7"), '7');
    EXPECT_EQ(key(Qt::Key_4, Qt::NoModifier, "4"), '4');
    EXPECT_EQ(key(Qt::Key_Space, Qt::NoModifier, " "), ' ');
    EXPECT_EQ(key(Qt::Key_Asterisk, Qt::KeypadModifier, "*"), '*');
    EXPECT_EQ(key(Qt::Key_Return, Qt::NoModifier, "\r"), 0);
    EXPECT_EQ(key(Qt::Key_C, Qt::ControlModifier, ""), 0);
}

TEST_F(MainFrameTest, ScreenshotWithActiveDatabase) {
    const uint32_t news = addDatabase(3, "comp.os.linux.mips", 5);
    MainFrame frame;
    frame.resize(820, 420);
    ASSERT_TRUE(selectDatabase(news));
    frame.show();
    QCoreApplication::processEvents();
    const QPixmap shot = frame.grab();
    ASSERT_FALSE(shot.isNull());
    EXPECT_EQ(shot.size(), frame.size() * shot.devicePixelRatio());
    // Not one flat colour: menus, toolbar and status bar are drawn.
    const QImage img = shot.toImage();
    const QRgb first = img.pixel(0, 0);
    bool varied = false;
    for (int y = 0; y < img.height() && !varied; y += 3)
        for (int x = 0; x < img.width() && !varied; x += 3) varied = img.pixel(x, y) != first;
    EXPECT_TRUE(varied);
    if (const char* out = std::getenv("QB_WRITE_SCREENSHOTS"); out && *out) {
        EXPECT_TRUE(shot.save(QString::fromUtf8(QB_SOURCE_DIR "/docs/mainframe.png")));
    }
}

// Answers the next message box: clicks the button, or closes it like Escape.
void answerNextBox(QMessageBox::StandardButton button, QString* title = nullptr, QString* text = nullptr) {
    QTimer::singleShot(0, [=] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        if (title) *title = box->windowTitle();
        if (text) *text = box->text();
        if (button == QMessageBox::NoButton) box->reject();
        else if (QAbstractButton* b = box->button(button)) b->click();
        else box->reject();
    });
}

TEST(QtUiTest, BoxesShowTheTextAndGiveTheChosenButton) {
    ensureApp();
    EXPECT_EQ(QtUi::displayText("Line one\r\nLine two|Line three"), "Line one\nLine two\nLine three");
    EXPECT_EQ(QtUi::displayText("Caf\xE9 \x93quoted\x94"), QString::fromUtf8("Caf\u00e9 \u201cquoted\u201d"));
    EXPECT_EQ(QtUi::displayTitle(" Path Not Found"), "Path Not Found");
    EXPECT_EQ(QtUi::displayTitle(""), "Quillbox");

    QtUi qt;
    QString title, text;
    answerNextBox(QMessageBox::Ok, &title, &text);
    qt.message("Exit Not Allowed", "You May NOT Exit until Indexing Is Done.|This is to Avoid Corruption.",
               Icon::Exclamation);
    EXPECT_EQ(title, "Exit Not Allowed");
    EXPECT_EQ(text, "You May NOT Exit until Indexing Is Done.\nThis is to Avoid Corruption.");

    answerNextBox(QMessageBox::No);
    EXPECT_EQ(qt.ask("Question", "Delete?", BtnYes | BtnNo, BtnYes, Icon::Question), unsigned(BtnNo));
    answerNextBox(QMessageBox::Retry);
    EXPECT_EQ(qt.ask("Question", "Again?", BtnAbort | BtnRetry | BtnIgnore, BtnAbort, Icon::Question),
              unsigned(BtnRetry));
    // Escape gives the cancelling answer of the buttons offered.
    answerNextBox(QMessageBox::NoButton);
    EXPECT_EQ(qt.ask("Question", "Save?", BtnYes | BtnNo | BtnCancel, BtnYes, Icon::Question), unsigned(BtnCancel));
    answerNextBox(QMessageBox::NoButton);
    EXPECT_EQ(qt.ask("Question", "Go on?", BtnYes | BtnNo, BtnYes, Icon::Question), unsigned(BtnNo));
}

} // namespace
