// The reader catalogue, the file queue of the selection methods, the checks
// before a start and the import definitions.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/commands.h"
#include "core/access.h"
#include "core/globals.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"
#include "import/catalogue.h"
#include "tests/enginereset.h"
#include "tests/testutil.h"

namespace fs = std::filesystem;
using namespace qb;

TEST(CatalogueReaders, NumbersNamesMasksAndKinds) {
    const auto& list = readerCatalogue();
    EXPECT_EQ(list.size(), 31u);
    for (const auto& e : list) EXPECT_NE(e.name, "Reserv");
    EXPECT_EQ(readerName(0), "WinCIM");
    EXPECT_EQ(readerName(17), "WinCIM");
    EXPECT_EQ(readerName(31), "OUI");
    EXPECT_EQ(readerName(32), "");

    const ReaderEntry* va = readerByName("virtualaccess ");
    ASSERT_NE(va, nullptr);
    EXPECT_TRUE(va->forum && va->mail && va->news);
    EXPECT_EQ(va->mask, "*.");
    const ReaderEntry* gravity = readerByName("Gravity");
    ASSERT_NE(gravity, nullptr);
    EXPECT_TRUE(gravity->news);
    EXPECT_FALSE(gravity->forum || gravity->mail);

    for (int n : {1, 2, 7, 12, 15, 19}) EXPECT_TRUE(readerByNumber(n)->needsForumDb) << n;
    for (int n : {3, 17, 25, 26}) EXPECT_FALSE(readerByNumber(n)->needsForumDb) << n;

    std::string masks = "*.KEEP";
    defaultMask(33, masks);
    EXPECT_EQ(masks, "*.KEEP");
    defaultMask(15, masks);
    EXPECT_EQ(masks, "*.MSG;*.OLD");

    ImportSettings s;
    s.forumDb = 77;
    chooseReader(s, *readerByName("Agent News"));
    EXPECT_EQ(s.masks, "*.*");
    EXPECT_TRUE(s.importNews);
    EXPECT_FALSE(s.importMail || s.importForum);
    EXPECT_EQ(s.forumDb, 0u);
}

TEST(CatalogueReaders, ListsSplitOnSemicolons) {
    EXPECT_EQ(splitList(" *.MSG ; *.OLD;;"), (std::vector<std::string>{"*.MSG", "*.OLD"}));
    EXPECT_TRUE(splitList("").empty());
    EXPECT_EQ(joinList({"a", "b"}), "a;b");
}

TEST(CatalogueQueue, SelectionMethods) {
    TempDir d;
    fs::create_directories(d.path + "/top/b/deep");
    fs::create_directories(d.path + "/top/a");
    writeFile(d.path + "/top/one.msg", "x");
    writeFile(d.path + "/top/two.OLD", "x");
    writeFile(d.path + "/top/skip.txt", "x");
    writeFile(d.path + "/top/a/three.MSG", "x");
    writeFile(d.path + "/top/b/deep/four.Msg", "x");
    writeFile(d.path + "/top/b/five.dat", "x");

    ImportSettings s;
    s.masks = "*.MSG;*.OLD";
    s.path = d.path + "/top";
    s.method = 1;
    EXPECT_EQ(buildFileQueue(s), (std::vector<std::string>{d.path + "/top/one.msg", d.path + "/top/two.OLD"}));

    s.method = 0;
    EXPECT_EQ(buildFileQueue(s), (std::vector<std::string>{d.path + "/top/one.msg", d.path + "/top/two.OLD",
                                                           d.path + "/top/a/three.MSG",
                                                           d.path + "/top/b/deep/four.Msg"}));

    // A link back up the tree does not make the walk endless.
    fs::create_directory_symlink(d.path + "/top", d.path + "/top/b/loop");
    EXPECT_EQ(buildFileQueue(s).size(), 4u);

    s.method = 2;
    s.path = "/x/one.mbx; /y/two.mbx";
    EXPECT_EQ(buildFileQueue(s), (std::vector<std::string>{"/x/one.mbx", "/y/two.mbx"}));

    s.method = 1;
    s.path = d.path + "/nowhere";
    EXPECT_TRUE(buildFileQueue(s).empty());

    // VirtualAccess keeps its messages in files without an extension: "*." takes only those.
    fs::create_directories(d.path + "/va");
    writeFile(d.path + "/va/MAIL", "x");
    writeFile(d.path + "/va/CIS_PRINTERS", "x");
    writeFile(d.path + "/va/NOTES.TXT", "x");
    chooseReader(s, *readerByName("VirtualAccess"));
    EXPECT_EQ(s.masks, "*.");
    s.method = 1;
    s.path = d.path + "/va";
    EXPECT_EQ(buildFileQueue(s), (std::vector<std::string>{d.path + "/va/CIS_PRINTERS", d.path + "/va/MAIL"}));
    EXPECT_TRUE(fileMaskMatches("MAIL.", "mail"));
    EXPECT_FALSE(fileMaskMatches("MAIL.", "mail.txt"));
}

TEST(CatalogueChecks, FirstFailingRuleGivesItsMessage) {
    ImportSettings s;
    s.reader = "TAPCIS 5.x";
    s.importMail = s.importForum = s.importNews = false;
    SetupCheck c = checkSettings(s);
    EXPECT_FALSE(c.ok);
    EXPECT_EQ(c.title, " Import definition error!");
    EXPECT_EQ(c.text, "You must select at least one messagetype for import!");

    s.importMail = true;
    s.importForum = true;
    c = checkSettings(s);
    EXPECT_EQ(c.text, "You must set up a mail database to import to!");
    EXPECT_EQ(c.title, "No mail database available!");

    s.mailDb = 5;
    c = checkSettings(s);
    EXPECT_EQ(c.text, "You must select a database to import to!");
    EXPECT_EQ(c.title, "Import setup error!");

    s.forumDb = 6;
    EXPECT_TRUE(checkSettings(s).ok);
    // A reader that names its forums needs no chosen database.
    s.reader = "WinCIM";
    s.forumDb = 0;
    EXPECT_TRUE(checkSettings(s).ok);
}

class CatalogueDefinitions : public ::testing::Test {
protected:
    TempDir home;
    HeadlessUi headless;
    void SetUp() override {
        Mem = MemGlobals{};
        startHeadless(home.path);
        setUi(&headless);
        OP_CLOSE(OpOpenShared, Forums.number());
        for (auto [id, name, type] : {std::tuple{500u, "Mail", 2}, std::tuple{501u, "A Forum", 1}}) {
            Forums.clearBuffer();
            FOR.ID = id;
            FOR.DESCRIPTION.set(name);
            FOR.DIRNUMBER = id - 499;
            FOR.TYPE = static_cast<uint8_t>(type);
            ASSERT_TRUE(Forums.add());
        }
        OP_CLOSE(OpClose, Forums.number());
    }
    void TearDown() override {
        qb::testing::resetEngine();
    }
    int fileListRows(uint32_t id) {
        OP_CLOSE(OpOpenShared, FileList.number());
        int n = 0;
        FileList.clearBuffer();
        FLI.ID = id;
        FileList.setFrom(FLI_IDKEY);
        while (FileList.next() && FLI.ID == id) ++n;
        OP_CLOSE(OpClose, FileList.number());
        return n;
    }
};

TEST_F(CatalogueDefinitions, SaveAndLoadKeepTheSession) {
    ImportSettings s;
    chooseReader(s, *readerByName("TAPCIS 5.x"));
    s.mailDb = 500;
    s.forumDb = 501;
    s.method = 1;
    s.path = "/archive/tapcis";
    s.allowReimport = true;
    s.mailTopic = 42;
    uint32_t id = saveDefinition(s);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(fileListRows(id), 2);

    OP_CLOSE(OpOpenShared, Batch.number());
    Batch.clearBuffer();
    BAT.ID = id;
    ASSERT_TRUE(Batch.get(BAT_IDKEY));
    EXPECT_EQ(BAT.FILETYPE, 15);
    EXPECT_EQ(BAT.TYPE, 1u);
    EXPECT_EQ(BAT.DESCRIPTION.str().rfind("Saved from ImportWizard  ", 0), 0u);
    OP_CLOSE(OpClose, Batch.number());

    ImportSettings back;
    SetupCheck c;
    ASSERT_TRUE(loadDefinition(id, back, c)) << c.text;
    EXPECT_EQ(back.reader, "TAPCIS 5.x");
    EXPECT_EQ(splitList(back.masks).size(), 2u);
    EXPECT_EQ(back.path, "/archive/tapcis");
    EXPECT_EQ(back.method, 1);
    EXPECT_EQ(back.mailDb, 500u);
    EXPECT_EQ(back.forumDb, 501u);
    EXPECT_TRUE(back.allowReimport);
    EXPECT_EQ(back.mailTopic, 42u);

    // Selected files: one row per file, the list comes back.
    ImportSettings files = s;
    files.method = 2;
    files.path = "/a/one.msg;/b/two.msg;/a/one.msg";
    uint32_t id2 = saveDefinition(files);
    ASSERT_NE(id2, 0u);
    EXPECT_EQ(fileListRows(id2), 2);
    ASSERT_TRUE(loadDefinition(id2, back, c));
    EXPECT_EQ(splitList(back.path).size(), 2u);
}

TEST_F(CatalogueDefinitions, SavedDefinitionReadsTheFilesOfItsSession) {
    // The files a wizard session reads with an empty mask list (every file),
    // with masks of another letter case, and by tree, come back from its
    // saved definition, whatever the reader's default masks are.
    const std::string in = home.path + "/mailboxes";
    std::filesystem::create_directories(in + "/old");
    for (const char* f : {"a.MBX", "b.txt", "c", "old/d.mbx"}) std::ofstream(in + "/" + f) << "x";
    struct Session {
        std::string masks;
        uint8_t method;
    };
    for (const Session& session : {Session{"", 1}, Session{"*.mbx;*.MBX", 1}, Session{"", 0}, Session{"*.TXT", 0}}) {
        ImportSettings s;
        chooseReader(s, *readerByName("Eudora"));
        s.mailDb = 500;
        s.method = session.method;
        s.path = in;
        s.masks = session.masks;
        const std::vector<std::string> read = buildFileQueue(s);
        ASSERT_FALSE(read.empty()) << session.masks;
        const uint32_t id = saveDefinition(s);
        ASSERT_NE(id, 0u);
        ImportSettings back;
        SetupCheck c;
        ASSERT_TRUE(loadDefinition(id, back, c)) << c.text;
        EXPECT_EQ(buildFileQueue(back), read) << "masks '" << session.masks << "' method " << int(session.method);
    }
}

TEST_F(CatalogueDefinitions, DefinitionWhoseDatabaseWasDeletedFails) {
    ImportSettings s;
    chooseReader(s, *readerByName("TAPCIS 5.x"));
    s.mailDb = 500;
    s.forumDb = 501;
    s.path = "/a/x.msg";
    uint32_t id = saveDefinition(s);
    ASSERT_NE(id, 0u);

    OP_CLOSE(OpOpenShared, Forums.number());
    Forums.clearBuffer();
    FOR.ID = 501;
    ASSERT_TRUE(Forums.get(FOR_ForumKey));
    ASSERT_TRUE(Forums.erase());
    OP_CLOSE(OpClose, Forums.number());

    ImportSettings back;
    back.reader = "unchanged";
    SetupCheck c;
    EXPECT_FALSE(loadDefinition(id, back, c));
    EXPECT_EQ(c.text, "Specified Forum database does no longer exist!");
    EXPECT_EQ(c.title, "Import procedure specification error");
    EXPECT_EQ(back.reader, "unchanged");

    s.importForum = false;
    s.mailDb = 999;
    uint32_t id2 = saveDefinition(s);
    EXPECT_FALSE(loadDefinition(id2, back, c));
    EXPECT_EQ(c.text, "Specified mail database no longer exists!");
    EXPECT_FALSE(loadDefinition(123, back, c));
}

TEST_F(CatalogueDefinitions, PathTooLongForADefinitionIsNotSaved) {
    ImportSettings s;
    chooseReader(s, *readerByName("WinCIM"));
    s.mailDb = 500;
    s.method = 0;
    s.path = "/" + std::string(120, 'd');
    EXPECT_EQ(saveDefinition(s), 0u);
    ASSERT_EQ(headless.shown.size(), 1u);
}
