// Body conversion of Internet messages: part selection, the body builder,
// quoted-printable, HTML and enriched text, charsets and encoded words.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "import/linequeue.h"
#include "internet/mime.h"

using namespace qb;

namespace {

LineQueue queueOf(const std::vector<std::string>& lines) {
    LineQueue q;
    for (const auto& l : lines) pushLine(q, l);
    return q;
}

std::string html(std::string s) {
    htmlToText(s);
    return s;
}

TEST(Mime, BoundaryIsFoundQuotedOrNotAndOnlyOnLongLines) {
    EXPECT_EQ(findBoundary("Content-Type: multipart/mixed; boundary=\"abc-123\"", 23).value_or("-"), "abc-123");
    // A quoted boundary ends at its quote even when parameters follow.
    EXPECT_EQ(findBoundary("Content-Type: multipart/mixed; boundary=\"b1\"; type=x", 23).value_or("-"), "b1");
    EXPECT_EQ(findBoundary("\tboUndary=next_part; charset=x", 0).value_or("-"), "next_part");
    EXPECT_EQ(findBoundary("  BOUNDARY=  ", 0).value_or("-"), "-");
    EXPECT_EQ(findBoundary("boundary=", 0).value_or("-"), "-");  // shorter than 10
    EXPECT_EQ(findBoundary("Content-Type: multipart/mixed", 0).value_or("-"), "-");
    // The search starts at the given position.
    EXPECT_EQ(findBoundary("boundary=aaaa boundary=bbbb", 5).value_or("-"), "bbbb");
}

TEST(Mime, AlternativeKeepsThePlainPartWithoutItsHeadersAndThePreamble) {
    LineQueue q = queueOf({"This is a multi-part message.", "", "--XX", "Content-Type: text/plain; charset=us-ascii",
                           "", "Plain text here.", "--XX", "Content-Type: text/html", "", "<p>Html text</p>",
                           "--XX--"});
    PartInfo info;
    EXPECT_FALSE(selectPart(q, 0, "XX", &info));
    EXPECT_EQ(info.charset, "US-ASCII");
    EXPECT_EQ(buildBody(q, 0, ContentPlain), "This is a multi-part message.\r\n\r\nPlain text here.\r\n");
}

TEST(Mime, MixedWithAttachmentFirstKeepsTheTextPartOnly) {
    LineQueue q = queueOf({"--b", "Content-Type: application/octet-stream", "Content-Transfer-Encoding: base64", "",
                           "AAAABBBB", "--b", "Content-Type: text/plain", "", "The text.", "--b--", "epilogue"});
    EXPECT_FALSE(selectPart(q, 0, "b"));
    EXPECT_EQ(buildBody(q, 0, ContentPlain), "The text.\r\n");
}

TEST(Mime, NestedAlternativeInsideMixedAndHtmlOnlyParts) {
    LineQueue q = queueOf({"--outer", "Content-Type: multipart/alternative; boundary=\"inner\"", "", "--inner",
                           "Content-Type: text/plain", "", "inner plain", "--inner", "Content-Type: text/html", "",
                           "<b>x</b>", "--inner--", "--outer", "Content-Type: image/png", "", "PNGDATA", "--outer--"});
    EXPECT_FALSE(selectPart(q, 0, "outer"));
    EXPECT_EQ(buildBody(q, 0, ContentPlain), "inner plain\r\n");

    // The boundary of the nested part on a folded line after its type.
    LineQueue f = queueOf({"--o", "Content-Type: multipart/related;", "\tboundary=\"in2\"", "", "--in2",
                           "Content-Type: text/html; charset=utf-8", "Content-Transfer-Encoding: base64", "",
                           "PHA+aGk8L3A+", "--in2--", "--o--"});
    PartInfo info;
    EXPECT_TRUE(selectPart(f, 0, "o", &info));
    EXPECT_EQ(info.transferEncoding, "BASE64");
    EXPECT_EQ(info.charset, "UTF-8");
    EXPECT_EQ(buildMessageText(f, 0, ContentHtml, info), "hi");

    // Without any text part only the preamble is left.
    LineQueue none = queueOf({"preamble", "--z", "Content-Type: image/gif", "", "GIF89a", "--z--"});
    EXPECT_FALSE(selectPart(none, 0, "z"));
    EXPECT_EQ(buildBody(none, 0, ContentPlain), "preamble\r\n");
}

TEST(Mime, EncodedPartAfterAPreambleIsDecodedOnItsOwn) {
    // As a mail client writes it: a preamble, then the text in base64.
    LineQueue q = queueOf({"", "This is a multi-part message in MIME format.", "", "------_=_NextPart_001",
                           "Content-Type: text/plain;", "\tcharset=\"utf-8\"", "Content-Transfer-Encoding: base64", "",
                           "SGkgQWxsLA0KICAgICAgV2UgYXJlIHBvcnRpbmcgVS1ib290Lg0KDQpXaXRoIFRoYW5rcw0K", "",
                           "------_=_NextPart_001", "Content-Type: application/octet-stream;", "\tname=\"start.S\"",
                           "Content-Transfer-Encoding: base64", "", "LyoKICogIFN0YXJ0dXAgQ29kZQ==",
                           "------_=_NextPart_001--"});
    PartInfo info;
    EXPECT_FALSE(selectPart(q, 0, "----_=_NextPart_001", &info));
    EXPECT_EQ(buildMessageText(q, 0, ContentPlain, info),
              "This is a multi-part message in MIME format.\r\n\r\nHi All,\r\n      We are porting U-boot.\r\n\r\n"
              "With Thanks\r\n");

    // An HTML part in base64 after a preamble; the text after the last tag stays.
    LineQueue h = queueOf({"Preamble line", "--b", "Content-Type: text/html; charset=iso-8859-1",
                           "Content-Transfer-Encoding: base64", "", "PGI+Q2Fm6TwvYj4gYXQgbm9vbg==", "--b--"});
    EXPECT_TRUE(selectPart(h, 0, "b", &info));
    EXPECT_EQ(buildMessageText(h, 0, ContentHtml, info), "Caf\xE9 at noon");

    // Quoted-printable in the part; a preamble with an "=" stays as written.
    LineQueue p = queueOf({"Costs =20 dollars", "--c", "Content-Type: text/plain; charset=iso-8859-1",
                           "Content-Transfer-Encoding: quoted-printable", "", "caf=E9 and a soft=", "break", "--c--"});
    EXPECT_FALSE(selectPart(p, 0, "c", &info));
    EXPECT_EQ(buildMessageText(p, 0, ContentPlain, info), "Costs =20 dollars\r\ncaf\xE9 and a softbreak\r\n");
}

TEST(Mime, QuotedPrintablePairsAndSoftLineBreaks) {
    EXPECT_EQ(decodeQpPair('E', '9').value_or('?'), '\xE9');
    EXPECT_EQ(decodeQpPair('8', '0').value_or('?'), '\x80');
    EXPECT_EQ(decodeQpPair('F', 'F').value_or('?'), '\xFF');
    EXPECT_EQ(decodeQpPair('3', 'D').value_or('?'), '=');
    EXPECT_EQ(decodeQpPair('2', '0').value_or('?'), ' ');
    EXPECT_EQ(decodeQpPair('0', '9').value_or('?'), ' ');
    EXPECT_FALSE(decodeQpPair('4', '1'));
    EXPECT_FALSE(decodeQpPair('e', '9'));
    EXPECT_FALSE(decodeQpPair('E', 'g'));

    EXPECT_EQ(decodeQuotedPrintable("caf=E9 =3D x=41 =e9\r\nsoft=\r\nbreak=  \r\nend="),
              "caf\xE9 = x=41 =e9\r\nsoftbreakend");
    EXPECT_EQ(decodeQuotedPrintable("a=\nb"), "ab");
}

TEST(Mime, BodyBuilderSkipsLeadingEmptyAndRemovedLinesJoinsSplitLinesAndCuts) {
    LineQueue q = queueOf({"", "", "first", std::string(RemoveMarker) + " rest", "", "last"});
    EXPECT_EQ(buildBody(q, 0, ContentPlain), "first\r\n\r\nlast\r\n");
    EXPECT_EQ(buildBody(q, 0, 2, ContentPlain), "first\r\n");

    std::string longLine(1000, 'x');
    LineQueue l = queueOf({longLine, "after"});
    ASSERT_EQ(l.size(), 4u);  // 400 + 400 + 200 + 1
    EXPECT_EQ(buildBody(l, 0, ContentPlain), longLine + "\r\nafter\r\n");

    LineQueue big;
    for (int i = 0; i < 700; ++i) pushLine(big, std::string(98, 'a' + i % 26));
    std::string text = buildBody(big, 0, ContentPlain);
    EXPECT_EQ(text.size(), 64000u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_EQ(text.substr(0, 100), std::string(98, 'a') + "\r\n");

    // A plain body that begins with an HTML tag is converted.
    LineQueue h = queueOf({"<HTML><body>Hello <b>you</b></body></HTML>"});
    EXPECT_EQ(buildBody(h, 0, ContentPlain), "Hello you");
}

TEST(Mime, HtmlEntities) {
    EXPECT_EQ(html("<p>&lt;b&gt; &eacute;&#233;&Eacute; &amp; &nbsp;x&nbspy &quot;q&quot; &copy;&reg;"),
              "<b> \xE9\xE9\xC9 &  x y \"q\" \xA9\xAE");
    EXPECT_EQ(html("<p>&auml;&Ouml;&szlig;&aring;&ntilde;&ccedil;&oslash;&thorn;&ETH;&aelig;&icirc;&ugrave;&#39;"),
              "\xE4\xD6\xDF\xE5\xF1\xE7\xF8\xFE\xD0\xE6\xEE\xF9'");
    // Names not listed stay as written, also a first letter that the row does not list.
    EXPECT_EQ(html("<p>&bogus; &Szlig; &hellip; a&b"), "&bogus; &Szlig; &hellip; a&b");
    // A numeric entity above 255 has no single-byte character.
    EXPECT_EQ(html("<p>x&#999;y"), "x?y");
}

TEST(Mime, HtmlLinksParagraphsBreaksAndLists) {
    EXPECT_EQ(html("<p>See <a href=\"HTTP://Example.COM/X\">the site</a>now"),
              "See the site [http://example.com/x] now");
    EXPECT_EQ(html("<a href=\"\">bare</a> x"), "bare x");
    EXPECT_EQ(html("<html><head><title>Title</title></head><body><p>first</p><p>second<br>third   </p></body></html>"),
              "first\r\n\r\nsecond\r\nthird\r\n\r\n");
    // A paragraph break needs more than four characters before it.
    EXPECT_EQ(html("<p>one</p><p>two"), "onetwo");
    EXPECT_EQ(html("<ul><li>apple<li>pear</ul><ol><li>plum</ol>"), "* apple\r\n\r\n* pear\r\n\r\n* plum");
    EXPECT_EQ(html("<dl><dt>term<dd>meaning</dl>"), "term   meaning");
    EXPECT_EQ(html("<pre>a  b\r\n  c &lt;x&gt;</pre>"), "a  b\r\n  c <x>");
    EXPECT_EQ(html("<h1>Heading</h1>text"), "Heading\r\n\r\ntext");
    EXPECT_EQ(html("no tags at all &amp; more"), "no tags at all &amp; more");
    // Text before the first tag is dropped; conversion stops after </html>.
    EXPECT_EQ(html("junk<html>kept</html>\r\n<p>more"), "kept");
    EXPECT_EQ(html("<p>tail text\r\n"), "tail text");
    // A "<" inside an open tag was literal.
    EXPECT_EQ(html("<p>a <b c < d>e"), "a<b c e");
    // Soft characters of quoted-printable text in a run.
    EXPECT_EQ(html("<p>caf=E9=20ok"), "caf\xE9 ok");
}

TEST(Mime, EnrichedText) {
    std::string e = "<bold>Bold</bold> and <param>red</param><color>colour</color> a <<tag> b";
    enrichedToText(e);
    EXPECT_EQ(e, "Bold and colour a <tag> b");
    std::string lit = "x <y <z> w";
    enrichedToText(lit);
    EXPECT_EQ(lit, "x <y  w");
}

TEST(Mime, HeaderLineTestAndBodiesThatBeginWithHeaders) {
    EXPECT_TRUE(isInternetHeaderLine("received: from x"));
    EXPECT_TRUE(isInternetHeaderLine("Message-ID: <a@b>"));
    EXPECT_TRUE(isInternetHeaderLine("TO: x"));
    EXPECT_FALSE(isInternetHeaderLine("Cc: x"));
    EXPECT_FALSE(isInternetHeaderLine("Top: x"));

    LineQueue q = queueOf({"From: a@b", "Content-Type: multipart/alternative;", "   boundary=\"==B==\"", "", "",
                           "--==B==", "Content-Type: text/html", "", "<p>Hi &amp; bye", "--==B==--"});
    size_t start = 0;
    EXPECT_EQ(mimeBodyTest(q, 0, &start), ContentHtml);
    EXPECT_EQ(start, 5u);
    EXPECT_EQ(buildBody(q, start, ContentHtml), "Hi & bye");

    LineQueue h = queueOf({"From: a@b", "", "<HTML>", "<p>x"});
    EXPECT_EQ(mimeBodyTest(h, 0), ContentHtml);
    LineQueue p = queueOf({"From: a@b", "", "plain"});
    EXPECT_EQ(mimeBodyTest(p, 0), ContentPlain);

    LineQueue e = queueOf({"Subject: x", "Content-Type: text/plain;", " charset=\"UTF-8\"",
                           "Content-Transfer-Encoding: quoted-printable", "", "caf=C3=A9"});
    PartInfo info;
    EXPECT_EQ(mimeBodyTest(e, 0, &start, &info), ContentPlain);
    EXPECT_EQ(info.charset, "UTF-8");
    EXPECT_EQ(info.transferEncoding, "QUOTED-PRINTABLE");
    EXPECT_EQ(buildMessageText(e, start, ContentPlain, info), "caf\xE9\r\n");
    // From the first line on, the header lines stay as written and only the body is decoded.
    EXPECT_EQ(buildMessageText(e, 0, ContentPlain, info),
              "Subject: x\r\nContent-Type: text/plain;\r\n charset=\"UTF-8\"\r\n"
              "Content-Transfer-Encoding: quoted-printable\r\n\r\ncaf\xE9\r\n");

    // A text that only begins like a header keeps every line.
    LineQueue t = queueOf({"To: all members of the club", "The meeting moves to Friday.", "Date: to be confirmed"});
    EXPECT_EQ(mimeBodyTest(t, 0, &start, &info), ContentPlain);
    EXPECT_EQ(buildMessageText(t, 0, ContentPlain, info),
              "To: all members of the club\r\nThe meeting moves to Friday.\r\nDate: to be confirmed\r\n");
}

TEST(Mime, CharsetsAndEncodedWords) {
    EXPECT_EQ(charsetToCp1252("caf\xC3\xA9 \xE2\x82\xAC", "utf-8"), "caf\xE9 \x80");
    // No equivalent: transliterated or a question mark, never dropped silently.
    std::string t = charsetToCp1252("\xC4\x80x", "UTF-8");
    EXPECT_EQ(t.substr(t.size() - 1), "x");
    EXPECT_EQ(t, "Ax");
    EXPECT_EQ(charsetToCp1252("\xFF\xFE", "utf-8"), "??");
    EXPECT_EQ(charsetToCp1252("abc\xE9", "iso-8859-1"), "abc\xE9");
    EXPECT_EQ(charsetToCp1252("abc\xE9", "x-unknown-charset"), "abc\xE9");
    EXPECT_EQ(charsetToCp1252("\xE1\xE9", "iso-8859-7"), "??");  // Greek letters have no equivalent
    EXPECT_EQ(charsetToCp1252("\xE9", "iso-8859-15"), "\xE9");

    // Many charset names, as a mailbox of many writers has them: converters are
    // dropped and reopened on the way, and each conversion stays right.
    std::vector<std::string> names;
    for (int n = 2; n <= 16; ++n) {
        names.push_back("ISO-8859-" + std::to_string(n));
        names.push_back("ISO8859-" + std::to_string(n));
    }
    for (int n = 1250; n <= 1258; ++n) names.push_back("CP" + std::to_string(n));
    for (int n = 0; n < 40; ++n) names.push_back("X-NO-SUCH-CHARSET-" + std::to_string(n));
    ASSERT_GT(names.size(), 2 * kConverterCacheSize);
    for (int round = 0; round < 3; ++round)
        for (const std::string& name : names) {
            charsetToCp1252("\xE9\xA4", name);
            ASSERT_EQ(charsetToCp1252("caf\xC3\xA9", "utf-8"), "caf\xE9") << name;
            ASSERT_EQ(charsetToCp1252("\xA4", "latin-9"), "\x80") << name;
        }

    EXPECT_EQ(decodeEncodedWords("=?ISO-8859-1?Q?Andr=E9_Fo?= <a@b>"), "Andr\xE9 Fo <a@b>");
    EXPECT_EQ(decodeEncodedWords("=?utf-8?b?Y2Fmw6k=?= =?UTF-8?Q?_ok?="), "caf\xE9 ok");
    EXPECT_EQ(decodeEncodedWords("plain =?bad"), "plain =?bad");
    EXPECT_EQ(decodeEncodedWords("a =?x?Z?abc?= b"), "a =?x?Z?abc?= b");

    // 8-bit text that is well-formed UTF-8 is UTF-8 whatever its label; Latin-1 stays.
    EXPECT_TRUE(isUtf8Text("caf\xC3\xA9"));
    EXPECT_FALSE(isUtf8Text("caf\xE9"));
    EXPECT_FALSE(isUtf8Text("plain"));
    EXPECT_FALSE(isUtf8Text("\xC0\xAF"));          // overlong
    EXPECT_FALSE(isUtf8Text("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(isUtf8Text("ok \xE2\x82"));        // cut short
    PartInfo latin;
    latin.charset = "ISO-8859-1";
    EXPECT_EQ(buildMessageText(queueOf({"caf\xC3\xA9 \xE2\x80\x99"}), 0, ContentPlain, latin), "caf\xE9 \x92\r\n");
    EXPECT_EQ(buildMessageText(queueOf({"caf\xE9 na\xEFve"}), 0, ContentPlain, latin), "caf\xE9 na\xEFve\r\n");
    EXPECT_EQ(buildMessageText(queueOf({"caf\xC3\xA9"}), 0, ContentPlain, PartInfo{}), "caf\xE9\r\n");

    EXPECT_EQ(decodeBase64("aGVs\r\nbG8="), "hello");
    LineQueue q = queueOf({"Y2Fmw6kg", "b2sNCm5leHQ="});
    PartInfo info;
    info.transferEncoding = "BASE64";
    info.charset = "UTF-8";
    EXPECT_EQ(buildMessageText(q, 0, ContentPlain, info), "caf\xE9 ok\r\nnext\r\n");
}

} // namespace
