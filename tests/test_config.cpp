// Settings by name: `qbox config`, the preferences window and what they
// store, `search --long` / `find --long`, and the progress of a piped log.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>
#include <QTabWidget>

#include <filesystem>
#include <map>
#include <set>

#include "app/browsewindow.h"
#include "app/commands.h"
#include "app/config.h"
#include "app/preferences.h"
#include "core/access.h"
#include "core/globals.h"
#include "core/settings.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"
#include "tests/qboxrun.h"
#include "tests/reading_runs.h"
#include "tests/testutil.h"

namespace fs = std::filesystem;
using namespace qb;

namespace {


class ConfigCli : public ::testing::Test {
protected:
    TempDir tmp;
    std::string home;
    void SetUp() override { home = tmp.path + "/home"; }
    QboxOutcome qbox(std::vector<std::string> args) { return runQbox(home, tmp.path, std::move(args)); }
    std::map<std::string, std::vector<std::string>> listed() {
        std::map<std::string, std::vector<std::string>> m;
        for (auto& row : tabRows(qbox({"config", "list"}).out)) m[row.at(0)] = row;
        return m;
    }
};

TEST_F(ConfigCli, ListShowsEverySettingWithValueAndDefault) {
    QboxOutcome r = qbox({"config", "list"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto rows = tabRows(r.out);
    ASSERT_EQ(rows.size(), settingDefs().size());
    std::set<std::string> names;
    for (auto& row : rows) {
        ASSERT_EQ(row.size(), 3u) << row.at(0);
        EXPECT_EQ(row[1], row[2]) << row[0] << ": a new home holds the defaults";
        names.insert(row[0]);
    }
    for (const char* n : {"date-format", "time-format", "data-dir", "temp-dir", "index-dir", "auto-stop-mail",
                          "auto-stop-forum", "auto-stop-news", "index-numbers", "task-processing",
                          "export-line-width"})
        EXPECT_TRUE(names.count(n)) << n;
    auto m = listed();
    EXPECT_EQ(m["date-format"][1], "system");
    EXPECT_EQ(m["data-dir"][1], fs::absolute(home).lexically_normal().string());
    EXPECT_EQ(m["temp-dir"][1], fs::absolute(home).lexically_normal().string() + "/TEMP");
    EXPECT_EQ(m["keep-colour"][1], "#000080");
    EXPECT_EQ(m["list-font"][1], "Arial,8");
}

TEST_F(ConfigCli, SetValuesAreStoredAndReadBackByTheNextRun) {
    const std::string idx = tmp.path + "/index";
    fs::create_directories(idx);
    const std::vector<std::pair<std::string, std::string>> values = {
        {"date-format", "dd-mm-yyyy"}, {"time-format", "hh:mm"},    {"export-line-width", "72"},
        {"auto-stop-mail", "off"},     {"task-processing", "off"},  {"no-task-from", "22:30"},
        {"delete-colour", "#12AB34"},  {"text-font", "DejaVu Sans,11"}, {"index-dir", idx},
        {"export-mail-target", "unix"}, {"timing", "on"},           {"import-dir", "/srv/mail in"}};
    for (auto& [name, value] : values) {
        QboxOutcome r = qbox({"config", "set", name, value});
        ASSERT_EQ(r.status, 0) << name << ": " << r.err;
    }
    auto m = listed();
    for (auto& [name, value] : values) {
        EXPECT_EQ(m[name][1], value) << name;
        QboxOutcome g = qbox({"config", "get", name});
        EXPECT_EQ(g.out, value + "\n") << name;
    }
    // Letter case of names and on/off words does not matter.
    EXPECT_EQ(qbox({"config", "set", "Auto-Stop-Mail", "ON"}).status, 0);
    EXPECT_EQ(qbox({"config", "get", "auto-stop-mail"}).out, "on\n");
    // Switching the clock off again.
    EXPECT_EQ(qbox({"config", "set", "no-task-from", "off"}).status, 0);
    EXPECT_EQ(qbox({"config", "get", "no-task-from"}).out, "off\n");
}

TEST_F(ConfigCli, BadNamesAndValuesChangeNothing) {
    ASSERT_EQ(qbox({"config", "set", "export-line-width", "64"}).status, 0);
    const auto before = qbox({"config", "list"}).out;
    const std::vector<std::vector<std::string>> bad = {
        {"config", "set", "no-such-setting", "1"},
        {"config", "get", "no-such-setting"},
        {"config", "set", "export-line-width", "5"},
        {"config", "set", "export-line-width", "9999"},
        {"config", "set", "export-line-width", "7x"},
        {"config", "set", "speed-index", "8"},
        {"config", "set", "date-format", "dd.mm.yy"},
        {"config", "set", "auto-stop-news", "maybe"},
        {"config", "set", "keep-colour", "navy"},
        {"config", "set", "keep-colour", "#000000"},
        {"config", "set", "list-font", "Arial"},
        {"config", "set", "list-font", "A font name longer than twenty,8"},
        {"config", "set", "no-task-until", "24:10"},
        {"config", "set", "data-dir", tmp.path + "/missing"},
        {"config", "set", "index-dir", "relative/path"},
        {"config", "set", "import-dir", std::string(101, 'x')},
        {"config", "set", "export-forum-target", "unix"},
    };
    for (const auto& args : bad) {
        QboxOutcome r = qbox(args);
        EXPECT_EQ(r.status, 1) << args[2];
        EXPECT_FALSE(r.err.empty()) << args[2];
        EXPECT_TRUE(r.out.empty()) << args[2];
    }
    EXPECT_EQ(qbox({"config", "list"}).out, before);
    EXPECT_NE(qbox({"config", "set", "data-dir"}).status, 0);  // a value is needed
}

TEST_F(ConfigCli, ChangedDataDirectoryIsUsedByTheNextCommand) {
    const std::string data = tmp.path + "/data";
    fs::create_directories(data);
    ASSERT_EQ(qbox({"config", "set", "data-dir", data}).status, 0);
    QboxOutcome r = qbox({"db", "add-forum", "Elsewhere"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto row = tabRows(r.out).at(0);
    EXPECT_TRUE(fs::is_directory(data + "/" + row.at(3))) << "the database directory lies in the new data directory";
    EXPECT_FALSE(fs::exists(home + "/" + row.at(3)));
    // The temporary directory is created when it does not exist yet.
    ASSERT_EQ(qbox({"config", "set", "temp-dir", tmp.path + "/scratch"}).status, 0);
    EXPECT_TRUE(fs::is_directory(tmp.path + "/scratch"));
}

TEST_F(ConfigCli, LongSearchAndFindPrintTheListColumns) {
    const std::string mbox = sharedDataFile("linux-mips-1996-sample.mbox");
    if (mbox.empty()) GTEST_SKIP() << "the sample archive is not there";
    ASSERT_EQ(qbox({"db", "add-mail", "Mail", "--address", "me@example.org"}).status, 0);
    QboxOutcome imp = qbox({"import", "--reader", "Unix Mail", "--mail-db", "Mail", mbox});
    ASSERT_EQ(imp.status, 0) << imp.err;
    // A piped log gets a line per tenth of each step, not a redrawn bar.
    EXPECT_EQ(imp.err.find('\r'), std::string::npos);
    size_t lines = 0;
    for (char c : imp.err) lines += c == '\n';
    EXPECT_LT(lines, 60u) << imp.err;
    ASSERT_EQ(qbox({"index", "Mail"}).status, 0);

    std::map<std::string, std::vector<std::string>> listRows;
    for (auto& row : tabRows(qbox({"list", "Mail"}).out)) listRows[row.at(0)] = row;
    ASSERT_FALSE(listRows.empty());

    for (const std::vector<std::string>& cmd :
         {std::vector<std::string>{"search", "Mail", "--and", "kernel"}, {"find", "Mail", "kernel", "--words"}}) {
        std::vector<std::string> plainArgs = cmd, longArgs = cmd;
        longArgs.push_back("--long");
        QboxOutcome plain = qbox(plainArgs), lng = qbox(longArgs);
        ASSERT_EQ(plain.status, 0) << plain.err;
        ASSERT_EQ(lng.status, 0) << lng.err;
        auto ids = tabRows(plain.out);
        auto rows = tabRows(lng.out);
        ASSERT_FALSE(ids.empty()) << cmd[0];
        ASSERT_EQ(rows.size(), ids.size()) << cmd[0];
        for (size_t i = 0; i < rows.size(); ++i) {
            ASSERT_EQ(ids[i].size(), 1u);
            EXPECT_EQ(rows[i].at(0), ids[i][0]) << cmd[0] << ": same hits in the same order";
            EXPECT_EQ(rows[i], listRows[rows[i][0]]) << cmd[0] << ": the line that list prints";
        }
    }
}

// ---- The preferences window ---------------------------------------------------

class PreferencesTest : public ::testing::Test {
protected:
    TempDir tmp;
    HeadlessUi headless;
    static void SetUpTestSuite() { qb::testing::ensureApp(); }
    void SetUp() override {
        setUi(&headless);
        startHeadless(tmp.path);
    }
    void TearDown() override {
        for (Table* t : allTables()) OP_CLOSE(OpForceClose, t->number());
        closeAllTables();
        Mem = MemGlobals{};
        setUi(nullptr);
    }
    // What the control file holds, read by a fresh load of every group.
    std::string stored(const std::string& name) {
        EXPECT_EQ(loadSettingGroups(), 1);
        return settingValue(*findSetting(name));
    }
};

TEST_F(PreferencesTest, EveryPageSavesItsGroupAndTheProgramTakesIt) {
    PreferencesWindow w;
    ASSERT_EQ(w.pages()->count(), static_cast<int>(settingPages().size()));
    for (const SettingDef& d : settingDefs()) {
        ASSERT_NE(w.editor(d.name), nullptr) << d.name;
        EXPECT_EQ(w.editorValue(d.name), settingValue(d)) << d.name << ": the window shows what is stored";
    }
    const std::string idx = tmp.path + "/idx";
    fs::create_directories(idx);
    // One setting of each page, and of each stored group.
    const std::vector<std::pair<std::string, std::string>> changes = {
        {"date-format", "yyyy-mm-dd"},   // General, group A
        {"speed-index", "7"},            // Display, group B
        {"index-dir", idx},              // Directories, word settings
        {"export-mail-target", "eudora"},  // Export, group C
        {"export-wrap", "on"},           // Export, group B
        {"auto-stop-forum", "off"},      // Word index
        {"timing", "on"},                // General, group B
    };
    for (auto& [n, v] : changes) w.setEditorValue(n, v);
    ASSERT_TRUE(w.save());
    for (auto& [n, v] : changes) EXPECT_EQ(stored(n), v) << n;
    // Taken at once: the word-index directory, the speed and the date picture.
    EXPECT_EQ(MasIdxPath, idx);
    EXPECT_EQ(SpeedVal(3, 28), 40);
    std::string dateName, picture;
    SetDate(dateName, picture);
    EXPECT_EQ(picture, "@D10-");
    EXPECT_TRUE(readingPrefs().searchTiming) << "the searches tell the time they took";
    // Unchanged settings stay as they were.
    EXPECT_EQ(stored("time-format"), "system");
}

TEST_F(PreferencesTest, ABadValueSavesNothingAndDefaultsComeBack) {
    PreferencesWindow w;
    w.setEditorValue("export-line-width", "100");
    w.setEditorValue("data-dir", tmp.path + "/does-not-exist");
    EXPECT_FALSE(w.save());
    EXPECT_EQ(stored("export-line-width"), "78") << "nothing of a refused save is stored";
    EXPECT_EQ(w.pages()->tabText(w.pages()->currentIndex()).toStdString(), "Directories");
    EXPECT_FALSE(headless.shown.empty());

    w.setEditorValue("data-dir", tmp.path);
    ASSERT_TRUE(w.save());
    EXPECT_EQ(stored("export-line-width"), "100");
    w.resetToDefaults();
    for (const SettingDef& d : settingDefs()) EXPECT_EQ(w.editorValue(d.name), settingDefault(d)) << d.name;
    ASSERT_TRUE(w.save());
    EXPECT_EQ(stored("export-line-width"), "78");
}

} // namespace
