// Word breaking, the junk test, the query words, the footer and mail header
// rules, the stored character-class tables and the lookup matchers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/words_fixture.h"
#include "wordsearch/prosearch.h"
#include "wordsearch/wordbreak.h"

using namespace qb;

namespace {

std::vector<std::string> indexWords(const std::string& text, bool numbers = true) {
    std::vector<std::string> out;
    breakWords(text, true, numbers, [&](const char* w, size_t n, size_t) { out.emplace_back(w, n); });
    return out;
}

using V = std::vector<std::string>;

class WordsBreak : public ::testing::Test {
protected:
    void SetUp() override { setDefaultWordTables(); }
};

TEST_F(WordsBreak, PeriodsAndPunctuation) {
    EXPECT_EQ(indexWords("WIN.INI"), V{"WIN.INI"});
    EXPECT_EQ(indexWords("the end."), (V{"THE", "END"}));
    EXPECT_EQ(indexWords("ab..cd"), (V{"AB", "CD"}));
    EXPECT_EQ(indexWords(".INI"), V{"INI"});
    EXPECT_EQ(indexWords("(hello), world!"), (V{"HELLO", "WORLD"}));
    EXPECT_EQ(indexWords("path\\to\\file"), V{"PATH\\TO\\FILE"});
}

TEST_F(WordsBreak, LengthLimits) {
    EXPECT_TRUE(indexWords("a b c").empty());
    std::string w39(39, 'y'), w40(40, 'y');
    EXPECT_EQ(indexWords(w39 + " " + w40 + " ok"), (V{std::string(39, 'Y'), "OK"}));
}

TEST_F(WordsBreak, JunkNumbersAndTimes) {
    for (bool numbers : {false, true}) {
        EXPECT_TRUE(indexWords("12:30 0X1F 0x1f 01.12.1995 123.456 10:45PM dead:beef 1a2b3c", numbers).empty())
            << numbers;
    }
    EXPECT_EQ(indexWords("1995 3.11", true), (V{"1995", "3.11"}));
    EXPECT_TRUE(indexWords("1995 3.11", false).empty());
    EXPECT_EQ(indexWords("95WIN", true), V{"95WIN"});
    EXPECT_TRUE(indexWords("95WIN", false).empty());
    EXPECT_TRUE(indexWords("123456", true).empty());
    EXPECT_TRUE(indexWords("ab.cd.ef", true).empty());  // a period makes it a number-like word
}

TEST_F(WordsBreak, LettersOnlyAreAlwaysWords) {
    // Letters that also serve in hexadecimal numbers and times (A-F, H, M, P, X).
    const V words{"CAME", "CACHE", "ADDED", "AHEAD", "CHEAP", "EMBEDDED", "MAPPED", "EXEC", "FACED", "MEMCMP",
                  "BAD", "FACADE", "HEAD", "PM", "MAX"};
    std::string text;
    for (const std::string& w : words) text += w + " ";
    for (bool numbers : {false, true}) EXPECT_EQ(indexWords(text, numbers), words) << numbers;
    // The length rule still holds for them.
    EXPECT_TRUE(indexWords("A " + std::string(40, 'E')).empty());
    EXPECT_EQ(indexWords(std::string(39, 'e')), V{std::string(39, 'E')});
}

TEST_F(WordsBreak, QueryWordsNoIndexCanHold) {
    EXPECT_EQ(queryWordFault("CACHE"), QueryWordFault::None);
    EXPECT_EQ(queryWordFault("1995"), QueryWordFault::None);
    EXPECT_EQ(queryWordFault("95WIN"), QueryWordFault::None);
    EXPECT_EQ(queryWordFault("X"), QueryWordFault::TooShort);
    EXPECT_EQ(queryWordFault(std::string(40, 'Q')), QueryWordFault::TooLong);
    EXPECT_EQ(queryWordFault("12:30"), QueryWordFault::Junk);
    EXPECT_EQ(queryWordFault("0X1F"), QueryWordFault::Junk);
    EXPECT_EQ(queryWordFault("123456"), QueryWordFault::Junk);
    EXPECT_EQ(queryWordFault("^ABC"), QueryWordFault::Junk);
}

TEST_F(WordsBreak, Apostrophes) {
    EXPECT_EQ(indexWords("don\x92t"), V{"DON\x92T"});
    EXPECT_EQ(indexWords("don't"), V{"DON"});
    EXPECT_EQ(indexWords("\x93quoted\x94"), V{"QUOTED"});
}

TEST_F(WordsBreak, UpperCasesWindows1252) {
    EXPECT_EQ(indexWords("caf\xe9 \x9a\x9c"), (V{"CAF\xc9", "\x8a\x8c"}));
}

TEST_F(WordsBreak, CircumflexDuringIndexingIsNoWordStart) {
    EXPECT_EQ(indexWords("^abc"), V{"^ABC"});
    StartWordHash[94] = 1;
    EXPECT_EQ(indexWords("^abc"), V{"ABC"});
}

TEST_F(WordsBreak, QueryKeepsWildcards) {
    EXPECT_EQ(breakQuery("win* dos"), (V{"WIN*", "DOS"}));
    EXPECT_EQ(breakQuery("?at a"), (V{"?AT", "A"}));
    EXPECT_EQ(breakQuery(std::string(45, 'q')), V{std::string(40, 'Q')});
    EXPECT_TRUE(breakQuery("  ,;  ").empty());
}

TEST_F(WordsBreak, FooterIsDropped) {
    std::string body = "First paragraph here\r\n\r\nsecond line text\r\nmore text\r\n\r\n--\r\nJoe Bloggs\r\nExample Corp";
    std::string kept(body.substr(0, bodyEndWithoutFooter(body)));
    EXPECT_NE(kept.find("more text"), std::string::npos);
    EXPECT_EQ(kept.find("Bloggs"), std::string::npos);
    // A last line starting with REPL goes as well.
    std::string reply = "alpha beta\r\ngamma\r\nPlease Reply";
    EXPECT_EQ(std::string(reply.substr(0, bodyEndWithoutFooter(reply))).find("Please"), std::string::npos);
    // A single paragraph keeps everything.
    std::string one = "just one paragraph\r\nof two lines";
    EXPECT_EQ(bodyEndWithoutFooter(one), one.size());
}

std::string bodyRange(const std::string& body) {
    size_t b, e;
    if (!mailBodyRange(body, b, e)) return "<none>";
    return body.substr(b, e - b);
}

TEST_F(WordsBreak, MailHeadersAreNotIndexed) {
    EXPECT_EQ(bodyRange("Plain body without headers at all\r\n"), "Plain body without headers at all\r\n");
    EXPECT_EQ(bodyRange("Message-ID: <1@x>\r\nFrom: a@b\r\n\r\nThe text"), "The text");
    std::string plain = "Content-Type: text/plain; charset=us-ascii                 \r\n\r\nPlain words";
    EXPECT_EQ(bodyRange(plain), "Plain words");
    std::string multi =
        "Content-Type: multipart/alternative; boundary=\"XYZ\"\r\n\r\n"
        "preamble\r\n--XYZ\r\nContent-Type: text/plain\r\n\r\nthe plain part\r\n"
        "--XYZ\r\nContent-Type: text/html\r\n\r\n<p>html part</p>\r\n--XYZ--\r\n";
    std::string r = bodyRange(multi);
    EXPECT_NE(r.find("the plain part"), std::string::npos);
    EXPECT_EQ(r.find("html part"), std::string::npos);
    EXPECT_EQ(r.find("preamble"), std::string::npos);
    std::string html =
        "Content-Type: multipart/alternative; boundary=\"B1\"\r\n\r\n"
        "--B1\r\nContent-Type: text/html\r\n\r\n<p>only html</p>\r\n--B1--\r\n";
    EXPECT_EQ(bodyRange(html), "<none>");
    EXPECT_EQ(bodyRange("Content-Type: text/html; charset=iso-8859-1 xxxxxxxxxxxxx\r\n\r\n<p>x</p>"), "<none>");
    EXPECT_EQ(bodyRange("X-Mailer: Tool 1.0 and some more text\r\nno empty line follows"), "<none>");
    std::string uu = "X-Mailer: uuencode tool 1.0\r\n\r\nSee the file\r\nbegin 644 f.zip\r\nM9F9F\r\nend\r\n";
    EXPECT_EQ(bodyRange(uu), "See the file\r");
}

TEST_F(WordsBreak, ForwardedHeadersAfterTheWritersTextKeepIt) {
    // A message forwarded below the writer's own words, as mailing lists carry
    // them: everything is the writer's text and indexed.
    const std::string fwd =
        "\n\nThank heavens the vendor isn't as bad as the others...\n\n"
        "The EFF has been contacted on this, it is a real\nshame and quite frankly, I hope they rot.\n\n"
        "------- Start of forwarded message -------\nFrom: Jim <jim@example.org>\n"
        "Subject: Meta-FAQ: IMPORTANT UPDATE\nMIME-Version: 1.0\n"
        "Content-Type: text/plain; charset=US-ASCII\nContent-Transfer-Encoding: 7bit\n\n"
        "ANNOUNCEMENT: the lawyers have the view\n";
    EXPECT_EQ(bodyRange(fwd), fwd);
    // A bounce: the writer's note, then the returned headers with Message-ID.
    const std::string bounce =
        "Could somebody MEST this list address?\r\n\r\nReceived: from a by b\r\n"
        "Message-ID: <1@example.org>\r\nX-Mailer: Tool 2.0\r\n\r\nthe returned text\r\n";
    EXPECT_EQ(bodyRange(bounce), bounce);
    // A header line right below text of the writer is no header block either.
    const std::string quoted = "I got this line:\r\nMessage-ID: <2@example.org>\r\n\r\nand more\r\n";
    EXPECT_EQ(bodyRange(quoted), quoted);
    // Headers that begin the text (after empty lines) are still left out,
    // folded lines and an envelope line included.
    const std::string top =
        "\r\n\r\nFrom someone@example.org Tue Jun 17 1997\r\nReceived: from a\r\n\tby b\r\n"
        "Message-ID: <3@example.org>\r\nSubject: hello\r\n\r\nThe real words\r\n";
    EXPECT_EQ(bodyRange(top), "The real words\r\n");
    const std::string ct =
        "Content-Type: text/plain; charset=us-ascii                 \nX-Mailer: x\n\nPlain after\n";
    EXPECT_EQ(bodyRange(ct), "Plain after\n");
}

TEST_F(WordsBreak, UndecodedMimeKeepsOnlyThePlainText) {
    // A signed message of the archive kept as it came: preamble, an
    // alternative of plain and HTML text, then a base64 signature.
    const std::string signedMail =
        "This is a multi-part message in MIME format.\n\n------=_NextPart_000_0007\n"
        "Content-Type: multipart/alternative;\n\tboundary=\"----=_NextPart_000_0000\"\n\n\n"
        "------=_NextPart_000_0000\nContent-Type: text/plain;\n\tcharset=\"iso-8859-1\"\n\n"
        "Hello, I am new to this group and my Indy does not boot.\n\n"
        "------=_NextPart_000_0000\nContent-Type: text/html;\n\n<P>Hello, I am new</P>\n"
        "------=_NextPart_000_0000--\n\n------=_NextPart_000_0007\n"
        "Content-Type: application/x-pkcs7-signature;\nContent-Transfer-Encoding: base64\n\n"
        "MIAGCSqGSIb3DQEHAqCAMIACAQExCzAJBgUrDgMCGgUAMIAGCSqGSIb3\n------=_NextPart_000_0007--\n";
    std::string r = bodyRange(signedMail);
    EXPECT_NE(r.find("my Indy does not boot"), std::string::npos) << r;
    EXPECT_EQ(r.find("<P>"), std::string::npos) << r;
    EXPECT_EQ(r.find("MIAGCSq"), std::string::npos) << r;
    // A plain first part ends at the next boundary, a longer boundary that
    // starts the same way does not end it.
    const std::string mixed =
        "--AB\r\nContent-Type: text/plain\r\n\r\nfirst words\r\n--ABC is no boundary\r\nstill mine\r\n"
        "--AB\r\nContent-Type: application/octet-stream\r\n\r\nAAAA\r\n--AB--\r\n";
    EXPECT_EQ(bodyRange(mixed), "first words\r\n--ABC is no boundary\r\nstill mine\r\n");
    // A dashed line the writer drew, with no closing line, is no boundary.
    const std::string drawn = "My notes\n----------x\nSubject: not a header block\n\nmore notes\n";
    EXPECT_EQ(bodyRange(drawn), drawn);
}

TEST_F(WordsBreak, MatchersOfTheLookup) {
    EXPECT_EQ(soundexCode("ROBERT"), "R163");
    EXPECT_EQ(soundexCode("RUPERT"), "R163");
    EXPECT_EQ(soundexCode("TYMCZAK"), "T52");  // the dropped A does not separate the twos
    // A letter alone is a code.
    EXPECT_EQ(soundexCode("LEE"), "L");
    EXPECT_EQ(soundexCode("SHAW"), "S");
    EXPECT_EQ(soundexCode("AEIOU"), "A");
    EXPECT_EQ(soundexCode("R2D2"), "");
    EXPECT_EQ(soundexCode(""), "");
    EXPECT_TRUE(wildcardMatch("WIN*", "WINDOWS"));
    EXPECT_TRUE(wildcardMatch("W*D*S", "WINDOWS"));
    EXPECT_FALSE(wildcardMatch("W*X*S", "WINDOWS"));
    EXPECT_TRUE(wildcardMatch("?AT", "CAT"));
    EXPECT_FALSE(wildcardMatch("?AT", "CATS"));
    EXPECT_TRUE(approximateMatch("KERNEL", "KERNAL", 1));
    EXPECT_TRUE(approximateMatch("KERNEL", "LINUXKERNELS", 0));
    EXPECT_FALSE(approximateMatch("KERNEL", "KARNAL", 1));
    EXPECT_TRUE(approximateMatch("KERNEL", "KARNAL", 2));
    EXPECT_FALSE(approximateMatch("KERNEL", "KERN", 3));  // shorter than the query
}

TEST_F(WordsBreak, PhraseAndHighlightPositions) {
    EXPECT_TRUE(textHasPhrase("a big red dog", {"RED", "DOG"}));
    EXPECT_FALSE(textHasPhrase("red big dog", {"RED", "DOG"}));
    EXPECT_TRUE(textHasPhrase("red red dog", {"RED", "DOG"}));
    auto pos = BUILDWORDPOSQ("dog", "Dog, cat; DOG.");
    ASSERT_EQ(pos.size(), 2u);
    EXPECT_EQ(pos[0], (std::pair<long, long>{1, 3}));
    EXPECT_EQ(pos[1], (std::pair<long, long>{11, 13}));
    auto many = BUILDWORDPOSQ1({"CAT", "DOG"}, "Dog, cat; DOG.");
    EXPECT_EQ(many.size(), 3u);
}

using WordsTables = WordsDbTest;

TEST_F(WordsTables, StoredInControlRowsAndReloaded) {
    ASSERT_TRUE(loadWordTables());
    OP_CLOSE(OpOpenShared, Control.number());
    for (int row = 11; row <= 16; ++row) {
        CTL.ID = static_cast<uint8_t>(row);
        EXPECT_TRUE(Control.get(CTL_IdKey)) << row;
    }
    CTL.ID = 12;  // junk 200-255, then the start table 0-143
    ASSERT_TRUE(Control.get(CTL_IdKey));
    EXPECT_EQ(CTL.CTLFIELD[56 + ' '], 1);
    EXPECT_EQ(CTL.CTLFIELD[56 + 'a'], 0);
    OP_CLOSE(OpClose, Control.number());
    // Change the start and end tables, store, spoil the in-memory copy, reload.
    StartWordHash['#'] = 0;
    EndWordHash[250] = 0;
    IsJunkHash['Q'] = 2;
    ASSERT_TRUE(saveWordTables());
    setDefaultWordTables();
    ASSERT_TRUE(loadWordTables());
    EXPECT_EQ(StartWordHash['#'], 0);
    EXPECT_EQ(EndWordHash[250], 0);
    EXPECT_EQ(IsJunkHash['Q'], 0);  // the junk classes always keep their defaults
    EXPECT_EQ(InWordHash['.'], 0);
    EXPECT_EQ(InWordHash[' '], 1);
}

} // namespace

namespace {
TEST_F(WordsTables, SettingsSurviveAReload) {
    WordIndexSettings s;
    s.indexNumbers = 0;
    s.searchPauseCount = 2500;
    s.autoStopMail = 0;
    ASSERT_TRUE(writeWordIndexSettings(s));
    WordIndexSettings back;
    back.indexNumbers = 7;
    ASSERT_TRUE(readWordIndexSettings(back));
    EXPECT_EQ(back.indexNumbers, 0);
    EXPECT_EQ(back.searchPauseCount, 2500);
    EXPECT_EQ(back.autoStopMail, 0);
    EXPECT_EQ(back.autoStopForum, 1);
}
} // namespace
