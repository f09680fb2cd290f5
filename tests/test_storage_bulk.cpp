// Appending many rows of a two-number table at once: every row or none,
// keys later or kept, files kept in key order and files with row IDs, and
// inside a transaction.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "core/bulkappend.h"
#include "core/storage.h"
#include "tests/testutil.h"

using namespace qb;

namespace {

struct PairRec {
    uint32_t A;
    uint32_t B;
};
PairRec P;

std::vector<FieldDef> pairFields() {
    return {QB_FIELD(PairRec, A, "P", ULong, 0), QB_FIELD(PairRec, B, "P", ULong, 0)};
}

// Kept in the order of (A, B) without row IDs, like the master index.
Table Clustered(911, "Clustered", "P", StorageKind::Keyed, &P, sizeof P, pairFields(),
                {KeyDef{"P:Both", {{0, false}, {1, false}}, true, false, true, true},
                 KeyDef{"P:ByB", {{1, false}}, false, false, false, true}});
// The same keys, but none primary: a file with row IDs.
Table WithRowIds(912, "WithRowIds", "P", StorageKind::Keyed, &P, sizeof P, pairFields(),
                 {KeyDef{"P:Both", {{0, false}, {1, false}}, true, false, false, true},
                  KeyDef{"P:ByB", {{1, false}}, false, false, false, true}});

uint64_t row(uint32_t a, uint32_t b) { return uint64_t(a) << 32 | b; }

// Rows in key order (A, B).
std::vector<uint64_t> rowsOf(Table& t) {
    std::vector<uint64_t> out;
    t.set(0);
    while (t.next()) out.push_back(row(P.A, P.B));
    return out;
}

// The A of every row with this B, by the key on B.
std::vector<uint32_t> asWithB(Table& t, uint32_t b) {
    std::vector<uint32_t> out;
    t.clearBuffer();
    P.B = b;
    t.setFrom(1);
    while (t.next() && P.B == b) out.push_back(P.A);
    return out;
}

class StorageBulk : public ::testing::TestWithParam<Table*> {
protected:
    TempDir dir;
    Table& t = *GetParam();
    void SetUp() override {
        setEngineDirectory(dir.path);
        t.create(dir.path + "/IDX929.TPS");
        ASSERT_EQ(errorCode(), 0) << errorText();
        t.open(dir.path + "/IDX929.TPS", OpenMode::SharedReadWrite);
        ASSERT_EQ(errorCode(), 0) << errorText();
    }
    void TearDown() override { closeAllTables(); }

    // Messages 1..messages, each with the words 1..words, in key order.
    static std::vector<uint64_t> pairs(uint32_t fromMessage, uint32_t messages, uint32_t words) {
        std::vector<uint64_t> out;
        for (uint32_t m = fromMessage; m < fromMessage + messages; ++m)
            for (uint32_t w = 1; w <= words; ++w) out.push_back(row(m, w));
        return out;
    }
};

TEST_P(StorageBulk, AppendsEveryRowWithKeysBuiltLaterOrKept) {
    // More rows than one statement takes, and a remainder.
    const std::vector<uint64_t> first = pairs(1, 61, 10);
    Position at = 0;
    ASSERT_TRUE(appendNumberPairs(t, first.data(), first.size(), true, at)) << errorText();
    EXPECT_EQ(t.records(), 610);
    ASSERT_TRUE(t.build()) << errorText();
    EXPECT_EQ(rowsOf(t), first);
    ASSERT_TRUE(t.reget(at));
    EXPECT_EQ(row(P.A, P.B), first.front());  // the first row stored

    // Into an index with its keys: readable by both keys without a build.
    const std::vector<uint64_t> more = pairs(62, 3, 4);
    ASSERT_TRUE(appendNumberPairs(t, more.data(), more.size(), false, at)) << errorText();
    ASSERT_TRUE(t.reget(at));
    EXPECT_EQ(row(P.A, P.B), more.front());
    EXPECT_EQ(asWithB(t, 4).size(), 64u);
    EXPECT_EQ(asWithB(t, 7).size(), 61u);
    P.A = 63;
    P.B = 2;
    EXPECT_TRUE(t.get(0));
    std::vector<uint64_t> all = first;
    all.insert(all.end(), more.begin(), more.end());
    EXPECT_EQ(rowsOf(t), all);
    // Nothing to append is no error.
    EXPECT_TRUE(appendNumberPairs(t, more.data(), 0, false, at));
    EXPECT_EQ(t.records(), static_cast<int64_t>(all.size()));
}

TEST_P(StorageBulk, FailureHalfwayLeavesTheTableAsBefore) {
    const std::vector<uint64_t> before = pairs(1, 5, 3);
    Position at = 0;
    ASSERT_TRUE(appendNumberPairs(t, before.data(), before.size(), false, at));
    // A row already stored, deep inside a run of many rows ...
    std::vector<uint64_t> clash = pairs(10, 100, 7);
    clash.insert(clash.begin() + 500, row(3, 2));
    EXPECT_FALSE(appendNumberPairs(t, clash.data(), clash.size(), false, at));
    EXPECT_EQ(errorCode(), ErrDuplicateKey) << errorText();
    EXPECT_EQ(at, 0);
    EXPECT_EQ(rowsOf(t), before);
    EXPECT_EQ(t.records(), 15);
    EXPECT_TRUE(asWithB(t, 7).empty());
    // ... and among the rows after the last full statement.
    std::vector<uint64_t> tail = pairs(10, 1, 5);
    tail.push_back(row(10, 5));
    EXPECT_FALSE(appendNumberPairs(t, tail.data(), tail.size(), false, at));
    EXPECT_EQ(errorCode(), ErrDuplicateKey);
    EXPECT_EQ(rowsOf(t), before);
    // The table takes rows again afterwards.
    ASSERT_TRUE(appendNumberPairs(t, clash.data(), 400, false, at)) << errorText();
    EXPECT_EQ(t.records(), static_cast<int64_t>(before.size() + 400));
}

TEST_P(StorageBulk, InsideATransactionTheRowsGoWithIt) {
    const std::vector<uint64_t> rows = pairs(1, 40, 9);
    ASSERT_TRUE(beginTransaction({&t}));
    Position at = 0;
    ASSERT_TRUE(appendNumberPairs(t, rows.data(), rows.size(), false, at)) << errorText();
    EXPECT_EQ(t.records(), static_cast<int64_t>(rows.size()));
    ASSERT_TRUE(rollbackTransaction());
    EXPECT_EQ(t.records(), 0);
    ASSERT_TRUE(beginTransaction({&t}));
    ASSERT_TRUE(appendNumberPairs(t, rows.data(), rows.size(), false, at)) << errorText();
    ASSERT_TRUE(commitTransaction()) << errorText();
    EXPECT_EQ(rowsOf(t), rows);
}

INSTANTIATE_TEST_SUITE_P(Layouts, StorageBulk, ::testing::Values(&Clustered, &WithRowIds),
                         [](const auto& info) { return info.param == &Clustered ? "KeyOrder" : "RowIds"; });

// A table of words: a number and a string under a unique key without case.
struct WordRec {
    uint32_t ID;
    Str<12> NAME;
};
WordRec W;
Table Words(914, "Words", "W", StorageKind::Keyed, &W, sizeof W,
            {QB_FIELD(WordRec, ID, "W", ULong, 0), QB_FIELD(WordRec, NAME, "W", String, 12)},
            {KeyDef{"W:ById", {{0, false}}, true, false, false, true},
             KeyDef{"W:ByName", {{1, false}}, true, true, false, true}});

TEST(StorageBulkRows, StringsGoInWholeAndADuplicateTakesItsRowsBack) {
    TempDir dir;
    setEngineDirectory(dir.path);
    Words.create(dir.path + "/IDX928.TPS");
    Words.open(dir.path + "/IDX928.TPS", OpenMode::SharedReadWrite);
    ASSERT_EQ(errorCode(), 0) << errorText();
    std::vector<std::string> names;
    for (int i = 0; i < 700; ++i) names.push_back("WORD" + std::to_string(i));
    auto fill = [&](size_t i) {
        Words.clearBuffer();
        W.ID = static_cast<uint32_t>(i + 1);
        W.NAME = names[i];
    };
    Position at = 0;
    ASSERT_TRUE(appendRows(Words, 600, true, at, fill)) << errorText();
    ASSERT_TRUE(Words.build()) << errorText();
    EXPECT_EQ(Words.records(), 600);
    Words.clearBuffer();
    W.NAME = "word599";
    ASSERT_TRUE(Words.get(1));
    EXPECT_EQ(W.ID, 600u);
    ASSERT_TRUE(Words.reget(at));
    EXPECT_EQ(W.ID, 1u);
    // The rest, with one name again in other letters deep among them.
    names[650] = "Word17";
    EXPECT_FALSE(appendRows(Words, 100, false, at, [&](size_t i) { fill(600 + i); }));
    EXPECT_EQ(errorCode(), ErrDuplicateKey) << errorText();
    EXPECT_EQ(Words.records(), 600);
    Words.clearBuffer();
    W.NAME = "WORD601";
    EXPECT_FALSE(Words.get(1));
    closeAllTables();
}

TEST(StorageBulkShape, OnlyTablesOfTwoWholeNumbers) {
    TempDir dir;
    setEngineDirectory(dir.path);
    struct Other {
        uint32_t A;
        int32_t B;
    } o{};
    Table other(913, "Other", "O", StorageKind::Keyed, &o, sizeof o,
                {QB_FIELD(Other, A, "O", ULong, 0), QB_FIELD(Other, B, "O", Long, 0)}, {});
    other.create(dir.path + "/IDX930.TPS");
    other.open(dir.path + "/IDX930.TPS", OpenMode::SharedReadWrite);
    ASSERT_TRUE(other.isOpen());
    const uint64_t rows[] = {row(1, 1)};
    Position at = 0;
    EXPECT_FALSE(appendNumberPairs(other, rows, 1, false, at));
    EXPECT_EQ(errorCode(), ErrInvalidDeclaration);
    EXPECT_EQ(other.records(), 0);
    closeAllTables();
}

} // namespace
