// Standard text search matching, the scan over a view, the thread tree
// placement and the viewer pages.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "reading/browseview.h"
#include "reading/threadtree.h"
#include "wordsearch/textsearch.h"

using namespace qb;

TEST(ReadingSearchMatch, HorspoolFindsWhatANaiveScanFinds) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 400; ++round) {
        std::string text, pat;
        const int tl = static_cast<int>(rng() % 60), pl = 1 + static_cast<int>(rng() % 5);
        for (int i = 0; i < tl; ++i) text += static_cast<char>('a' + rng() % 3);
        for (int i = 0; i < pl; ++i) pat += static_cast<char>('a' + rng() % 3);
        Horspool h(pat);
        std::vector<size_t> got, want;
        for (size_t p = 0; (p = h.find(text, p)) != std::string::npos; ++p) got.push_back(p);
        for (size_t p = 0; (p = text.find(pat, p)) != std::string::npos; ++p) want.push_back(p);
        ASSERT_EQ(got, want) << text << " / " << pat;
    }
    // High characters index the shift table as unsigned.
    EXPECT_EQ(Horspool("\xE9t\xE9").find("caf\xE9 \xE9t\xE9"), 5u);
}

TEST(ReadingSearchMatch, AisinbWholeWords) {
    EXPECT_TRUE(AISINB(true, "win 99 version", "99"));
    EXPECT_FALSE(AISINB(true, "1999", "99"));
    EXPECT_TRUE(AISINB(false, "1999", "99"));
    EXPECT_FALSE(AISINB(true, "some words here", "word"));
    EXPECT_TRUE(AISINB(true, "one word, two", "word"));
    EXPECT_TRUE(AISINB(true, "word", "word"));
    // A later occurrence counts when an earlier one is inside a word.
    EXPECT_TRUE(AISINB(true, "swordfish and word", "word"));
    // Letters continue a word; so do the codes 128-133 and the digit 1, but
    // not the other digits.
    EXPECT_FALSE(AISINB(true, "word\x81", "word"));
    EXPECT_FALSE(AISINB(true, "word1", "word"));
    EXPECT_TRUE(AISINB(true, "word2", "word"));
    // Trailing blanks of both strings are clipped first.
    EXPECT_TRUE(AISINB(true, "end word   ", "word   "));
    EXPECT_FALSE(AISINB(false, "ab", "ab "  "c"));
    // Nothing to find, or a pattern longer than the text.
    EXPECT_FALSE(AISINB(false, "anything", ""));
    EXPECT_FALSE(AISINB(false, "anything", "   "));
    EXPECT_FALSE(AISINB(false, "ab", "abc"));
    // Exact comparison: the caller folds case.
    EXPECT_FALSE(AISINB(false, "news", "NEWS"));
}

TEST(ReadingSearchMatch, HitPositions) {
    auto hits = hitPositions("News, news and NEWSREEL", "NEWS", false, false);
    ASSERT_EQ(hits.size(), 3u);
    EXPECT_EQ(hits[0], (std::pair<size_t, size_t>{0, 4}));
    EXPECT_EQ(hits[1], (std::pair<size_t, size_t>{6, 10}));
    EXPECT_EQ(hits[2], (std::pair<size_t, size_t>{15, 19}));
    EXPECT_EQ(hitPositions("News, news and NEWSREEL", "NEWS", true, false).size(), 2u);
    EXPECT_EQ(hitPositions("News, news and NEWSREEL", "news", false, true).size(), 1u);
    EXPECT_TRUE(hitPositions("abc", "", false, false).empty());
    // Folding covers Windows-1252 letters.
    EXPECT_EQ(hitPositions("CAF\xC9", "caf\xE9", false, false).size(), 1u);
}

namespace {
struct FakeMessage {
    uint32_t id;
    int32_t date;
    std::string subject, body;
};

// Messages listed newest first, as the browse views list them.
class FakeSource : public SearchSource {
public:
    std::vector<FakeMessage> msgs;  // newest first
    long at = -2;                   // -2: not begun
    int bodiesRead = 0;
    bool step(bool newer, SearchItem& item) override {
        if (at == -2) at = newer ? static_cast<long>(msgs.size()) : -1;
        at += newer ? -1 : 1;
        if (at < 0 || at >= static_cast<long>(msgs.size())) return false;
        const FakeMessage& m = msgs[static_cast<size_t>(at)];
        item.id = m.id;
        item.date = m.date;
        item.subject = m.subject;
        return true;
    }
    std::string body(uint32_t id) override {
        ++bodiesRead;
        for (auto& m : msgs)
            if (m.id == id) return m.body;
        return {};
    }
};

FakeSource sample() {
    FakeSource s;
    s.msgs = {{5, 500, "Re: news", "nothing here"},
              {4, 400, "Weekly", "The NEWS of the week"},
              {3, 300, "Old news", "body"},
              {2, 200, "Other", "no match"},
              {1, 100, "First", "news at the start"}};
    return s;
}

std::vector<uint32_t> allHits(SearchOptions o, FakeSource s, int batch = 2) {
    TextSearch t(o);
    std::vector<uint32_t> ids;
    for (;;) {
        SearchState st = t.run(s, batch);
        if (st == SearchState::Hit) ids.push_back(t.hit().id);
        if (st == SearchState::End) break;
    }
    return ids;
}
} // namespace

TEST(ReadingSearchScan, DirectionCaseAndResume) {
    SearchOptions o;
    o.text = "NEWS";
    // Oldest first, case ignored: every message that holds "news" anywhere.
    EXPECT_EQ(allHits(o, sample()), (std::vector<uint32_t>{1, 3, 4, 5}));
    o.backward = true;
    EXPECT_EQ(allHits(o, sample()), (std::vector<uint32_t>{5, 4, 3, 1}));
    o.backward = false;
    o.matchCase = true;
    EXPECT_EQ(allHits(o, sample()), (std::vector<uint32_t>{4}));
    o.matchCase = false;
    o.subjectOnly = true;
    EXPECT_EQ(allHits(o, sample()), (std::vector<uint32_t>{3, 5}));
    o.subjectOnly = false;
    o.fromDate = 250;
    o.toDate = 450;
    EXPECT_EQ(allHits(o, sample()), (std::vector<uint32_t>{3, 4}));
}

TEST(ReadingSearchScan, SubjectHitNeedsNoBodyAndEndIsFinal) {
    SearchOptions o;
    o.text = "old news";
    FakeSource s = sample();
    TextSearch t(o);
    SearchState st;
    while ((st = t.run(s, 10)) == SearchState::Running) {}
    ASSERT_EQ(st, SearchState::Hit);
    EXPECT_EQ(t.hit().id, 3u);
    EXPECT_TRUE(t.hitInSubject());
    // Messages 1 and 2 had their bodies read; message 3 matched on its subject.
    EXPECT_EQ(s.bodiesRead, 2);
    while ((st = t.run(s, 10)) == SearchState::Running) {}
    EXPECT_EQ(st, SearchState::End);
    EXPECT_EQ(t.run(s, 10), SearchState::End);
}

TEST(ReadingSearchScan, TextIsCutTo20Characters) {
    SearchOptions o;
    o.text = "abcdefghijklmnopqrstuvwxyz";
    TextSearch t(o);
    EXPECT_EQ(t.options().text, "abcdefghijklmnopqrst");
    FakeSource s;
    s.msgs = {{1, 1, "x", "..abcdefghijklmnopqrst.."}};
    EXPECT_EQ(allHits(o, s), (std::vector<uint32_t>{1}));
}

// ---------------------------------------------------------------- tree

namespace {
TreeNode node(uint32_t n, uint32_t parent) {
    TreeNode t;
    t.number = n;
    t.parent = parent;
    t.sender = "S" + std::to_string(n);
    return t;
}
int levelOf(const std::vector<TreeNode>& v, uint32_t n) {
    for (auto& x : v)
        if (x.number == n) return x.level;
    return -1;
}
bool repliesOf(const std::vector<TreeNode>& v, uint32_t n) {
    for (auto& x : v)
        if (x.number == n) return x.hasReplies;
    return false;
}
} // namespace

TEST(ReadingThreadTree, Placement) {
    // 10 answers a message of another thread; 11 and 14 answer 10; 12 answers
    // 14, which comes later in key order; 13 is its own reference (made 0 by
    // the builder, as here); 15 answers nothing.
    std::vector<TreeNode> v{node(10, 999), node(11, 10), node(12, 14), node(13, 0), node(14, 10), node(15, 0)};
    placeNodes(v);
    EXPECT_EQ(levelOf(v, 10), 1);
    EXPECT_EQ(levelOf(v, 11), 2);
    EXPECT_EQ(levelOf(v, 14), 2);
    EXPECT_EQ(levelOf(v, 12), 3);
    EXPECT_EQ(levelOf(v, 13), 1);
    EXPECT_EQ(levelOf(v, 15), 1);
    EXPECT_TRUE(repliesOf(v, 10));
    EXPECT_TRUE(repliesOf(v, 14));
    EXPECT_FALSE(repliesOf(v, 11));
    EXPECT_FALSE(repliesOf(v, 12));
    for (auto& n : v) EXPECT_FALSE(n.inLoop);
}

TEST(ReadingThreadTree, LoopsEndAndEveryNodeIsPlaced) {
    // 20 -> 21 -> 22 -> 20 wait for each other; 23 answers 22.
    std::vector<TreeNode> v{node(20, 22), node(21, 20), node(22, 21), node(23, 22), node(30, 31), node(31, 30)};
    placeNodes(v);
    for (auto& n : v) EXPECT_GT(n.level, 0) << n.number;
    // The first node of a loop in key order becomes a top-level node and the
    // rest of the loop hangs below it.
    EXPECT_EQ(levelOf(v, 20), 1);
    EXPECT_TRUE(v[0].inLoop);
    EXPECT_EQ(levelOf(v, 21), 2);
    EXPECT_EQ(levelOf(v, 22), 3);
    EXPECT_EQ(levelOf(v, 23), 4);
    EXPECT_EQ(levelOf(v, 30), 1);
    EXPECT_EQ(levelOf(v, 31), 2);
    EXPECT_FALSE(v[1].inLoop);
}

TEST(ReadingThreadTree, Labels) {
    TreeNode n = node(4711, 0);
    n.sender = "Ann Owner";
    n.date = 71000;
    const std::string pic = "@D10-";
    EXPECT_EQ(nodeLabel(n, 1, pic), "Ann Owner");
    EXPECT_EQ(nodeLabel(n, 2, pic), "Ann Owner 4711");
    EXPECT_EQ(nodeLabel(n, 3, pic), "Ann Owner 1995-05-20");
    EXPECT_EQ(nodeLabel(n, 4, pic), "Ann Owner 4711 1995-05-20");
    EXPECT_EQ(nodeLabel(n, 5, pic), "Ann Owner 1995-05-20 4711");
    EXPECT_EQ(nodeLabel(n, 0, pic), "Ann Owner 4711");
}

// ---------------------------------------------------------------- viewer

namespace {
std::string joinPages(const std::vector<std::string>& pages) {
    const std::string more = " ..........<MORE>>", cont = "<CONTINUED>> \r\n";
    std::string all;
    for (size_t i = 0; i < pages.size(); ++i) {
        std::string p = pages[i];
        if (i > 0) {
            EXPECT_EQ(p.rfind(cont, 0), 0u);
            p = p.substr(cont.size());
        }
        if (i + 1 < pages.size()) {
            EXPECT_GE(p.size(), more.size());
            EXPECT_EQ(p.substr(p.size() - more.size()), more);
            p.resize(p.size() - more.size());
        }
        all += p;
    }
    return all;
}
} // namespace

TEST(ReadingViewer, PageBreaks) {
    EXPECT_EQ(viewerPages(std::string(24000, 'a')).size(), 1u);
    auto two = viewerPages(std::string(24001, 'a'));
    ASSERT_EQ(two.size(), 2u);
    // No blank between 23950 and 23980: the break comes right after 23980.
    EXPECT_EQ(two[0].size(), 23980u + 18u);
    EXPECT_EQ(joinPages(two), std::string(24001, 'a'));

    std::string spaced(30000, 'b');
    spaced[23959] = ' ';  // position 23960
    spaced[23970] = ' ';
    auto p = viewerPages(spaced);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0], spaced.substr(0, 23959) + " ..........<MORE>>");
    EXPECT_EQ(p[1].substr(0, 16), "<CONTINUED>> \r\n ");
    EXPECT_EQ(joinPages(p), spaced);

    std::string big(60000, 'c');
    big[47079] = ' ';
    auto three = viewerPages(big);
    ASSERT_EQ(three.size(), 3u);
    EXPECT_EQ(joinPages(three), big);
    EXPECT_EQ(three[2].substr(0, 16), "<CONTINUED>> \r\n ");

    // A subject before a full memo does not lose the end of the text.
    std::string subject(50, 's');
    std::string full(64000, 'd');
    auto withSubject = viewerPages(full, &subject);
    ASSERT_EQ(withSubject.size(), 3u);
    EXPECT_EQ(joinPages(withSubject), "Subject: " + subject + "\r\n\r\n" + full);
    EXPECT_EQ(viewerPages("").size(), 1u);
    EXPECT_EQ(viewerPages("").front(), "");
    std::string subj = "Hello   ";
    EXPECT_EQ(viewerPages("text  ", &subj).front(), "Subject: Hello\r\n\r\ntext");
}

TEST(ReadingThreadTree, LongChainInReverseOrder) {
    // Each reply listed before the message it answers: every level is found.
    std::vector<TreeNode> v;
    const uint32_t n = 20000;
    for (uint32_t i = n; i >= 1; --i) v.push_back(node(i, i - 1));
    placeNodes(v);
    for (const TreeNode& x : v) {
        ASSERT_EQ(x.level, static_cast<int>(x.number)) << x.number;
        EXPECT_EQ(x.hasReplies, x.number != n);
    }
}
