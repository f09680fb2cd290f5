#include "fuzz/targets.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/access.h"
#include "core/globals.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"
#include "import/linequeue.h"
#include "import/parser.h"
#include "internet/mailheaders.h"
#include "internet/mime.h"
#include "internet/news.h"
#include "platform/dbf.h"
#include "wordsearch/prosearch.h"
#include "wordsearch/wordbreak.h"

namespace fs = std::filesystem;

namespace qb::fuzz {

namespace {

constexpr uint32_t kMailDb = 250001;
constexpr int kMaxSteps = 20000;  // a reader that never ends is a finding too

// A home of its own for the readers: the configuration, data and temporary
// directories and a mail database to route mail to. Made once a process.
struct Home {
    std::string root;
    HeadlessUi quiet;
    Home() {
        root = (fs::temp_directory_path() / ("qbfuzz-" + std::to_string(getpid()))).string();
        fs::remove_all(root);
        fs::create_directories(root + "/net/CFG");
        fs::create_directories(root + "/data/F1");
        fs::create_directories(root + "/tmp");
        Mem = MemGlobals{};
        Mem.Net = root + "/net";
        Mem.FileDir = root + "/data";
        Mem.TempDir = root + "/tmp";
        MasIdxPath = Mem.FileDir;
        setEngineDirectory(root + "/net/CFG");
        setUi(&quiet);
        OP_CLOSE(OpOpenShared, Forums.number());
        Forums.clearBuffer();
        FOR.ID = kMailDb;
        FOR.DESCRIPTION.set("Fuzz Mail");
        FOR.TYPE = 2;
        FOR.DIRNUMBER = 1;
        FOR.MAILADDRESS.set("me@home.example");
        Forums.add();
        setDefaultWordTables();
    }
    ~Home() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    std::string file(const char* name) const { return root + "/" + name; }
};

void quietUi(Home& h) {
    h.quiet.shown.clear();
    h.quiet.answers.clear();
    setUi(&h.quiet);
}

Home& home() {
    static Home h;
    quietUi(h);
    return h;
}

void writeInput(const std::string& path, const uint8_t* data, size_t size) {
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
}

// One pre-import run of a reader over a file into fresh temporary tables.
void runReader(const std::string& reader, const std::string& path, uint8_t kind) {
    ImportContext ctx;
    ctx.settings.reader = reader;
    ctx.settings.messageKind = kind;
    ctx.settings.mailDb = kMailDb;
    ctx.nextId = 300000;
    ctx.loadTargets();
    if (!ctx.openTemporary()) return;
    if (auto p = makeParser(reader)) {
        ParseStatus st = p->begin(path, ctx);
        for (int steps = 0; st == ParseStatus::More; ++steps) {
            if (steps == kMaxSteps) {
                std::fprintf(stderr, "reader %s does not end\n", reader.c_str());
                std::abort();
            }
            st = p->step(ctx, 50);
        }
    }
    ctx.buildTemporaryKeys();
    ctx.closeTemporary();
}

int runReaders(std::initializer_list<const char*> readers, const uint8_t* data, size_t size, uint8_t kind,
               const char* fileName = "input.txt") {
    Home& h = home();
    const std::string path = h.file(fileName);
    writeInput(path, data, size);
    for (const char* r : readers) runReader(r, path, kind);
    return 0;
}

LineQueue toQueue(std::string_view text) {
    LineQueue q;
    size_t s = 0;
    while (s <= text.size()) {
        size_t e = text.find('\n', s);
        if (e == std::string_view::npos) e = text.size();
        std::string line(text.substr(s, e - s));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        pushLine(q, line);
        s = e + 1;
    }
    return q;
}

} // namespace

int body(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // The first byte picks the declared content kind, encoding and charset.
    const uint8_t sel = data[0];
    std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    LineQueue q = toQueue(text);
    PartInfo info;
    static const char* encodings[] = {"", "BASE64", "QUOTED-PRINTABLE", "8BIT"};
    static const char* charsets[] = {"", "ISO-8859-1", "UTF-8", "WINDOWS-1252"};
    info.transferEncoding = encodings[sel & 3];
    info.charset = charsets[(sel >> 2) & 3];
    const int kind = (sel >> 4) % 3;
    std::string built = buildMessageText(q, 0, kind, info);
    std::string plain = buildBody(q, 0, kind);
    if (!q.empty()) {
        if (auto b = findBoundary(q[0].LINE, 0)) {
            PartInfo part;
            selectPart(q, 1, *b, &part);
            built = buildMessageText(q, 1, part.html ? ContentHtml : ContentPlain, part);
        }
        size_t bodyStart = 0;
        PartInfo tested;
        mimeBodyTest(q, 0, &bodyStart, &tested);
    }
    std::string html(text);
    htmlToText(html);
    std::string enriched(text);
    enrichedToText(enriched);
    decodeQuotedPrintable(text);
    decodeBase64(text);
    charsetToCp1252(text, charsets[(sel >> 2) & 3]);
    return 0;
}

int mailReaders(const uint8_t* data, size_t size) {
    return runReaders({"Unix Mail", "Becky Mail", "Agent Mail", "Eudora", "IE Mail", "Netscape Mail", "Pegasus"},
                      data, size, 2);
}

int newsReaders(const uint8_t* data, size_t size) {
    return runReaders({"Unix News", "Agent News", "Gravity", "IE News", "Netscape News"}, data, size, 3);
}

int cisText(const uint8_t* data, size_t size) {
    return runReaders({"OzWin I", "OzWin II", "OzCIS", "TAPCIS 5.x", "TAPCIS 6.x", "AUTOSIG", "GoldenCompass",
                       "VirtualAccess", "NavCIS Save format"},
                      data, size, 1);
}

int filing(const uint8_t* data, size_t size) {
    runReaders({"WinCIM", "DOSCIM", "CSNav"}, data, size, 1, "input.MSG");
    return runReaders({"CompuServe 3.x"}, data, size, 1, "FCABINET.DAT");
}

int dbase(const uint8_t* data, size_t size) {
    // The input is a table and its memo file, split at the first 0xFF 0xFE
    // 0xFD run (no split: a table without memo).
    Home& h = home();
    std::string_view all(reinterpret_cast<const char*>(data), size);
    const size_t cut = all.find("\xFF\xFE\xFD");
    std::string_view table = all.substr(0, cut);
    std::string_view memo = cut == std::string_view::npos ? std::string_view() : all.substr(cut + 3);
    const std::string path = h.file("INPUT.DBF");
    writeInput(path, reinterpret_cast<const uint8_t*>(table.data()), table.size());
    const std::string memoPath = h.file("INPUT.DBT");
    std::error_code ec;
    fs::remove(memoPath, ec);
    if (cut != std::string_view::npos)
        writeInput(memoPath, reinterpret_cast<const uint8_t*>(memo.data()), memo.size());
    {
        DbfReader r;
        if (r.open(path)) {
            for (int rows = 0; rows < 100000; ++rows) {
                DbfRow row = r.next();
                if (row == DbfRow::End) break;
                for (size_t i = 0; i < r.fields().size(); ++i) {
                    const DbfField& f = r.fields()[i];
                    r.text(f.name);
                    r.number(f.name);
                    int y, m, d;
                    r.date(f.name, y, m, d);
                }
            }
        }
    }
    for (const char* reader : {"CISCOMM", "NavCIS 1.6x", "NavCIS 1.7x-", "OUI"}) runReader(reader, path, 2);
    return 0;
}

int words(const uint8_t* data, size_t size) {
    home();
    std::string_view text(reinterpret_cast<const char*>(data), size);
    size_t n = 0;
    breakWords(text, true, true, [&](const char*, size_t, size_t) { ++n; });
    breakWords(text, false, false, [&](const char*, size_t, size_t) { ++n; });
    size_t b = 0, e = 0;
    mailBodyRange(text, b, e);
    bodyEndWithoutFooter(text);
    std::vector<std::string> q = breakQuery(text);
    for (const std::string& w : q) {
        soundexCode(w);
        wildcardMatch(w, "WINDOWS");
        approximateMatch(w, "DOCUMENTATION", 2);
    }
    if (size > 1) {
        const size_t half = size / 2;
        wildcardMatch(text.substr(0, half), text.substr(half));
        approximateMatch(text.substr(0, std::min<size_t>(half, 40)), text.substr(half, 200), data[0] % 4);
    }
    textHasPhrase(text, q);
    BUILDWORDPOSQ1(q, text);
    LookupOptions opt;
    std::vector<std::string> prepared;
    prepareLookup(std::string(text.substr(0, 200)), opt, prepared);
    return 0;
}

int headers(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    int32_t date = 0, time = 0;
    parseDateCommon(text, date, time);
    parseDateEudora(text, date, time);
    parseEudoraSeparatorDate(text, date, time);
    std::string address, name;
    parseAddress(text, address, name);
    firstRecipient(text);
    subjectHeading(text);
    decodeEncodedWords(text);
    headerText(text);
    lastReference(text);
    classifyHeader(text);
    isHeaderLike(text);
    LineQueue q = toQueue(text);
    MailHeaders h;
    parseMailHeaders(q, 0, HeaderStyle::Common, h);
    messageText(q, h);
    LineQueue q2 = toQueue(text);
    MailHeaders e;
    parseMailHeaders(q2, 0, HeaderStyle::Eudora, e);
    return 0;
}

const std::vector<Target>& targets() {
    static const std::vector<Target> t = {{"body", body},       {"mailreaders", mailReaders},
                                          {"newsreaders", newsReaders}, {"cistext", cisText},
                                          {"filing", filing},   {"dbase", dbase},
                                          {"words", words},     {"headers", headers}};
    return t;
}

const Target* findTarget(const std::string& name) {
    for (const Target& t : targets())
        if (name == t.name) return &t;
    return nullptr;
}

} // namespace qb::fuzz
