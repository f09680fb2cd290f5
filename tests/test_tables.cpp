// Table declarations: file names, numbers, fields and keys, and the key orders
// seen through the storage engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>

#include "core/globals.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/text.h"
#include "tests/testutil.h"

namespace fs = std::filesystem;
using namespace qb;

namespace {

// Saves and restores the directory globals around a test.
struct GlobalsGuard {
    MemGlobals mem = Mem;
    std::string masIdx = MasIdxPath, tmpName = FileTmpName;
    ~GlobalsGuard() {
        Mem = mem;
        MasIdxPath = masIdx;
        FileTmpName = tmpName;
    }
};

size_t fieldBytes(const FieldDef& f) { return detail::elemSize(f.type, f.width) * f.dim; }

const FieldDef& field(const Table& t, const std::string& name) {
    for (const FieldDef& f : t.fields())
        if (f.name == name) return f;
    throw std::out_of_range(name);
}

std::vector<std::string> compNames(const Table& t, const KeyDef& k) {
    std::vector<std::string> out;
    for (const KeyComp& c : k.comps) out.push_back(t.fields().at(static_cast<size_t>(c.field)).name + (c.descending ? "-" : ""));
    return out;
}

} // namespace

// ------------------------------------------------------------ file names

class TablesFileNames : public ::testing::Test {
protected:
    GlobalsGuard guard;
    TempDir root;
    void SetUp() override {
        Mem.Net = root.path + "/prog";
        Mem.FileDir = root.path + "/data";
        Mem.TempDir = root.path + "/tmp";
        Mem.Dirnamn = "F12";
        MasIdxPath = Mem.FileDir;
        FileTmpName = "/some/reader/MESSAGES.DBF";
    }
};

TEST_F(TablesFileNames, ConfigurationDirectory) {
    for (int n : {2, 8, 18, 26, 27, 30, 34, 35, 41, 42}) {
        char want[32];
        std::snprintf(want, sizeof want, "/prog/CFG/IDX%03d.TPS", n);
        EXPECT_EQ(tableFileName(n), root.path + want) << n;
    }
}

TEST_F(TablesFileNames, TemporaryDirectory) {
    for (int n : {10, 19, 24, 32}) {
        char want[32];
        std::snprintf(want, sizeof want, "/tmp/IDX%03d.TPS", n);
        EXPECT_EQ(tableFileName(n), root.path + want) << n;
    }
}

TEST_F(TablesFileNames, DatabaseDirectory) {
    for (int n : {1, 3, 4, 5, 6, 7, 9, 13, 17, 23, 25}) {
        char want[32];
        std::snprintf(want, sizeof want, "/data/F12/IDX%03d.TPS", n);
        EXPECT_EQ(tableFileName(n), root.path + want) << n;
    }
    EXPECT_EQ(tableFileName(22), root.path + "/data/F12/IDX022.DAT");
}

TEST_F(TablesFileNames, WordIndexDirectory) {
    MasIdxPath = root.path + "/words";
    EXPECT_EQ(tableFileName(28), root.path + "/words/F12/IDX028.DAT");
    EXPECT_EQ(tableFileName(29), root.path + "/words/F12/IDX029.TPS");
    EXPECT_EQ(tableFileName(33), root.path + "/words/F12/IDX033.DAT");
    EXPECT_EQ(tableFileName(39), root.path + "/words/F12/IDX039.TPS");
}

TEST_F(TablesFileNames, ReaderFilesUseTheCallersName) {
    for (int n : {11, 12, 20, 21, 31, 40}) EXPECT_EQ(tableFileName(n), FileTmpName) << n;
    FileTmpName = "/other/place/INDEX.TOC";
    EXPECT_EQ(tableFileName(31), "/other/place/INDEX.TOC");
}

TEST_F(TablesFileNames, TrailingSlashesAreNotDoubled) {
    Mem.Net = root.path + "/prog/";
    Mem.FileDir = root.path + "/data//";
    Mem.TempDir = root.path + "/tmp/";
    MasIdxPath = root.path + "/data/";
    EXPECT_EQ(tableFileName(2), root.path + "/prog/CFG/IDX002.TPS");
    EXPECT_EQ(tableFileName(3), root.path + "/data/F12/IDX003.TPS");
    EXPECT_EQ(tableFileName(10), root.path + "/tmp/IDX010.TPS");
    EXPECT_EQ(tableFileName(28), root.path + "/data/F12/IDX028.DAT");
}

TEST_F(TablesFileNames, DirectoryNumberSeven) {
    Mem.Dirnamn = "F7";
    MasIdxPath = root.path + "/words";
    EXPECT_EQ(tableFileName(3), root.path + "/data/F7/IDX003.TPS");
    EXPECT_EQ(tableFileName(28), root.path + "/words/F7/IDX028.DAT");
    // The same when the word index lies in the data directory.
    MasIdxPath = Mem.FileDir;
    EXPECT_EQ(tableFileName(3), root.path + "/data/F7/IDX003.TPS");
    EXPECT_EQ(tableFileName(28), root.path + "/data/F7/IDX028.DAT");
}

TEST_F(TablesFileNames, FollowsTheActiveDatabase) {
    Mem.Dirnamn = "F1";
    std::string a = tableFileName(4);
    Mem.Dirnamn = "F2";
    std::string b = tableFileName(4);
    EXPECT_EQ(a, root.path + "/data/F1/IDX004.TPS");
    EXPECT_EQ(b, root.path + "/data/F2/IDX004.TPS");
}

TEST_F(TablesFileNames, UndefinedNumbersHaveNoName) {
    for (int n : {0, 14, 15, 16, 36, 37, 38, 43, 99, -1}) EXPECT_EQ(tableFileName(n), "") << n;
}

// ------------------------------------------------- word-index directory

TEST_F(TablesFileNames, WordIndexDirectoryIsCreatedWhenApart) {
    MasIdxPath = root.path + "/words";
    Mem.Dirnamn = "F7";
    const fs::path dir = fs::path(root.path) / "words" / "F7";
    for (int n : {28, 29, 33}) {
        fs::remove_all(fs::path(root.path) / "words");
        ASSERT_FALSE(fs::exists(dir));
        tableFileName(n);
        EXPECT_TRUE(fs::is_directory(dir)) << n;
    }
}

TEST_F(TablesFileNames, WordIndexDirectoryNotCreatedForOtherTables) {
    MasIdxPath = root.path + "/words";
    const fs::path dir = fs::path(root.path) / "words" / "F12";
    for (int n : {39, 3, 22, 2, 10}) {
        tableFileName(n);
        EXPECT_FALSE(fs::exists(dir)) << n;
    }
}

TEST_F(TablesFileNames, WordIndexDirectoryNotCreatedWhenSameAsData) {
    // Equal apart from letter case and trailing blanks and slashes.
    Mem.FileDir = root.path + "/data/";
    MasIdxPath = root.path + "/DATA  ";
    const fs::path upperDir = fs::path(root.path) / "DATA";
    const fs::path dataDir = fs::path(root.path) / "data" / "F12";
    for (int n : {28, 29, 33}) tableFileName(n);
    EXPECT_FALSE(fs::exists(upperDir));
    EXPECT_FALSE(fs::exists(dataDir));

    MasIdxPath = Mem.FileDir;
    for (int n : {28, 29, 33}) tableFileName(n);
    EXPECT_FALSE(fs::exists(dataDir));
}

// --------------------------------------------------------------- numbers

TEST(TablesNumbers, DefinedNumbers) {
    const std::set<int> defined = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 17, 18, 19, 20, 21,
                                   22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 39, 40, 41, 42};
    for (int n = -2; n <= 60; ++n) EXPECT_EQ(tableNumberDefined(n), defined.count(n) == 1) << n;
}

TEST(TablesNumbers, ReaderFilesHaveNoTable) {
    for (int n : {11, 12, 20, 21, 31, 40}) {
        EXPECT_TRUE(tableNumberDefined(n)) << n;
        EXPECT_TRUE(isReaderFile(n)) << n;
        EXPECT_EQ(tableByNumber(n), nullptr) << n;
    }
    EXPECT_FALSE(isReaderFile(3));
    EXPECT_FALSE(isReaderFile(14));
}

TEST(TablesNumbers, UndefinedNumbersHaveNoTable) {
    for (int n : {0, 14, 15, 16, 36, 37, 38, 43, 44, 100, -5}) {
        EXPECT_FALSE(tableNumberDefined(n)) << n;
        EXPECT_EQ(tableByNumber(n), nullptr) << n;
    }
}

TEST(TablesNumbers, EveryStorageTableByItsNumber) {
    std::vector<Table*> all = allTables();
    EXPECT_EQ(all.size(), 30u);
    std::set<int> seen;
    int last = 0;
    for (Table* t : all) {
        EXPECT_TRUE(seen.insert(t->number()).second) << t->name();
        EXPECT_GT(t->number(), last) << "allTables is in number order";
        last = t->number();
        EXPECT_EQ(tableByNumber(t->number()), t) << t->name();
        EXPECT_FALSE(isReaderFile(t->number()));
    }
    for (int n = 1; n <= 42; ++n) {
        if (tableNumberDefined(n) && !isReaderFile(n)) {
            EXPECT_EQ(seen.count(n), 1u) << n;
        }
    }
}

TEST(TablesNumbers, NamesAndPrefixes) {
    struct Want { int n; const char* name; const char* prefix; };
    const Want want[] = {{1, "Codes", "COD"},       {2, "Forums", "FOR"},       {3, "MsgNmbr", "MSG"},
                         {4, "MsgText", "TXT"},     {5, "Person", "PER"},       {6, "Sections", "SEC"},
                         {7, "Threads", "THR"},     {8, "Control", "CTL"},      {9, "SIndex", "SIN"},
                         {10, "NewHR", "NHR"},      {13, "Mail", "MAI"},        {17, "CCR", "CCR"},
                         {18, "SavedMsg", "IMP"},   {19, "TempCC", "CCT"},      {22, "ForumRef", "REF"},
                         {23, "PLINK", "PLI"},      {24, "TempID", "TID"},      {25, "MessageIds", "MST"},
                         {26, "Tasks", "TAS"},      {27, "FileList", "FLI"},    {28, "WordList", "WOR"},
                         {29, "MasIdx", "MAS"},     {30, "StopWords", "STO"},   {32, "Search", "SEA"},
                         {33, "WordPurge", "PUR"},  {34, "Batch", "BAT"},       {35, "TaskBatch", "TIM"},
                         {39, "WordDef", "WD"},     {41, "TaskLog", "TLO"},     {42, "TaskLogItem", "TLI"}};
    for (const Want& w : want) {
        Table* t = tableByNumber(w.n);
        ASSERT_NE(t, nullptr) << w.n;
        EXPECT_EQ(t->name(), w.name);
        EXPECT_EQ(t->prefix(), w.prefix);
    }
}

// ----------------------------------------------------------- declarations

TEST(TablesDeclaration, FieldsLieInsideTheBufferWithoutOverlap) {
    for (Table* t : allTables()) {
        ASSERT_FALSE(t->fields().empty()) << t->name();
        size_t end = 0;
        for (const FieldDef& f : t->fields()) {
            EXPECT_EQ(f.name.rfind(t->prefix() + ":", 0), 0u) << f.name;
            EXPECT_GE(f.dim, 1u) << f.name;
            EXPECT_GE(f.offset, end) << f.name << " overlaps or is out of stored order";
            end = f.offset + fieldBytes(f);
            EXPECT_LE(end, t->recordSize()) << f.name;
            if (f.type == FieldType::String) {
                EXPECT_GT(f.width, 0u) << f.name;
            } else {
                EXPECT_EQ(f.width, 0u) << f.name;
            }
        }
        std::set<std::string> names;
        for (const FieldDef& f : t->fields()) EXPECT_TRUE(names.insert(f.name).second) << f.name;
    }
}

TEST(TablesDeclaration, KeyComponentsAreValidFields) {
    for (Table* t : allTables()) {
        std::set<std::string> names;
        for (const KeyDef& k : t->keys()) {
            EXPECT_EQ(k.name.rfind(t->prefix() + ":", 0), 0u) << k.name;
            EXPECT_TRUE(names.insert(k.name).second) << k.name;
            ASSERT_FALSE(k.comps.empty()) << k.name;
            for (const KeyComp& c : k.comps) {
                EXPECT_GE(c.field, 0) << k.name;
                EXPECT_LT(c.field, static_cast<int>(t->fields().size())) << k.name;
            }
        }
    }
}

TEST(TablesDeclaration, OnePrimaryKeyPerKeyedTableAndItIsUnique) {
    for (Table* t : allTables()) {
        int primaries = 0;
        for (const KeyDef& k : t->keys())
            if (k.primary) {
                ++primaries;
                EXPECT_TRUE(k.unique) << k.name;
            }
        const bool keyless = t->number() == 22 || t->number() == 33;
        EXPECT_EQ(primaries, keyless ? 0 : 1) << t->name();
        if (!keyless) {
            EXPECT_TRUE(t->keys().at(0).primary) << t->name() << ": primary key comes first";
        } else {
            EXPECT_TRUE(t->keys().empty()) << t->name();
        }
    }
}

TEST(TablesDeclaration, StorageKinds) {
    for (Table* t : allTables()) {
        const bool flat = t->number() == 22 || t->number() == 28 || t->number() == 33;
        EXPECT_EQ(t->kind(), flat ? StorageKind::Flat : StorageKind::Keyed) << t->name();
    }
}

TEST(TablesDeclaration, OnlyMsgTextAndNewHRCarryMemos) {
    for (Table* t : allTables()) {
        if (t == &MsgText) {
            EXPECT_EQ(t->memo(), &TXT_MsgText);
            EXPECT_EQ(t->memoMax(), 64000u);
            EXPECT_EQ(t->memoName(), "TXT:MsgText");
        } else if (t == &NewHR) {
            EXPECT_EQ(t->memo(), &NHR_MSGTEXT);
            EXPECT_EQ(t->memoMax(), 64000u);
            EXPECT_EQ(t->memoName(), "NHR:MSGTEXT");
        } else {
            EXPECT_EQ(t->memo(), nullptr) << t->name();
        }
    }
}

TEST(TablesDeclaration, BuffersAreTheRecordGlobals) {
    EXPECT_EQ(Forums.buffer(), &FOR);
    EXPECT_EQ(MsgNmbr.buffer(), &MSG);
    EXPECT_EQ(CCRTable.buffer(), &CCR);
    EXPECT_EQ(Threads.buffer(), &THR);
    EXPECT_EQ(Control.buffer(), &CTL);
    EXPECT_EQ(WordDef.buffer(), &WD);
    EXPECT_EQ(Forums.recordSize(), sizeof(ForumsRec));
    EXPECT_EQ(Control.recordSize(), sizeof(ControlRec));
}

TEST(TablesDeclaration, KeyConstantsMatchKeyNames) {
    struct C { Table* t; int k; const char* name; };
    const C all[] = {
        {&Codes, COD_ClassKey, "COD:ClassKey"},
        {&Forums, FOR_ForumKey, "FOR:ForumKey"},       {&Forums, FOR_AlphaKey, "FOR:AlphaKey"},
        {&Forums, FOR_DirKey, "FOR:DirKey"},           {&Forums, FOR_TypeKey, "FOR:TypeKey"},
        {&MsgNmbr, MSG_IdKey, "MSG:IdKey"},            {&MsgNmbr, MSG_Threadkey, "MSG:Threadkey"},
        {&MsgNmbr, MSG_SECkey, "MSG:SECkey"},          {&MsgNmbr, MSG_FromKey, "MSG:FromKey"},
        {&MsgNmbr, MSG_ToKey, "MSG:ToKey"},            {&MsgNmbr, MSG_DateKey, "MSG:DateKey"},
        {&MsgNmbr, MSG_StatusKey, "MSG:StatusKey"},
        {&MsgText, TXT_IdKey, "TXT:IdKey"},            {&MsgText, TXT_DateKey, "TXT:DateKey"},
        {&Person, PER_PersonKey, "PER:PersonKey"},     {&Person, PER_StringKey, "PER:StringKey"},
        {&Person, PER_AddressKey, "PER:AddressKey"},   {&Person, PER_NameKey, "PER:NameKey"},
        {&Sections, SEC_SysIdKey, "SEC:SysIdKey"},     {&Sections, SEC_SectionKey, "SEC:SectionKey"},
        {&Threads, THR_ThreadKey, "THR:ThreadKey"},    {&Threads, THR_SecKey, "THR:SecKey"},
        {&Threads, THR_AlphaKey, "THR:AlphaKey"},      {&Threads, THR_StatusKey, "THR:StatusKey"},
        {&Control, CTL_IdKey, "CTL:IdKey"},
        {&SIndex, SIN_IdKey, "SIN:IdKey"},             {&SIndex, SIN_MsgKey, "SIN:MsgKey"},
        {&NewHR, NHR_MSGKEY, "NHR:MSGKEY"},
        {&Mail, MAI_IdKey, "MAI:IdKey"},               {&Mail, MAI_DateKey, "MAI:DateKey"},
        {&Mail, MAI_PairKey, "MAI:PairKey"},           {&Mail, MAI_FromKey, "MAI:FromKey"},
        {&Mail, MAI_ToKey, "MAI:ToKey"},               {&Mail, MAI_SubjectKey, "MAI:SubjectKey"},
        {&Mail, MAI_StatusKey, "MAI:StatusKey"},
        {&CCRTable, CCR_IdKey, "CCR:IdKey"},
        {&SavedMsg, IMP_IDKEY, "IMP:IDKEY"},
        {&TempCC, CCT_IDKEY, "CCT:IDKEY"},
        {&PLINK, PLI_StringKey, "PLI:StringKey"},      {&PLINK, PLI_PersonKey, "PLI:PersonKey"},
        {&TempID, TID_IDKEY, "TID:IDKEY"},
        {&MessageIds, MST_IDSTRINGKEY, "MST:IDSTRINGKEY"}, {&MessageIds, MST_IDKEY, "MST:IDKEY"},
        {&Tasks, TAS_IDKEY, "TAS:IDKEY"},
        {&FileList, FLI_IDKEY, "FLI:IDKEY"},
        {&WordList, WOR_by_WordId, "WOR:by_WordId"},   {&WordList, WOR_by_theWord, "WOR:by_theWord"},
        {&WordList, WOR_by_WordCount, "WOR:by_WordCount"},
        {&MasIdx, MAS_by_SysID, "MAS:by_SysID"},       {&MasIdx, MAS_by_WordId, "MAS:by_WordId"},
        {&StopWords, STO_BY_THEWORD, "STO:BY_THEWORD"},
        {&Search, SEA_IdKey, "SEA:IdKey"},
        {&Batch, BAT_IDKEY, "BAT:IDKEY"},              {&Batch, BAT_TYPEKEY, "BAT:TYPEKEY"},
        {&TaskBatch, TIM_TASKKEY, "TIM:TASKKEY"},      {&TaskBatch, TIM_BATCHKEY, "TIM:BATCHKEY"},
        {&WordDef, WD_BY_SETNAME, "WD:BY_SETNAME"},
        {&TaskLog, TLO_IDKEY, "TLO:IDKEY"},            {&TaskLog, TLO_BYTASK, "TLO:BYTASK"},
        {&TaskLogItem, TLI_IDKEY, "TLI:IDKEY"},
    };
    size_t total = 0;
    for (Table* t : allTables()) total += t->keys().size();
    EXPECT_EQ(total, std::size(all)) << "every key has its constant";
    for (const C& c : all) {
        ASSERT_LT(static_cast<size_t>(c.k), c.t->keys().size()) << c.name;
        EXPECT_EQ(c.t->keys()[static_cast<size_t>(c.k)].name, c.name);
        EXPECT_EQ(c.t->keyIndex(c.name), c.k) << c.name;
    }
}

TEST(TablesDeclaration, ForumsKeysAndFields) {
    const KeyDef& alpha = Forums.keys()[FOR_AlphaKey];
    EXPECT_TRUE(alpha.unique);
    EXPECT_TRUE(alpha.nocase);
    EXPECT_FALSE(alpha.primary);
    EXPECT_EQ(compNames(Forums, alpha), std::vector<std::string>{"FOR:DESCRIPTION"});
    EXPECT_TRUE(Forums.keys()[FOR_DirKey].unique);
    EXPECT_FALSE(Forums.keys()[FOR_TypeKey].unique);
    const FieldDef& alt = field(Forums, "FOR:ALTADDRESS");
    EXPECT_EQ(alt.type, FieldType::String);
    EXPECT_EQ(alt.width, 60u);
    EXPECT_EQ(alt.dim, 10u);
    EXPECT_EQ(Forums.fields().size(), 17u);
    EXPECT_EQ(Forums.fields().back().name, "FOR:INDEXTYPE");
    EXPECT_EQ(field(Forums, "FOR:WORDLISTINDEXNEEDSUPDATE").type, FieldType::Long);
    EXPECT_EQ(field(Forums, "FOR:CREATED").type, FieldType::Long);
    EXPECT_EQ(field(Forums, "FOR:DIRNUMBER").type, FieldType::ULong);
}

TEST(TablesDeclaration, MessageKeysRunNewestFirst) {
    const KeyDef& id = MsgNmbr.keys()[MSG_IdKey];
    EXPECT_TRUE(id.primary && id.unique);
    EXPECT_EQ(compNames(MsgNmbr, id), std::vector<std::string>{"MSG:MSGNUMBER-"});
    EXPECT_EQ(compNames(MsgNmbr, MsgNmbr.keys()[MSG_SECkey]),
              (std::vector<std::string>{"MSG:SECSYSID", "MSG:THREADALPHA", "MSG:THREADNUMBER", "MSG:MSGNUMBER"}));
    EXPECT_EQ(compNames(MsgNmbr, MsgNmbr.keys()[MSG_FromKey]),
              (std::vector<std::string>{"MSG:FROMALPHA", "MSG:FROMID", "MSG:MSGNUMBER-"}));
    EXPECT_EQ(compNames(MsgNmbr, MsgNmbr.keys()[MSG_DateKey]),
              (std::vector<std::string>{"MSG:DATE-", "MSG:MSGNUMBER-"}));
    EXPECT_TRUE(MsgNmbr.keys()[MSG_Threadkey].nocase);
    EXPECT_FALSE(MsgNmbr.keys()[MSG_DateKey].unique);

    EXPECT_EQ(compNames(Mail, Mail.keys()[MAI_PairKey]),
              (std::vector<std::string>{"MAI:PAIRALPHA", "MAI:PAIRID", "MAI:DATE-", "MAI:TIME-", "MAI:MAILID-"}));
    EXPECT_EQ(compNames(Mail, Mail.keys()[MAI_SubjectKey]),
              (std::vector<std::string>{"MAI:SUBJECT", "MAI:DATE-", "MAI:TIME-", "MAI:MAILID-"}));
    for (int k : {MAI_DateKey, MAI_PairKey, MAI_FromKey, MAI_ToKey, MAI_SubjectKey}) {
        EXPECT_FALSE(Mail.keys()[static_cast<size_t>(k)].unique) << k;
        EXPECT_TRUE(Mail.keys()[static_cast<size_t>(k)].nocase) << k;
    }
    EXPECT_FALSE(Mail.keys()[MAI_StatusKey].nocase);
    EXPECT_EQ(compNames(Search, Search.keys()[SEA_IdKey]), std::vector<std::string>{"SEA:ID-"});
    EXPECT_EQ(compNames(SIndex, SIndex.keys()[SIN_IdKey]), (std::vector<std::string>{"SIN:ID", "SIN:MSGNUMBER-"}));
}

TEST(TablesDeclaration, WordIndexKeys) {
    const KeyDef& count = WordList.keys()[WOR_by_WordCount];
    EXPECT_TRUE(count.onDemand);
    EXPECT_TRUE(count.optional);
    EXPECT_FALSE(count.unique);
    int onDemand = 0;
    for (Table* t : allTables())
        for (const KeyDef& k : t->keys()) onDemand += k.onDemand;
    EXPECT_EQ(onDemand, 1) << "only WOR:by_WordCount is built on demand";

    EXPECT_TRUE(WordList.keys()[WOR_by_theWord].unique && WordList.keys()[WOR_by_theWord].nocase);
    EXPECT_TRUE(WordList.keys()[WOR_by_WordId].optional);
    EXPECT_TRUE(MasIdx.keys()[MAS_by_SysID].optional && MasIdx.keys()[MAS_by_WordId].optional);
    EXPECT_FALSE(MasIdx.keys()[MAS_by_WordId].unique);
    EXPECT_TRUE(StopWords.keys()[STO_BY_THEWORD].optional);
    EXPECT_FALSE(WordDef.keys()[WD_BY_SETNAME].optional);
    EXPECT_FALSE(Forums.keys()[FOR_ForumKey].optional);
}

TEST(TablesDeclaration, ControlSettingsArea) {
    const FieldDef& area = field(Control, "CTL:CTLFIELD");
    EXPECT_EQ(area.type, FieldType::Byte);
    EXPECT_EQ(area.dim, 200u);
    EXPECT_EQ(area.offset, offsetof(ControlRec, CTLFIELD));

    struct Row { uint32_t a; char name[20]; uint8_t b; };
    ControlRec r{};
    r.clearGroup();
    Row in{123456, "settings", 7};
    r.setGroup(in);
    Row out = r.group<Row>();
    EXPECT_EQ(out.a, 123456u);
    EXPECT_STREQ(out.name, "settings");
    EXPECT_EQ(out.b, 7);
    EXPECT_EQ(std::memcmp(r.CTLFIELD, &in, sizeof in), 0);
}

TEST(TablesDeclaration, TaskRepeatArrays) {
    EXPECT_EQ(field(Tasks, "TAS:DAYS").dim, 7u);
    EXPECT_EQ(field(Tasks, "TAS:MONTHDAYS").dim, 5u);
    EXPECT_EQ(field(Tasks, "TAS:DAYS").offset + 7, field(Tasks, "TAS:MONTHDAYS").offset);
    TasksRec t{};
    t.dailyRepeat()[6] = 1;
    EXPECT_EQ(t.DAYS[6], 1);
}

// ---------------------------------------------------------- thread heading

TEST(TablesThreadHeading, SplitsIntoAlphaAndBeta) {
    ThreadsRec t;
    std::string h = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";  // 62 characters
    t.setHeading(h);
    EXPECT_EQ(t.ALPHA.str(), "0123456789");
    EXPECT_EQ(t.BETA.str(), h.substr(10, 40));
    EXPECT_EQ(t.heading(), h.substr(0, 50));
}

TEST(TablesThreadHeading, ShortHeadingLeavesBetaBlank) {
    ThreadsRec t;
    t.setHeading("Previous heading that is long enough");
    t.setHeading("Hello");
    EXPECT_EQ(t.ALPHA.str(), "Hello");
    EXPECT_TRUE(t.BETA.empty());
    std::string h = t.heading();
    EXPECT_EQ(h.size(), 50u);
    EXPECT_EQ(rtrim(h), "Hello");
}

TEST(TablesThreadHeading, ElevenCharacters) {
    ThreadsRec t;
    t.setHeading("ABCDEFGHIJK");
    EXPECT_EQ(t.ALPHA.str(), "ABCDEFGHIJ");
    EXPECT_EQ(t.BETA.str(), "K");
    EXPECT_EQ(rtrim(t.heading()), "ABCDEFGHIJK");
}

// ---------------------------------------------------- through the engine

class TablesEngine : public ::testing::Test {
protected:
    GlobalsGuard guard;
    TempDir root;
    void SetUp() override {
        Mem.Net = root.path;
        Mem.FileDir = root.path + "/data";
        Mem.TempDir = root.path + "/tmp";
        Mem.Dirnamn = "F7";
        MasIdxPath = Mem.FileDir;
        fs::create_directories(fs::path(root.path) / "CFG");
        fs::create_directories(fs::path(root.path) / "data" / "F7");
        fs::create_directories(fs::path(root.path) / "tmp");
        setEngineDirectory((fs::path(root.path) / "CFG").string());
    }
    void TearDown() override { closeAllTables(); }

    void fresh(Table& t) {
        std::string path = tableFileName(t.number());
        t.create(path);
        ASSERT_EQ(errorCode(), 0) << path << ": " << errorText();
        t.open(path, OpenMode::SharedReadWrite);
        ASSERT_EQ(errorCode(), 0) << path << ": " << errorText();
    }
};

TEST_F(TablesEngine, MsgNmbrIdKeyGivesHighestNumberFirst) {
    fresh(MsgNmbr);
    for (uint32_t n : {5u, 300u, 17u, 42u}) {
        MsgNmbr.clearBuffer();
        MSG.MSGNUMBER = n;
        ASSERT_TRUE(MsgNmbr.add()) << errorText();
    }
    MsgNmbr.set(MSG_IdKey);
    std::vector<uint32_t> order;
    while (MsgNmbr.next()) order.push_back(MSG.MSGNUMBER);
    EXPECT_EQ(order, (std::vector<uint32_t>{300, 42, 17, 5}));
    EXPECT_TRUE(fs::exists(fs::path(root.path) / "data" / "F7" / "IDX003.TPS"));
}

TEST_F(TablesEngine, MailPairKeyGivesNewestMailFirst) {
    fresh(Mail);
    struct M { uint32_t id; int32_t date, time; const char* pair; };
    const M rows[] = {{1, 100, 500, "Smith"}, {2, 101, 10, "smith"}, {3, 100, 900, "Smith"}, {4, 200, 1, "Adams"}};
    for (const M& m : rows) {
        Mail.clearBuffer();
        MAI.MAILID = m.id;
        MAI.DATE = m.date;
        MAI.TIME = m.time;
        MAI.PAIRID = 9;
        MAI.PAIRALPHA = m.pair;
        ASSERT_TRUE(Mail.add()) << errorText();
    }
    Mail.clearBuffer();
    MAI.PAIRALPHA = "SMITH";
    MAI.PAIRID = 9;
    MAI.DATE = INT32_MAX;
    MAI.TIME = INT32_MAX;
    MAI.MAILID = UINT32_MAX;
    Mail.setFrom(MAI_PairKey);
    std::vector<uint32_t> order;
    while (Mail.next() && MAI.PAIRID == 9 && upper(MAI.PAIRALPHA.view()) == "SMITH") order.push_back(MAI.MAILID);
    // "SMITH" compares equal to both spellings; without case folding nothing would match.
    EXPECT_EQ(order, (std::vector<uint32_t>{2, 3, 1}));
}

TEST_F(TablesEngine, ForumsNameDifferingOnlyInCaseIsDuplicate) {
    fresh(Forums);
    Forums.clearBuffer();
    FOR.ID = 1;
    FOR.DIRNUMBER = 1;
    FOR.DESCRIPTION = "Programming Forum";
    ASSERT_TRUE(Forums.add()) << errorText();
    Forums.clearBuffer();
    FOR.ID = 2;
    FOR.DIRNUMBER = 2;
    FOR.DESCRIPTION = "PROGRAMMING forum";
    EXPECT_FALSE(Forums.add());
    EXPECT_EQ(errorCode(), ErrDuplicateKey);
    Forums.clearBuffer();
    FOR.ID = 3;
    FOR.DIRNUMBER = 1;
    FOR.DESCRIPTION = "Other";
    EXPECT_FALSE(Forums.add()) << "directory numbers are unique";
    EXPECT_EQ(errorCode(), ErrDuplicateKey);
    EXPECT_EQ(Forums.records(), 1);
}

TEST_F(TablesEngine, ThreadsWithSameFirstTenCharactersAreTwoRows) {
    fresh(Threads);
    const char* headings[] = {"Compilers: which one to use", "Compilers: free ones only"};
    uint32_t id = 10;
    for (const char* h : headings) {
        Threads.clearBuffer();
        THR.THREADNUMBER = id++;
        THR.SECSYSID = 4;
        THR.setHeading(h);
        ASSERT_TRUE(Threads.add()) << errorText();
    }
    Threads.clearBuffer();
    THR.SECSYSID = 4;
    THR.ALPHA = "compilers:";
    Threads.setFrom(THR_SecKey);
    std::vector<std::string> found;
    while (Threads.next() && THR.SECSYSID == 4 && THR.ALPHA == "Compilers:") found.push_back(std::string(rtrim(THR.heading())));
    ASSERT_EQ(found.size(), 2u);
    EXPECT_NE(std::find(found.begin(), found.end(), headings[0]), found.end());
    EXPECT_NE(std::find(found.begin(), found.end(), headings[1]), found.end());
}

TEST_F(TablesEngine, EveryTableCanBeCreatedAndOpened) {
    MasIdxPath = root.path + "/words";
    for (Table* t : allTables()) {
        std::string path = tableFileName(t->number());
        t->create(path);
        EXPECT_EQ(errorCode(), 0) << t->name() << " " << path << ": " << errorText();
        t->open(path, OpenMode::SharedReadWrite);
        EXPECT_EQ(errorCode(), 0) << t->name() << ": " << errorText();
        EXPECT_EQ(t->records(), 0) << t->name();
        t->close();
    }
}

TEST_F(TablesEngine, MsgTextCarriesItsMemo) {
    fresh(MsgText);
    MsgText.clearBuffer();
    TXT.MSGNUMBER = 77;
    TXT_MsgText = "line one\r\nline two";
    ASSERT_TRUE(MsgText.add()) << errorText();
    MsgText.clearBuffer();
    EXPECT_TRUE(TXT_MsgText.empty());
    TXT.MSGNUMBER = 77;
    ASSERT_TRUE(MsgText.get(TXT_IdKey)) << errorText();
    EXPECT_EQ(TXT_MsgText, "line one\r\nline two");
}
