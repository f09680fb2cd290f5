// The indexer's word table: lookups through colliding hashes, growth, the
// entry numbers and the words kept in the arena.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "wordsearch/indexer.h"
#include "wordsearch/wordtable.h"

using namespace qb;

namespace {

// Every word in one chain: each lookup has to tell words apart by their text.
struct OneHash {
    uint64_t operator()(std::string_view) const { return 0x1234; }
};
// Two words hash alike when they have the same length.
struct LengthHash {
    uint64_t operator()(std::string_view s) const { return s.size(); }
};

template <class Table>
void expectSameAs(Table& table, const std::map<std::string, int>& want) {
    ASSERT_EQ(table.size(), want.size());
    for (auto& [w, v] : want) {
        const int* got = table.find(w);
        ASSERT_NE(got, nullptr) << w;
        EXPECT_EQ(*got, v) << w;
        EXPECT_EQ(table.word(table.indexOf(w)), w);
    }
}

TEST(WordsTable, CollidingHashesKeepEveryWordApart) {
    WordTable<int, OneHash> t;
    std::map<std::string, int> want;
    // Prefixes of one another, and words differing in their last byte only.
    const std::vector<std::string> words = {"A", "AB", "ABC", "ABD", "ABCDEFGHIJ", "ABCDEFGHIK", "Z", ""};
    for (size_t i = 0; i < words.size(); ++i) {
        auto [at, made] = t.emplace(words[i], static_cast<int>(i));
        EXPECT_TRUE(made) << words[i];
        EXPECT_EQ(at, i);
        want[words[i]] = static_cast<int>(i);
    }
    expectSameAs(t, want);
    EXPECT_EQ(t.find("ABCD"), nullptr);
    EXPECT_EQ(t.find("ABE"), nullptr);
    EXPECT_EQ(t.indexOf("B"), (WordTable<int, OneHash>::npos));
    // A word made again keeps its entry and value.
    auto [again, made] = t.emplace("ABC", 99);
    EXPECT_FALSE(made);
    EXPECT_EQ(again, 2u);
    EXPECT_EQ(*t.find("ABC"), 2);
    *t.find("ABD") = 42;
    EXPECT_EQ(t.value(t.indexOf("ABD")), 42);
}

TEST(WordsTable, GrowthKeepsEntriesNumbersAndWords) {
    WordTable<int, LengthHash> alike;  // long runs of equal hashes across growth
    WordTable<int> fast;
    std::map<std::string, int> want;
    std::mt19937 rng(7);
    std::vector<uint32_t> numberOf;
    for (int i = 0; i < 20000; ++i) {
        std::string w;
        const int len = 1 + static_cast<int>(rng() % 12);
        for (int k = 0; k < len; ++k) w += static_cast<char>('A' + rng() % 26);
        const auto a = alike.emplace(w, i);
        const auto f = fast.emplace(w, i);
        EXPECT_EQ(a.second, f.second);
        EXPECT_EQ(a.second, want.emplace(w, i).second);
        EXPECT_EQ(a.first, f.first);  // entries are numbered in the order they are made
        if (a.second) numberOf.push_back(a.first);
    }
    for (size_t i = 0; i < numberOf.size(); ++i) EXPECT_EQ(numberOf[i], i);
    expectSameAs(alike, want);
    expectSameAs(fast, want);
    EXPECT_EQ(fast.find("NOT-A-WORD"), nullptr);

    fast.clear();
    EXPECT_TRUE(fast.empty());
    EXPECT_EQ(fast.find(want.begin()->first), nullptr);
    fast.reserve(100);
    EXPECT_TRUE(fast.emplace("KERNEL", 5).second);
    EXPECT_EQ(*fast.find("KERNEL"), 5);
    EXPECT_EQ(fast.word(0), "KERNEL");
}

TEST(WordsTable, EmptyTableFindsNothing) {
    WordTable<int> t;
    EXPECT_EQ(t.find("WORD"), nullptr);
    EXPECT_EQ(t.indexOf(""), WordTable<int>::npos);
    t.clear();
    EXPECT_EQ(t.find("WORD"), nullptr);
    EXPECT_TRUE(t.emplace("WORD", 1).second);
    EXPECT_EQ(t.size(), 1u);
}

// Pairs gathered message by message end up as one sort of them all would put
// them: messages in order, out of order, and one message come back later.
TEST(WordsTable, PairsSortedMessageByMessageOrAllAtOnce) {
    std::mt19937 rng(11);
    auto gathered = [&](const std::vector<uint32_t>& messages) {
        std::vector<uint64_t> pairs;
        for (uint32_t m : messages) {
            const int words = 1 + static_cast<int>(rng() % 40);
            for (int w = 0; w < words; ++w) pairs.push_back(uint64_t(m) << 32 | (rng() % 5000 + 1));
        }
        return pairs;
    };
    const std::vector<std::vector<uint32_t>> orders = {
        {1, 2, 3, 7, 9, 10}, {5, 3, 8, 1}, {1, 2, 3, 2, 4}, {4}, {}, {2, 3, 4, 5, 6, 1}};
    for (const auto& order : orders) {
        std::vector<uint64_t> pairs = gathered(order), want = pairs;
        std::sort(want.begin(), want.end());
        sortPairs(pairs);
        EXPECT_EQ(pairs, want) << order.size() << " messages";
    }
}

} // namespace
