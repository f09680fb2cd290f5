// Positioned reads over keys whose rows share leading values: case-insensitive
// strings, descending and mixed components, rows equal on every component.
// Every position is checked against the key order worked out here.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "core/storage.h"
#include "core/text.h"
#include "tests/testutil.h"

using namespace qb;

namespace {

struct SeekRec {
    Str<10> NAME;
    uint32_t ID;
    uint32_t NUM;
};

SeekRec S;

enum { K_Up, K_Down, K_Mixed, K_Opt };

std::vector<KeyDef> seekKeys() {
    return {KeyDef{"S:UpKey", {{0, false}, {1, false}}, false, true},
            KeyDef{"S:DownKey", {{0, true}, {1, true}}, false, true},
            KeyDef{"S:MixedKey", {{0, false}, {1, false}, {2, true}}, false, true},
            KeyDef{"S:OptKey", {{1, false}}, false, false, false, true}};
}

Table Seeks(903, "Seeks", "S", StorageKind::Keyed, &S,
            sizeof S, {QB_FIELD(SeekRec, NAME, "S", String, 10), QB_FIELD(SeekRec, ID, "S", ULong, 0),
                       QB_FIELD(SeekRec, NUM, "S", ULong, 0)},
            seekKeys());

struct Row {
    std::string name;
    uint32_t id, num;
    Position pos;
};

class StorageSeek : public ::testing::Test {
protected:
    TempDir dir;
    std::vector<Row> rows;

    void SetUp() override {
        setEngineDirectory(dir.path);
        std::string path = dir.path + "/SEEK.TPS";
        Seeks.create(path);
        Seeks.open(path, OpenMode::SharedReadWrite);
        ASSERT_EQ(errorCode(), 0) << errorText();
        // Names equal but for case, ids and numbers repeated: runs of rows that
        // share one, two or all three key values, added out of order.
        const char* names[] = {"smith", "Adams", "SMITH", "adams", "Smith", "Zorn", "smith"};
        int n = 0;
        for (int round = 0; round < 3; ++round)
            for (const char* name : names)
                for (uint32_t id : {2u, 0u, 1u}) add(name, id, static_cast<uint32_t>((n++ * 7) % 5));
    }
    void TearDown() override { closeAllTables(); }

    void add(const std::string& name, uint32_t id, uint32_t num) {
        Seeks.clearBuffer();
        S.NAME = name;
        S.ID = id;
        S.NUM = num;
        ASSERT_TRUE(Seeks.add()) << errorText();
        rows.push_back(Row{name, id, num, Seeks.position()});
    }

    // The rows in the order of the key, forward.
    std::vector<Position> expected(int key) const {
        std::vector<Row> r;
        for (const Row& x : rows)
            if (key != K_Opt || x.id != 0) r.push_back(x);
        auto cmp = [&](const Row& a, const Row& b) {
            int byName = compare1252(a.name, b.name, true);
            int byId = a.id < b.id ? -1 : a.id > b.id ? 1 : 0;
            int byNum = a.num < b.num ? -1 : a.num > b.num ? 1 : 0;
            std::vector<int> c;
            if (key == K_Up) c = {byName, byId};
            if (key == K_Down) c = {-byName, -byId};
            if (key == K_Mixed) c = {byName, byId, -byNum};
            if (key == K_Opt) c = {byId};
            for (int v : c)
                if (v) return v < 0;
            return a.pos < b.pos;
        };
        std::sort(r.begin(), r.end(), cmp);
        std::vector<Position> p;
        for (const Row& x : r) p.push_back(x.pos);
        return p;
    }

    std::vector<Position> readOn(bool backward, size_t limit = SIZE_MAX) {
        std::vector<Position> r;
        while (r.size() < limit && (backward ? Seeks.previous() : Seeks.next())) r.push_back(Seeks.position());
        return r;
    }
};

} // namespace

TEST_F(StorageSeek, WholeKeyBothWays) {
    for (int key : {K_Up, K_Down, K_Mixed, K_Opt}) {
        auto want = expected(key);
        Seeks.set(key);
        EXPECT_EQ(readOn(false), want) << "key " << key;
        EXPECT_EQ(errorCode(), ErrRecordNotAvailable);
        std::reverse(want.begin(), want.end());
        Seeks.set(key);
        EXPECT_EQ(readOn(true), want) << "key " << key;
    }
}

TEST_F(StorageSeek, AfterEveryRowAmongEqualValues) {
    for (int key : {K_Up, K_Down, K_Mixed, K_Opt}) {
        auto want = expected(key);
        for (size_t i = 0; i < want.size(); ++i) {
            ASSERT_TRUE(Seeks.reget(want[i])) << errorText();
            Seeks.setAfter(key, want[i]);
            auto after = readOn(false);
            EXPECT_EQ(after, std::vector<Position>(want.begin() + static_cast<long>(i) + 1, want.end()))
                << "key " << key << " after row " << i;
            ASSERT_TRUE(Seeks.reget(want[i]));
            Seeks.setAfter(key, want[i]);
            auto before = readOn(true);
            std::vector<Position> back(want.begin(), want.begin() + static_cast<long>(i));
            std::reverse(back.begin(), back.end());
            EXPECT_EQ(before, back) << "key " << key << " before row " << i;
        }
    }
}

TEST_F(StorageSeek, TurningRoundInsideARunOfEqualValues) {
    for (int key : {K_Up, K_Down, K_Mixed}) {
        auto want = expected(key);
        const size_t mid = want.size() / 2;
        ASSERT_TRUE(Seeks.reget(want[mid]));
        Seeks.setAfter(key, want[mid]);
        auto fwd = readOn(false, 3);
        ASSERT_EQ(fwd.size(), 3u);
        EXPECT_EQ(fwd, std::vector<Position>(want.begin() + mid + 1, want.begin() + mid + 4));
        auto back = readOn(true, 4);
        EXPECT_EQ(back, (std::vector<Position>{want[mid + 2], want[mid + 1], want[mid], want[mid - 1]})) << "key " << key;
    }
}

TEST_F(StorageSeek, FromValuesIgnoresCaseAndHonoursDirection) {
    // ("sMiTh", 1): the first row at or after it in each key's order.
    auto firstFrom = [&](int key, const std::string& name, uint32_t id, uint32_t num) {
        Seeks.clearBuffer();
        S.NAME = name;
        S.ID = id;
        S.NUM = num;
        Seeks.setFrom(key);
        return readOn(false);
    };
    auto tail = [&](int key, auto pred) {
        auto want = expected(key);
        auto it = std::find_if(want.begin(), want.end(), pred);
        return std::vector<Position>(it, want.end());
    };
    auto rowOf = [&](Position p) {
        return *std::find_if(rows.begin(), rows.end(), [&](const Row& r) { return r.pos == p; });
    };
    EXPECT_EQ(firstFrom(K_Up, "sMiTh", 1, 0), tail(K_Up, [&](Position p) {
                  Row r = rowOf(p);
                  int c = compare1252(r.name, "smith", true);
                  return c > 0 || (c == 0 && r.id >= 1);
              }));
    EXPECT_EQ(firstFrom(K_Down, "sMiTh", 1, 0), tail(K_Down, [&](Position p) {
                  Row r = rowOf(p);
                  int c = compare1252(r.name, "smith", true);
                  return c < 0 || (c == 0 && r.id <= 1);
              }));
    EXPECT_EQ(firstFrom(K_Mixed, "ADAMS", 2, 2), tail(K_Mixed, [&](Position p) {
                  Row r = rowOf(p);
                  int c = compare1252(r.name, "adams", true);
                  return c > 0 || (c == 0 && (r.id > 2 || (r.id == 2 && r.num <= 2)));
              }));
    // A name between the stored ones, and one past them all.
    EXPECT_EQ(firstFrom(K_Up, "b", 0, 0), tail(K_Up, [&](Position p) { return compare1252(rowOf(p).name, "b", true) > 0; }));
    EXPECT_TRUE(firstFrom(K_Up, "zzz", 0, 0).empty());
}
