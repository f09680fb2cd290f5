// The storage engine: keys and orders, strings, bulk modes, layouts,
// transactions across files (also when the writer is killed) and holds between
// processes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "core/fieldput.h"
#include "core/readbatch.h"
#include "core/storage.h"
#include "tests/testutil.h"

using namespace qb;
namespace fs = std::filesystem;

namespace {

struct MsgRec {
    uint32_t NUMBER;
    Str<10> ALPHA;
    int32_t DATE;
    uint8_t DUMMY;
    Str<4> TAGS[2];
};

struct TextRec {
    uint32_t NUMBER;
};

enum { K_Id, K_Alpha, K_Date, K_Status };

MsgRec M;
TextRec T;
std::string T_Memo;

std::vector<FieldDef> msgFields() {
    return {QB_FIELD(MsgRec, NUMBER, "M", ULong, 0), QB_FIELD(MsgRec, ALPHA, "M", String, 10),
            QB_FIELD(MsgRec, DATE, "M", Long, 0), QB_FIELD(MsgRec, DUMMY, "M", Byte, 0),
            QB_FIELD(MsgRec, TAGS, "M", String, 4)};
}

std::vector<KeyDef> msgKeys() {
    return {KeyDef{"M:IdKey", {{0, true}}, true, false, true},
            KeyDef{"M:AlphaKey", {{1, false}, {0, false}}, true, true},
            KeyDef{"M:DateKey", {{2, true}, {0, true}}, false},
            KeyDef{"M:StatusKey", {{3, false}}, false, false, false, true}};
}

Table Msgs(901, "Msgs", "M", StorageKind::Keyed, &M, sizeof M, msgFields(), msgKeys());
Table Texts(902, "Texts", "T", StorageKind::Keyed, &T, sizeof T, {QB_FIELD(TextRec, NUMBER, "T", ULong, 0)},
            {KeyDef{"T:IdKey", {{0, false}}, true, false, true}}, &T_Memo, 64000, "T:Text");

class Storage : public ::testing::Test {
protected:
    TempDir dir;
    std::string msgs, texts;
    void SetUp() override {
        msgs = dir.path + "/IDX003.TPS";
        texts = dir.path + "/IDX004.TPS";
        setEngineDirectory(dir.path);
        Msgs.create(msgs);
        ASSERT_EQ(errorCode(), 0) << errorText();
        Texts.create(texts);
        Msgs.open(msgs, OpenMode::SharedReadWrite);
        ASSERT_EQ(errorCode(), 0) << errorText();
        Texts.open(texts, OpenMode::SharedReadWrite);
        ASSERT_EQ(errorCode(), 0) << errorText();
    }
    void TearDown() override { closeAllTables(); }

    void addMsg(uint32_t n, const std::string& alpha, int32_t date, uint8_t dummy = 0) {
        Msgs.clearBuffer();
        M.NUMBER = n;
        M.ALPHA = alpha;
        M.DATE = date;
        M.DUMMY = dummy;
        ASSERT_TRUE(Msgs.add()) << errorText();
    }
    std::vector<uint32_t> readAll(int key, bool backward = false) {
        std::vector<uint32_t> r;
        Msgs.set(key);
        while (backward ? Msgs.previous() : Msgs.next()) r.push_back(M.NUMBER);
        EXPECT_EQ(errorCode(), ErrRecordNotAvailable);
        return r;
    }
};

} // namespace

TEST_F(Storage, KeyOrdersAscendingDescendingAndMixed) {
    addMsg(5, "beta", 100);
    addMsg(9, "alpha", 100);
    addMsg(7, "Gamma", 300);
    addMsg(1, "alpha2", 50);
    EXPECT_EQ(readAll(K_Id), (std::vector<uint32_t>{9, 7, 5, 1}));
    EXPECT_EQ(readAll(K_Id, true), (std::vector<uint32_t>{1, 5, 7, 9}));
    EXPECT_EQ(readAll(K_Alpha), (std::vector<uint32_t>{9, 1, 5, 7}));
    // date descending, then number descending
    EXPECT_EQ(readAll(K_Date), (std::vector<uint32_t>{7, 9, 5, 1}));

    // position at values, then next and previous
    M.DATE = 100;
    M.NUMBER = 6;
    Msgs.setFrom(K_Date);
    ASSERT_TRUE(Msgs.next());
    EXPECT_EQ(M.NUMBER, 5u);
    ASSERT_TRUE(Msgs.next());
    EXPECT_EQ(M.NUMBER, 1u);
    ASSERT_TRUE(Msgs.previous());
    EXPECT_EQ(M.NUMBER, 5u);
    ASSERT_TRUE(Msgs.previous());
    EXPECT_EQ(M.NUMBER, 9u);
    EXPECT_FALSE(Msgs.next() && M.NUMBER != 5u);
}

TEST_F(Storage, StringsAreCutPaddedAndCompareWithoutCaseOrTrailingBlanks) {
    addMsg(1, "M\xFCller", 1);
    addMsg(2, "abcdefghijKLMNOP", 2);
    Msgs.clearBuffer();
    M.ALPHA = "M\xDCLLER   ";  // Windows-1252 \xDC folds with \xFC
    M.NUMBER = 1;
    ASSERT_TRUE(Msgs.get(K_Alpha)) << errorText();
    EXPECT_EQ(M.NUMBER, 1u);
    Msgs.clearBuffer();
    M.NUMBER = 2;
    ASSERT_TRUE(Msgs.get(K_Id));
    EXPECT_EQ(M.ALPHA.str(), "abcdefghij");  // cut at the width of 10
    // unique case-insensitive key: same name in other case is a duplicate
    Msgs.clearBuffer();
    M.NUMBER = 1;
    M.ALPHA = "m\xFCLLER";
    EXPECT_FALSE(Msgs.add());
    EXPECT_EQ(errorCode(), ErrDuplicateKey);
    M.NUMBER = 2;
    M.ALPHA = "other";
    EXPECT_FALSE(Msgs.add());  // primary key repeats
    EXPECT_EQ(errorCode(), ErrDuplicateKey);
}

TEST_F(Storage, ArraysMemoPutEraseAndPositions) {
    Msgs.clearBuffer();
    M.NUMBER = 3;
    M.TAGS[0] = "ab";
    M.TAGS[1] = "cdefg";
    ASSERT_TRUE(Msgs.add());
    Position p = Msgs.position();
    Msgs.clearBuffer();
    ASSERT_TRUE(Msgs.reget(p));
    EXPECT_EQ(M.TAGS[1].str(), "cdef");
    M.DATE = 77;
    ASSERT_TRUE(Msgs.put());
    Msgs.clearBuffer();
    M.NUMBER = 3;
    ASSERT_TRUE(Msgs.get(K_Id));
    EXPECT_EQ(M.DATE, 77);
    ASSERT_TRUE(Msgs.erase());
    EXPECT_FALSE(Msgs.reget(p));
    EXPECT_EQ(errorCode(), ErrRecordNotFound);

    Texts.clearBuffer();
    T.NUMBER = 1;
    T_Memo = std::string(70000, 'x');  // more than the memo holds
    ASSERT_TRUE(Texts.add());
    T_Memo.clear();
    ASSERT_TRUE(Texts.get(0));
    EXPECT_EQ(T_Memo.size(), 64000u);
    Texts.skipMemo(true);
    T_Memo = "kept";
    ASSERT_TRUE(Texts.get(0));
    EXPECT_EQ(T_Memo, "kept");
    Texts.skipMemo(false);
    EXPECT_EQ(Texts.records(), 1);
}

TEST_F(Storage, OptionalKeyLeavesOutZeroRows) {
    addMsg(1, "a", 1, 0);
    addMsg(2, "b", 1, 2);
    addMsg(3, "c", 1, 1);
    EXPECT_EQ(readAll(K_Status), (std::vector<uint32_t>{3, 2}));
}

TEST_F(Storage, ModifyingWhileIteratingVisitsEveryRowOnce) {
    for (uint32_t i = 1; i <= 50; ++i) addMsg(i, "n" + std::to_string(i), 1, 2);
    // Lowering the status moves each row behind the cursor in StatusKey order.
    Msgs.set(K_Status);
    std::set<uint32_t> seen;
    while (Msgs.next()) {
        ASSERT_TRUE(seen.insert(M.NUMBER).second) << "visited twice: " << M.NUMBER;
        if (M.DUMMY == 2) {
            M.DUMMY = 1;
            ASSERT_TRUE(Msgs.put());
        }
    }
    EXPECT_EQ(seen.size(), 50u);
}

TEST_F(Storage, AppendThenBuildAndKeysNeedRebuildOnOpen) {
    Msgs.stream();
    for (uint32_t i = 1; i <= 1000; ++i) {
        Msgs.clearBuffer();
        M.NUMBER = i;
        M.ALPHA = "x" + std::to_string(i);
        ASSERT_TRUE(Msgs.append());
    }
    Msgs.flush();
    Msgs.close();
    Msgs.open(msgs, OpenMode::SharedReadWrite);
    EXPECT_EQ(errorCode(), ErrKeysNeedRebuild);
    ASSERT_TRUE(Msgs.build()) << errorText();
    Msgs.close();
    Msgs.open(msgs, OpenMode::SharedReadWrite);
    ASSERT_EQ(errorCode(), 0);
    EXPECT_EQ(Msgs.records(), 1000);
    auto all = readAll(K_Id);
    ASSERT_EQ(all.size(), 1000u);
    EXPECT_EQ(all.front(), 1000u);

    // duplicates among appended rows make the build fail
    Msgs.clearBuffer();
    M.NUMBER = 5;
    M.ALPHA = "dup";
    ASSERT_TRUE(Msgs.append());
    EXPECT_FALSE(Msgs.build());
    EXPECT_EQ(errorCode(), ErrDuplicateKey);
}

TEST_F(Storage, OtherLayoutIsInvalidDeclarationAndRowCountStillReadable) {
    addMsg(1, "a", 1);
    Msgs.close();
    struct Other { uint32_t X; } o{};
    Table other(903, "Other", "O", StorageKind::Keyed, &o, sizeof o, {QB_FIELD(Other, X, "O", ULong, 0)}, {});
    other.open(msgs, OpenMode::SharedReadWrite);
    EXPECT_EQ(errorCode(), ErrInvalidDeclaration);
    EXPECT_FALSE(other.isOpen());
    EXPECT_EQ(storedRowCount(msgs), 1);
    // a file that is no table at all
    std::string junk = dir.path + "/junk.TPS";
    writeFile(junk, std::string(4096, 'j'));
    other.open(junk, OpenMode::SharedReadWrite);
    EXPECT_EQ(errorCode(), ErrFileSystem);
    other.open(dir.path + "/missing.TPS", OpenMode::SharedReadWrite);
    EXPECT_EQ(errorCode(), ErrFileNotFound);
    other.open(dir.path + "/nodir/x.TPS", OpenMode::SharedReadWrite);
    EXPECT_EQ(errorCode(), ErrPathNotFound);
    other.open("", OpenMode::SharedReadWrite);
    EXPECT_EQ(errorCode(), ErrInvalidFileName);
}

TEST_F(Storage, TransactionRollbackUndoesBothFiles) {
    ASSERT_TRUE(beginTransaction({&Msgs, &Texts}));
    addMsg(1, "a", 1);
    T.NUMBER = 1;
    T_Memo = "hello";
    ASSERT_TRUE(Texts.add());
    ASSERT_TRUE(rollbackTransaction());
    EXPECT_EQ(Msgs.records(), 0);
    EXPECT_EQ(Texts.records(), 0);
    ASSERT_TRUE(beginTransaction({&Msgs, &Texts}));
    EXPECT_FALSE(beginTransaction({&Msgs}));  // one at a time
    addMsg(2, "b", 1);
    T.NUMBER = 2;
    ASSERT_TRUE(Texts.add());
    ASSERT_TRUE(commitTransaction());
    EXPECT_EQ(Msgs.records(), 1);
    EXPECT_EQ(Texts.records(), 1);
}

TEST_F(Storage, TransactionsFollowAChangeOfTheEngineDirectory) {
    ASSERT_TRUE(beginTransaction({&Msgs, &Texts}));
    addMsg(1, "a", 1);
    ASSERT_TRUE(commitTransaction());
    Msgs.close();
    Texts.close();
    // The first home goes away while the process lives on with another one.
    TempDir other;
    fs::remove_all(dir.path);
    setEngineDirectory(other.path);
    Msgs.create(other.path + "/IDX003.TPS");
    Msgs.open(other.path + "/IDX003.TPS", OpenMode::SharedReadWrite);
    Texts.create(other.path + "/IDX004.TPS");
    Texts.open(other.path + "/IDX004.TPS", OpenMode::SharedReadWrite);
    ASSERT_EQ(errorCode(), 0) << errorText();
    ASSERT_TRUE(beginTransaction({&Msgs, &Texts})) << errorText();
    addMsg(2, "b", 1);
    T.NUMBER = 2;
    ASSERT_TRUE(Texts.add());
    ASSERT_TRUE(commitTransaction()) << errorText();
    EXPECT_EQ(Msgs.records(), 1);
    EXPECT_EQ(Texts.records(), 1);
    closeAllTables();
    fs::create_directories(dir.path);  // for the fixture's clean-up
}

TEST_F(Storage, OpenModesBetweenProcesses) {
    Msgs.close();
    Msgs.open(msgs, OpenMode::Exclusive);
    ASSERT_EQ(errorCode(), 0);
    int rc = runChild([&] {
        MsgRec r{};
        Table again(904, "Msgs", "M", StorageKind::Keyed, &r, sizeof r, msgFields(), msgKeys());
        again.open(msgs, OpenMode::SharedReadOnly);
        return errorCode() == ErrAccessDenied ? 0 : 1;
    });
    EXPECT_EQ(rc, 0);
    Msgs.close();
    Msgs.open(msgs, OpenMode::DenyWrite);
    rc = runChild([&] {
        MsgRec r{};
        Table again(904, "Msgs", "M", StorageKind::Keyed, &r, sizeof r, msgFields(), msgKeys());
        again.open(msgs, OpenMode::SharedReadOnly);
        if (errorCode() != 0) return 1;
        again.close();
        again.open(msgs, OpenMode::SharedReadWrite);
        return errorCode() == ErrAccessDenied ? 0 : 2;
    });
    EXPECT_EQ(rc, 0);
}

TEST_F(Storage, HoldIsSeenByAnotherProcessAndVanishesWithIt) {
    addMsg(1, "a", 1);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    if (child == 0) {
        MsgRec r{};
        Table again(904, "Msgs", "M", StorageKind::Keyed, &r, sizeof r, msgFields(), msgKeys());
        again.open(msgs, OpenMode::SharedReadWrite);
        r.NUMBER = 1;
        bool ok = again.get(K_Id) && again.hold();
        char c = ok ? 'y' : 'n';
        if (write(ready[1], &c, 1) != 1) _exit(1);
        pause();
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    M.NUMBER = 1;
    ASSERT_TRUE(Msgs.get(K_Id));
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(Msgs.hold());
    EXPECT_EQ(errorCode(), ErrRecordHeld);
    auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_LT(waited, std::chrono::milliseconds(3000));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_TRUE(Msgs.hold()) << "the hold of a dead process must vanish";
    Msgs.release();
    close(ready[0]);
    close(ready[1]);
}

// A writer commits pairs of rows into two files in a loop and is killed at a
// random moment; every pair must then be wholly present or wholly absent.
TEST_F(Storage, CommitsAcrossFilesSurviveKillDuringCommit) {
    closeAllTables();
    for (int round = 0; round < 12; ++round) {
        pid_t child = fork();
        if (child == 0) {
            Msgs.open(msgs, OpenMode::SharedReadWrite);
            Texts.open(texts, OpenMode::SharedReadWrite);
            if (errorCode()) _exit(1);
            Msgs.clearBuffer();
            M.NUMBER = 0;
            Msgs.set(K_Id);
            uint32_t n = Msgs.next() ? M.NUMBER : 0;
            for (;;) {
                ++n;
                if (!beginTransaction({&Msgs, &Texts})) continue;
                for (int k = 0; k < 5; ++k) {
                    Msgs.clearBuffer();
                    M.NUMBER = n * 10 + k;
                    M.ALPHA = "m" + std::to_string(n);
                    Msgs.add();
                    T.NUMBER = n * 10 + k;
                    T_Memo = std::string(3000, char('a' + k));
                    Texts.add();
                }
                commitTransaction();
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(40 + 37 * round));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        Msgs.open(msgs, OpenMode::SharedReadWrite);
        ASSERT_EQ(errorCode(), 0) << errorText();
        Texts.open(texts, OpenMode::SharedReadWrite);
        ASSERT_EQ(errorCode(), 0) << errorText();
        std::set<uint32_t> a, b;
        Msgs.set(K_Id);
        while (Msgs.next()) a.insert(M.NUMBER);
        Texts.set(0);
        while (Texts.next()) {
            b.insert(T.NUMBER);
            ASSERT_EQ(T_Memo.size(), 3000u);
        }
        ASSERT_EQ(a, b) << "round " << round;
        ASSERT_EQ(a.size() % 5, 0u);
        closeAllTables();
    }
}

namespace {

// Runs one transaction over both files in a child process that stops dead at
// the given stage of its commit; returns the child's exit status.
int commitAndDie(const std::string& msgs, const std::string& texts, int stage, uint32_t first, int pairs,
                 bool rewriteFirstText = false) {
    pid_t child = fork();
    if (child == 0) {
        static int dieAt;
        dieAt = stage;
        storageCommitHook = [](int s) {
            if (s == dieAt) _exit(7);
        };
        closeAllTables();
        Msgs.open(msgs, OpenMode::SharedReadWrite);
        Texts.open(texts, OpenMode::SharedReadWrite);
        if (errorCode()) _exit(1);
        if (!beginTransaction({&Msgs, &Texts})) _exit(2);
        for (int k = 0; k < pairs; ++k) {
            Msgs.clearBuffer();
            M.NUMBER = first + k;
            M.ALPHA = "t" + std::to_string(first + k);
            if (!Msgs.add()) _exit(3);
            Texts.clearBuffer();
            T.NUMBER = first + k;
            T_Memo = "text of " + std::to_string(first + k);
            if (!Texts.add()) _exit(4);
            if (k == 0 && rewriteFirstText) {
                T_Memo = "rewritten text of " + std::to_string(first);
                if (!Texts.put()) _exit(5);
            }
        }
        commitTransaction();
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

std::map<uint32_t, std::string> textsByNumber() {
    std::map<uint32_t, std::string> r;
    Texts.set(0);
    while (Texts.next()) r[T.NUMBER] = T_Memo;
    return r;
}

std::set<uint32_t> msgNumbers() {
    std::set<uint32_t> r;
    Msgs.set(K_Id);
    while (Msgs.next()) r.insert(M.NUMBER);
    return r;
}

int64_t logBytes(const std::string& dir) {
    int64_t n = 0;
    for (auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".redo") n += static_cast<int64_t>(e.file_size());
    return n;
}

} // namespace

// A writer that dies once its commit log is on disk but before any file holds
// the transaction: opening the tables again finishes it in both files.
TEST_F(Storage, CommitLogFinishesATransactionNoFileHolds) {
    addMsg(1, "before", 1);
    closeAllTables();
    ASSERT_EQ(commitAndDie(msgs, texts, 1, 100, 4), 7);
    EXPECT_GT(logBytes(dir.path), 0);
    Msgs.open(msgs, OpenMode::SharedReadWrite);
    ASSERT_EQ(errorCode(), 0) << errorText();
    Texts.open(texts, OpenMode::SharedReadWrite);
    EXPECT_EQ(msgNumbers(), (std::set<uint32_t>{1, 100, 101, 102, 103}));
    auto t = textsByNumber();
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[102], "text of 102");
    EXPECT_EQ(logBytes(dir.path), 0) << "a finished log is emptied";
    // Opening again replays nothing twice.
    closeAllTables();
    Msgs.open(msgs, OpenMode::SharedReadWrite);
    Texts.open(texts, OpenMode::SharedReadWrite);
    EXPECT_EQ(Msgs.records(), 5);
    EXPECT_EQ(Texts.records(), 4);
}

// The writer dies after the first file committed and before the second did
// (made here by putting back the second file as it was): the second file gets
// the transaction, the first does not get it twice. A row that another
// process stored meanwhile where the transaction's row stood keeps its place,
// and the change of the transaction's own row follows it to where it went.
TEST_F(Storage, CommitLogFinishesTheFilesThatMissTheTransaction) {
    addMsg(1, "before", 1);
    Texts.clearBuffer();
    T.NUMBER = 1;
    T_Memo = "first";
    ASSERT_TRUE(Texts.add());
    closeAllTables();
    const std::string saved = dir.path + "/texts.saved";
    fs::copy_file(texts, saved);
    ASSERT_EQ(commitAndDie(msgs, texts, 2, 200, 3, true), 7);
    closeAllTables();
    for (const char* side : {"", "-wal", "-shm"}) fs::remove(texts + side);
    fs::copy_file(saved, texts);
    {
        // Another process stores a row in the second file before anyone
        // opens the tables again.
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(texts.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, "INSERT INTO r (NUMBER, Text) VALUES (999, 'foreign')", nullptr, nullptr, nullptr),
                  SQLITE_OK)
            << sqlite3_errmsg(db);
        sqlite3_close(db);
    }
    Msgs.open(msgs, OpenMode::SharedReadWrite);
    ASSERT_EQ(errorCode(), 0) << errorText();
    Texts.open(texts, OpenMode::SharedReadWrite);
    ASSERT_EQ(errorCode(), 0) << errorText();
    EXPECT_EQ(msgNumbers(), (std::set<uint32_t>{1, 200, 201, 202}));
    auto t = textsByNumber();
    EXPECT_EQ(t, (std::map<uint32_t, std::string>{{1, "first"},
                                                  {200, "rewritten text of 200"},
                                                  {201, "text of 201"},
                                                  {202, "text of 202"},
                                                  {999, "foreign"}}));
}

// A log cut short while it was written stands for a commit that never began:
// nothing of it is replayed.
TEST_F(Storage, CommitLogCutShortIsIgnored) {
    closeAllTables();
    ASSERT_EQ(commitAndDie(msgs, texts, 1, 300, 2), 7);
    for (auto& e : fs::directory_iterator(dir.path))
        if (e.path().extension() == ".redo" && e.file_size() > 0) fs::resize_file(e.path(), e.file_size() - 3);
    Msgs.open(msgs, OpenMode::SharedReadWrite);
    Texts.open(texts, OpenMode::SharedReadWrite);
    EXPECT_EQ(Msgs.records(), 0);
    EXPECT_EQ(Texts.records(), 0);
    EXPECT_EQ(logBytes(dir.path), 0);
}

// Files at rest look as they did before any transaction: no write-ahead log
// beside them and the rollback-journal format in their header, so they can be
// read where no log can be made.
TEST_F(Storage, FilesAtRestKeepNoWriteAheadLog) {
    for (int n = 0; n < 3; ++n) {
        ASSERT_TRUE(beginTransaction({&Msgs, &Texts}));
        addMsg(10 + n, "x", 1);
        Texts.clearBuffer();
        T.NUMBER = 10 + n;
        T_Memo = "t";
        ASSERT_TRUE(Texts.add());
        ASSERT_TRUE(commitTransaction()) << errorText();
    }
    closeAllTables();
    for (const std::string& f : {msgs, texts}) {
        EXPECT_FALSE(fs::exists(f + "-wal")) << f;
        std::string head = readFile(f).substr(0, 20);
        ASSERT_EQ(head.size(), 20u);
        EXPECT_EQ(head[18], 1) << f;  // 1: rollback journal, 2: write-ahead log
        EXPECT_EQ(head[19], 1) << f;
    }
    Msgs.open(msgs, OpenMode::SharedReadOnly);
    ASSERT_EQ(errorCode(), 0) << errorText();
    EXPECT_EQ(Msgs.records(), 3);
}

// The log of a living writer is left alone, even while its commit waits; once
// the writer is killed there, the next opening finishes the transaction.
TEST_F(Storage, CommitLogOfALivingWriterIsLeftAlone) {
    closeAllTables();
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    if (child == 0) {
        static int readyFd;
        readyFd = ready[1];
        storageCommitHook = [](int s) {
            if (s != 1) return;
            char c = 'r';
            (void)!write(readyFd, &c, 1);
            for (;;) pause();
        };
        Msgs.open(msgs, OpenMode::SharedReadWrite);
        Texts.open(texts, OpenMode::SharedReadWrite);
        if (errorCode() || !beginTransaction({&Msgs, &Texts})) _exit(1);
        Msgs.clearBuffer();
        M.NUMBER = 42;
        Msgs.add();
        Texts.clearBuffer();
        T.NUMBER = 42;
        T_Memo = "waiting";
        Texts.add();
        commitTransaction();
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    EXPECT_GT(logBytes(dir.path), 0);
    const auto t0 = std::chrono::steady_clock::now();
    Msgs.open(msgs, OpenMode::SharedReadOnly);
    ASSERT_EQ(errorCode(), 0) << errorText();
    // Opening does not wait for the writer's files.
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_EQ(Msgs.records(), 0);
    EXPECT_GT(logBytes(dir.path), 0) << "the log of a living writer is not touched";
    closeAllTables();
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    Msgs.open(msgs, OpenMode::SharedReadWrite);
    Texts.open(texts, OpenMode::SharedReadWrite);
    ASSERT_EQ(errorCode(), 0) << errorText();
    EXPECT_EQ(msgNumbers(), (std::set<uint32_t>{42}));
    EXPECT_EQ(textsByNumber(), (std::map<uint32_t, std::string>{{42, "waiting"}}));
}

// Writing some fields of a row: the others stay as stored (also when the
// buffer holds other values for them), the keys follow the written fields,
// and a commit finished from the commit log writes the same row.
TEST_F(Storage, PutOfSomeFieldsLeavesTheOthersAsStoredAlsoFromTheCommitLog) {
    addMsg(1, "old", 100);
    addMsg(2, "other", 200);
    const std::vector<int> alphaOnly = {Msgs.fieldIndex("M:ALPHA")};
    Msgs.clearBuffer();
    M.NUMBER = 1;
    ASSERT_TRUE(Msgs.get(K_Id));
    M.ALPHA = "new";
    M.DATE = 999;
    ASSERT_TRUE(putFields(Msgs, alphaOnly)) << errorText();
    EXPECT_EQ(M.DATE, 999) << "the buffer stays as the caller left it";
    Msgs.clearBuffer();
    M.NUMBER = 1;
    ASSERT_TRUE(Msgs.get(K_Id));
    EXPECT_EQ(M.ALPHA.str(), "new");
    EXPECT_EQ(M.DATE, 100);
    EXPECT_EQ(readAll(K_Alpha), (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(readAll(K_Date), (std::vector<uint32_t>{2, 1}));
    EXPECT_FALSE(putFields(Msgs, {42}));
    EXPECT_FALSE(putFields(Msgs, {}));

    // In a transaction over both files, killed once its log is on disk.
    closeAllTables();
    pid_t child = fork();
    if (child == 0) {
        storageCommitHook = [](int s) {
            if (s == 1) _exit(7);
        };
        Msgs.open(msgs, OpenMode::SharedReadWrite);
        Texts.open(texts, OpenMode::SharedReadWrite);
        if (errorCode() || !beginTransaction({&Msgs, &Texts})) _exit(1);
        Msgs.clearBuffer();
        M.NUMBER = 2;
        if (!Msgs.get(K_Id)) _exit(2);
        M.ALPHA = "renamed";
        M.DATE = 555;
        if (!putFields(Msgs, {Msgs.fieldIndex("M:ALPHA")})) _exit(3);
        Texts.clearBuffer();
        T.NUMBER = 2;
        T_Memo = "text";
        if (!Texts.add()) _exit(4);
        commitTransaction();
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 7);
    Msgs.open(msgs, OpenMode::SharedReadWrite);
    ASSERT_EQ(errorCode(), 0) << errorText();
    Texts.open(texts, OpenMode::SharedReadWrite);
    EXPECT_EQ(textsByNumber(), (std::map<uint32_t, std::string>{{2, "text"}}));
    Msgs.clearBuffer();
    M.NUMBER = 2;
    ASSERT_TRUE(Msgs.get(K_Id));
    EXPECT_EQ(M.ALPHA.str(), "renamed");
    EXPECT_EQ(M.DATE, 200);
}

// ---- a table opened again in the same process
//
// A closed table keeps its connection for the next opening of its file; what
// happened to the file in between must still be seen, and the kept
// connection must not stand in anyone's way.

namespace {

// Closed tables keep their connections while one of these lives.
struct KeepClosed {
    KeepClosed() { keepClosedConnections(true); }
    ~KeepClosed() { keepClosedConnections(false); }
};

// The descriptors of this process that refer to path.
int descriptorsOn(const std::string& path) {
    int n = 0;
    std::error_code ec;
    for (auto& e : fs::directory_iterator("/proc/self/fd", ec)) {
        std::error_code lec;
        if (fs::read_symlink(e.path(), lec) == fs::path(path)) ++n;
    }
    return n;
}

} // namespace

TEST_F(Storage, ReopenedTableSeesWhatAnotherProcessChanged) {
    const KeepClosed keep;
    addMsg(1, "one", 10);
    Msgs.close();
    int rc = runChild([&] {
        MsgRec r{};
        Table again(904, "Msgs", "M", StorageKind::Keyed, &r, sizeof r, msgFields(), msgKeys());
        again.open(msgs, OpenMode::SharedReadWrite);
        if (errorCode()) return 1;
        r.NUMBER = 1;
        if (!again.get(K_Id)) return 2;
        r.ALPHA = "changed";
        if (!again.put()) return 3;
        again.clearBuffer();
        r.NUMBER = 2;
        r.ALPHA = "two";
        return again.add() ? 0 : 4;
    });
    ASSERT_EQ(rc, 0);
    Msgs.open(msgs, OpenMode::SharedReadWrite);
    ASSERT_EQ(errorCode(), 0) << errorText();
    EXPECT_EQ(readAll(K_Id), (std::vector<uint32_t>{2, 1}));
    M.NUMBER = 1;
    ASSERT_TRUE(Msgs.get(K_Id));
    EXPECT_EQ(M.ALPHA.str(), "changed");

    // Keys dropped by another process meanwhile are reported at the opening.
    Msgs.close();
    rc = runChild([&] {
        MsgRec r{};
        Table again(904, "Msgs", "M", StorageKind::Keyed, &r, sizeof r, msgFields(), msgKeys());
        again.open(msgs, OpenMode::SharedReadWrite);
        r.NUMBER = 3;
        return errorCode() == 0 && again.append() ? 0 : 1;
    });
    ASSERT_EQ(rc, 0);
    Msgs.open(msgs, OpenMode::SharedReadWrite);
    EXPECT_EQ(errorCode(), ErrKeysNeedRebuild);
    ASSERT_TRUE(Msgs.build()) << errorText();
    EXPECT_EQ(Msgs.records(), 3);
}

TEST_F(Storage, ReopenReadsTheFileNowUnderTheName) {
    const KeepClosed keep;
    addMsg(1, "old", 10);
    Msgs.close();
    // Made anew under the same name by another table object.
    {
        MsgRec r{};
        Table other(904, "Msgs", "M", StorageKind::Keyed, &r, sizeof r, msgFields(), msgKeys());
        other.create(msgs);
        ASSERT_EQ(errorCode(), 0) << errorText();
        other.open(msgs, OpenMode::SharedReadWrite);
        r.NUMBER = 7;
        r.ALPHA = "new";
        ASSERT_TRUE(other.add()) << errorText();
        other.close();
    }
    Msgs.open(msgs, OpenMode::SharedReadWrite);
    ASSERT_EQ(errorCode(), 0) << errorText();
    EXPECT_EQ(readAll(K_Id), (std::vector<uint32_t>{7}));
    Msgs.close();

    // Made anew with another layout: not this declaration.
    {
        TextRec r{};
        Table other(905, "Other", "T", StorageKind::Keyed, &r, sizeof r, {QB_FIELD(TextRec, NUMBER, "T", ULong, 0)},
                    {KeyDef{"T:IdKey", {{0, false}}, true, false, true}});
        other.create(msgs);
        ASSERT_EQ(errorCode(), 0) << errorText();
    }
    Msgs.open(msgs, OpenMode::SharedReadWrite);
    EXPECT_EQ(errorCode(), ErrInvalidDeclaration);
    EXPECT_FALSE(Msgs.isOpen());

    // Gone: not found, and the file's last connection is let go.
    fs::remove(msgs);
    Msgs.open(msgs, OpenMode::SharedReadWrite);
    EXPECT_EQ(errorCode(), ErrFileNotFound);
    EXPECT_EQ(descriptorsOn(msgs), 0);
    Msgs.open(dir.path + "/nowhere/IDX003.TPS", OpenMode::SharedReadWrite);
    EXPECT_EQ(errorCode(), ErrPathNotFound);
}

TEST_F(Storage, ClosedTableLeavesItsFileFreeToOthers) {
    const KeepClosed keep;
    for (uint32_t n = 1; n <= 3; ++n) addMsg(n, "m" + std::to_string(n), 1);
    // Closed in the middle of a walk through the rows.
    Msgs.set(K_Id);
    ASSERT_TRUE(Msgs.next());
    Msgs.close();
    const auto t0 = std::chrono::steady_clock::now();
    int rc = runChild([&] {
        MsgRec r{};
        Table again(904, "Msgs", "M", StorageKind::Keyed, &r, sizeof r, msgFields(), msgKeys());
        again.open(msgs, OpenMode::Exclusive);
        if (errorCode()) return 1;
        r.NUMBER = 4;
        if (!again.add()) return 2;
        return again.pack() ? 0 : 3;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2)) << "the writer waited for a lock";
    Msgs.open(msgs, OpenMode::SharedReadOnly);
    ASSERT_EQ(errorCode(), 0) << errorText();
    EXPECT_EQ(Msgs.records(), 4);
    closeAllTables();
    EXPECT_EQ(descriptorsOn(texts), 1) << "kept for a reopening";
}

// A writer that dies in its commit while our tables are closed: opening them
// again finishes its transaction before anything is read.
TEST_F(Storage, DeadWritersTransactionIsFinishedBeforeAReopenedTableIsRead) {
    const KeepClosed keep;
    addMsg(1, "before", 1);
    Msgs.close();
    Texts.close();
    ASSERT_EQ(commitAndDie(msgs, texts, 1, 100, 3), 7);
    EXPECT_GT(logBytes(dir.path), 0);
    Msgs.open(msgs, OpenMode::SharedReadWrite);
    ASSERT_EQ(errorCode(), 0) << errorText();
    Texts.open(texts, OpenMode::SharedReadWrite);
    ASSERT_EQ(errorCode(), 0) << errorText();
    EXPECT_EQ(msgNumbers(), (std::set<uint32_t>{1, 100, 101, 102}));
    EXPECT_EQ(textsByNumber().size(), 3u);
    EXPECT_EQ(logBytes(dir.path), 0);
}

// Without the setting a closed table lets go of its file at once; turning the
// setting off lets go of the connections kept so far.
TEST_F(Storage, ClosedTablesKeepConnectionsOnlyWhileAsked) {
    Msgs.close();
    Texts.close();
    EXPECT_EQ(descriptorsOn(msgs), 0);
    {
        const KeepClosed keep;
        Msgs.open(msgs, OpenMode::SharedReadWrite);
        Msgs.close();
        EXPECT_EQ(descriptorsOn(msgs), 1);
        EXPECT_EQ(descriptorsOn(texts), 0) << "closed before the setting";
    }
    EXPECT_EQ(descriptorsOn(msgs), 0);
    EXPECT_EQ(descriptorsOn(texts), 0);
}
