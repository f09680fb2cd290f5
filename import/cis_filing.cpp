// The binary filing files of the CompuServe programs: the one-message files
// of WinCIM, DOSCIM and CSNav, and the filing cabinet of CompuServe 3.x.
#include <cstdio>
#include <cstring>
#include <fstream>

#include "core/dates.h"
#include "core/tables.h"
#include "core/text.h"
#include "import/cis_common.h"

namespace qb::cis {

namespace {

// A read cursor over bytes; reads past the end give zeros and leave the
// cursor at the end.
class Cursor {
public:
    explicit Cursor(std::string_view d, size_t pos = 0) : d_(d), p_(std::min(pos, d.size())) {}
    size_t pos() const { return p_; }
    size_t remaining() const { return d_.size() - p_; }
    bool atEnd() const { return p_ >= d_.size(); }
    void skip(size_t n) { p_ = n > remaining() ? d_.size() : p_ + n; }
    void seek(size_t at) { p_ = std::min(at, d_.size()); }
    uint8_t byte() { return atEnd() ? 0 : static_cast<uint8_t>(d_[p_++]); }
    uint16_t u16() {
        uint16_t a = byte();
        return static_cast<uint16_t>(a | (byte() << 8));
    }
    uint32_t u32() {
        uint32_t a = u16();
        return a | (static_cast<uint32_t>(u16()) << 16);
    }
    // A counted string: a length byte and that many characters; at most
    // `width` (and `maxRead`) of them are kept.
    std::string counted(size_t width, size_t maxRead = 255) {
        size_t n = byte();
        std::string s(d_.substr(p_, std::min(n, remaining())));
        skip(n);
        s.resize(std::min({s.size(), width, maxRead}));
        return trimRight(s);
    }
    std::string bytes(size_t n) {
        std::string s(d_.substr(p_, std::min(n, remaining())));
        skip(n);
        return s;
    }
    std::string rest() { return bytes(remaining()); }

private:
    std::string_view d_;
    size_t p_;
};

int32_t dateFrom3(Cursor& c) {
    int d = c.byte(), m = c.byte(), y = c.byte();
    return dayNumber(1970 + y, m, d);
}

std::string dropCopyOf(std::string s) {
    if (s.compare(0, 8, "Copy of:") == 0) {
        s.erase(0, 8);
        while (!s.empty() && s[0] == ' ') s.erase(0, 1);
    }
    return s;
}

std::string forumOf(std::string s) {
    s = afterPrefixNoCase(s, "CIS:");
    return trimRight(s);
}

// ------------------------------------------------ WinCIM, DOSCIM, CSNav files

class FilingFileParser : public Parser {
public:
    ParseStatus begin(const std::string& path, ImportContext& ctx) override {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            failText_ = path + " cannot be opened\r\n" + std::strerror(errno) + "\r\nThis file will be skipped!";
            return ParseStatus::Failed;
        }
        // One message per file: read in blocks of 10000 bytes.
        data_.clear();
        char buf[10000];
        while (in.read(buf, sizeof buf) || in.gcount() > 0) data_.append(buf, static_cast<size_t>(in.gcount()));
        ctx.progress = 0;
        return ParseStatus::More;
    }
    ParseStatus step(ImportContext& ctx, int) override {
        ctx.oneMessage([&] { parse(ctx); });
        ctx.progress = data_.size();
        return ParseStatus::Done;
    }

private:
    void parse(ImportContext& ctx);
    void parseMail(ImportContext& ctx, Cursor& c);
    void parseForum(ImportContext& ctx, Cursor& c, uint16_t h);
    void parseShortForum(ImportContext& ctx, Cursor& c, uint16_t h);
    std::string data_;
    MailOwner owner_;
};

void FilingFileParser::parse(ImportContext& ctx) {
    if (data_.size() < 11 || data_.compare(1, 7, std::string("VIS000\x1a", 7)) != 0) return;
    Cursor c(data_, 8);
    uint16_t h = c.u16();
    uint8_t type = c.byte();
    if (type == 1) parseMail(ctx, c);
    else if (type == 2) parseForum(ctx, c, h);
    else if (type == 3) parseShortForum(ctx, c, h);
}

void FilingFileParser::parseMail(ImportContext& ctx, Cursor& c) {
    if (!ctx.settings.importMail) {
        ctx.skip();
        return;
    }
    if (!owner_.loaded()) owner_.load(ctx);
    NewHR.clearBuffer();
    c.skip(16);
    for (size_t w : {32, 40, 60, 32}) c.counted(w);
    c.u16();
    int sec = c.byte(), min = c.byte(), hour = c.byte();
    int32_t time = clockTime(hour, min, sec);
    int32_t date = dateFrom3(c);
    c.skip(6);
    std::string subject = dropCopyOf(c.counted(50));
    std::string sName = c.counted(40), sAddr = c.counted(60);
    std::vector<Receiver> rcv;
    auto receivers = [&](size_t n, const char* kind) {
        for (size_t i = 0; i < n && !c.atEnd(); ++i) {
            Receiver r;
            r.name = c.counted(40);
            r.address = c.counted(60);
            c.skip(4);
            r.kind = kind;
            rcv.push_back(std::move(r));
        }
    };
    receivers(c.byte(), "TO");
    c.skip(2);
    receivers(c.u16(), "TO");
    c.u16();
    if (c.byte() == 4) return;  // not a message
    receivers(c.byte(), "CC");
    receivers(c.byte(), "BC");
    c.counted(32);
    c.skip(17);
    c.counted(32);
    for (size_t n = c.byte(), i = 0; i < n && !c.atEnd(); ++i) {
        c.byte();
        c.u32();
        c.counted(32);
        c.counted(32);
        c.byte();
        c.skip(4);
        c.counted(32);
    }
    c.skip(1);
    receivers(c.u16(), "CC");
    receivers(c.u16(), "BC");
    std::string text = c.bytes(NHR_MSGTEXTMax);
    cleanFilingText(text, true);

    sAddr = convertAddress(sAddr);
    sName = personName(sName, sAddr);
    std::string rAddr;
    int type = owner_.classify(sAddr, rAddr);
    startMail(ctx, static_cast<uint8_t>(type));
    if (type == 2) sName = owner_.name();
    NHR.HEADING.set(subject);
    NHR.S_NAME.set(sName);
    NHR.S_CISADRESS.set(sAddr);
    NHR.DATE = date;
    NHR.TIME = time;
    NHR_MSGTEXT = text;
    storeMailRecords(ctx, owner_, std::move(rcv), true, false);
}

void FilingFileParser::parseForum(ImportContext& ctx, Cursor& c, uint16_t h) {
    if (!ctx.settings.importForum) {
        ctx.skip();
        return;
    }
    NewHR.clearBuffer();
    c.skip(h > 0 ? h - 1u : 0u);
    uint16_t len = c.u16();
    size_t p = c.pos();
    c.skip(3);
    NHR.DATE = dateFrom3(c);
    c.skip(6);
    NHR.HEADING.set(c.counted(50));
    NHR.S_NAME.set(c.counted(40));
    NHR.S_CISADRESS.set(c.counted(60));
    c.byte();
    NHR.R_NAME.set(c.counted(40));
    NHR.R_CISADRESS.set(c.counted(60));
    c.skip(4);
    if (c.pos() < p + len) c.seek(p + len);
    c.skip(2);
    NHR.MSGNUMBER = c.u32();
    NHR.REFNUMBER = c.u32();
    c.skip(9);
    NHR.SECTIONNUMBER = c.byte();
    NHR.SEC_DESCRIPTION.set(c.counted(30));
    std::string forum = forumOf(c.counted(100));
    NHR.FOR_DESCRIPTION.set(forum);
    if (c.atEnd() || NHR.MSGNUMBER == 0) {  // cut short before the text
        ctx.skip();
        return;
    }
    Route rt = ctx.route(forum, KindForum);
    c.byte();
    c.u32();
    c.u32();
    c.skip(c.byte());
    std::string text = c.bytes(NHR_MSGTEXTMax);
    cleanFilingText(text, false);
    NHR_MSGTEXT = text;
    ctx.store(KindForum, rt);
}

void FilingFileParser::parseShortForum(ImportContext& ctx, Cursor& c, uint16_t h) {
    if (!ctx.settings.importForum) {
        ctx.skip();
        return;
    }
    NewHR.clearBuffer();
    c.skip(h > 0 ? h - 1u : 0u);
    c.skip(2);
    NHR.SECTIONNUMBER = c.byte();
    std::string forum = forumOf(c.counted(100));
    NHR.FOR_DESCRIPTION.set(forum);
    c.u32();
    NHR.SEC_DESCRIPTION.set(c.counted(30));
    c.skip(c.byte());
    c.u16();
    NHR.HEADING.set(c.counted(50));
    c.skip(6);
    NHR.MSGNUMBER = c.u32();
    NHR.REFNUMBER = c.u32();
    c.skip(9);
    c.skip(3);
    NHR.DATE = dateFrom3(c);
    c.skip(6);
    NHR.S_NAME.set(c.counted(40));
    NHR.S_CISADRESS.set(c.counted(60));
    NHR.R_NAME.set(c.counted(40));
    NHR.R_CISADRESS.set(c.counted(60));
    c.skip(1);
    uint16_t t = c.u16();
    if (c.atEnd() && t > 0) {  // cut short before the text
        ctx.skip();
        return;
    }
    if (NHR.MSGNUMBER == 0) {
        ctx.skip();
        return;
    }
    Route rt = ctx.route(forum, KindForum);
    std::string text = c.bytes(t);
    if (text.size() > NHR_MSGTEXTMax) text.resize(NHR_MSGTEXTMax);
    cleanFilingText(text, false);
    NHR_MSGTEXT = text;
    ctx.store(KindForum, rt);
}

// ------------------------------------------------ CompuServe 3.x filing cabinet

constexpr std::string_view kMarker = "~CS~FCR~";
constexpr size_t kScanChunk = 1 << 22;

class CabinetParser : public Parser {
public:
    ~CabinetParser() override {
        if (f_) std::fclose(f_);
    }
    ParseStatus begin(const std::string& path, ImportContext& ctx) override {
        path_ = path;
        f_ = std::fopen(path.c_str(), "rb");
        if (!f_) {
            failText_ = path + " cannot be opened\r\n" + std::strerror(errno) + "\r\nThis file will be skipped!";
            return ParseStatus::Failed;
        }
        std::fseek(f_, 0, SEEK_END);
        long n = std::ftell(f_);
        size_ = n > 0 ? static_cast<uint64_t>(n) : 0;
        scanAt_ = 0;
        scanning_ = true;
        starts_.clear();
        records_.clear();
        next_ = 0;
        ctx.progress = 0;
        return ParseStatus::More;
    }
    std::string passText() const override {
        return scanning_ ? "Pre-import first pass" : "Pre-import message conversion";
    }
    ParseStatus step(ImportContext& ctx, int batch) override;

private:
    bool scan();
    void convert(ImportContext& ctx, uint64_t start, uint64_t end);
    void convertMail(ImportContext& ctx, Cursor& c, const std::string& subject, std::string sName, std::string sAddr,
                     int32_t date, int32_t time);

    std::string path_;
    std::FILE* f_ = nullptr;
    uint64_t size_ = 0, scanAt_ = 0;
    bool scanning_ = true;
    std::vector<uint64_t> starts_;
    std::vector<std::pair<uint64_t, uint64_t>> records_;
    size_t next_ = 0;
    MailOwner owner_;
};

// One chunk of the first pass; true when the file has been scanned.
bool CabinetParser::scan() {
    std::string buf(kScanChunk + kMarker.size() - 1, '\0');
    std::fseek(f_, static_cast<long>(scanAt_), SEEK_SET);
    size_t n = std::fread(buf.data(), 1, buf.size(), f_);
    buf.resize(n);
    for (size_t at = buf.find(kMarker); at != std::string::npos; at = buf.find(kMarker, at + 1))
        if (at < kScanChunk) starts_.push_back(scanAt_ + at);  // the overlap belongs to the next chunk
    if (scanAt_ + n >= size_ || n == 0) return true;
    scanAt_ += kScanChunk;
    return false;
}

ParseStatus CabinetParser::step(ImportContext& ctx, int batch) {
    if (scanning_) {
        if (!scan()) {
            ctx.progress = scanAt_;
            return ParseStatus::More;
        }
        scanning_ = false;
        for (size_t i = 0; i < starts_.size(); ++i) {
            uint64_t end = i + 1 < starts_.size() ? starts_[i + 1] : size_;
            if (end - starts_[i] > 120) records_.emplace_back(starts_[i], end);
        }
        if (records_.empty()) {
            failText_ = path_ + " is not a CompuServe 3.x file!\r\nThis file will be skipped!";
            return ParseStatus::NotThisReader;
        }
        ctx.progress = 0;
        return ParseStatus::More;
    }
    int n = std::max(1, std::min(batch, 9));
    for (int i = 0; i < n && next_ < records_.size(); ++i, ++next_)
        ctx.oneMessage([&] { convert(ctx, records_[next_].first, records_[next_].second); });
    ctx.progress = next_ < records_.size() ? records_[next_].first : size_;
    return next_ < records_.size() ? ParseStatus::More : ParseStatus::Done;
}

void CabinetParser::convert(ImportContext& ctx, uint64_t start, uint64_t end) {
    std::string rec(end - start, '\0');
    std::fseek(f_, static_cast<long>(start), SEEK_SET);
    rec.resize(std::fread(rec.data(), 1, rec.size(), f_));
    Cursor c(rec, 10);
    if (c.byte() != 0 || c.remaining() < 112) return;
    c.skip(1 + 32 + 31 + 52 + 9);
    uint8_t type = c.byte();
    c.skip(4);
    uint32_t dt = c.u32();
    c.skip(4);
    uint16_t tm = dt & 0xFFFF, dd = static_cast<uint16_t>(dt >> 16);
    int32_t time = clockTime(tm >> 11, (tm >> 5) & 0x3F, (tm & 0x1F) * 2);
    int32_t date = dayNumber(1970 + (dd >> 9), (dd >> 5) & 0x0F, dd & 0x1F);
    std::string subject, sName, sAddr, section, forum;
    if (c.remaining() >= 50) {
        subject = c.counted(50, 75);
        sName = c.counted(40, 75);
        sAddr = c.counted(60, 75);
        section = c.counted(60, 75);
        forum = c.counted(100, 75);
        c.counted(1, 75);
        c.counted(1, 75);
    }
    if (type == 9) {
        convertMail(ctx, c, subject, sName, sAddr, date, time);
        return;
    }
    if (type != 2) return;
    if (!ctx.settings.importForum) {
        ctx.skip();
        return;
    }
    NewHR.clearBuffer();
    NHR.HEADING.set(subject);
    NHR.S_NAME.set(sName);
    NHR.S_CISADRESS.set(sAddr);
    NHR.SEC_DESCRIPTION.set(section.substr(0, 30));
    forum = forumOf(forum);
    NHR.FOR_DESCRIPTION.set(forum);
    NHR.DATE = date;
    c.skip(2);
    c.counted(32, 75);
    NHR.SECTIONNUMBER = c.byte();
    c.skip(4);
    NHR.R_NAME.set(c.counted(40, 75));
    NHR.R_CISADRESS.set(c.counted(60, 75));
    c.skip(4);
    NHR.MSGNUMBER = c.u32();
    NHR.REFNUMBER = c.u32();
    c.skip(10);
    std::string text;
    if (c.remaining() >= 4) {
        uint32_t len = c.u32();
        text = c.bytes(std::min<uint32_t>(len, NHR_MSGTEXTMax));
    }
    if (NHR.MSGNUMBER == 0 || NHR.MSGNUMBER >= 9000000) {
        ctx.skip();
        return;
    }
    Route rt = ctx.route(forum, KindForum);
    cleanFilingText(text, false);
    NHR_MSGTEXT = text;
    ctx.store(KindForum, rt);
}

void CabinetParser::convertMail(ImportContext& ctx, Cursor& c, const std::string& subject, std::string sName,
                                std::string sAddr, int32_t date, int32_t time) {
    if (!ctx.settings.importMail) {
        ctx.skip();
        return;
    }
    if (!owner_.loaded()) owner_.load(ctx);
    NewHR.clearBuffer();
    NHR.HEADING.set(dropCopyOf(subject));
    sAddr = trimRight(sAddr);
    if (sAddr.compare(0, 9, "INTERNET:") == 0) sAddr.erase(0, 9);
    int type = 2;
    std::string rAddr;
    if (sAddr.empty()) {
        sAddr = owner_.address();
    } else {
        type = owner_.classify(sAddr, rAddr);
    }
    if (type == 2) {
        sName = owner_.name();
    } else {
        sAddr = convertAddress(sAddr);
        sName = personName(sName, sAddr);
    }
    startMail(ctx, static_cast<uint8_t>(type));
    NHR.S_NAME.set(sName);
    NHR.S_CISADRESS.set(sAddr);
    NHR.DATE = date;
    NHR.TIME = time;

    std::vector<Receiver> rcv;
    std::string x;
    uint8_t kind = 0;
    if (c.remaining() >= 50) {
        c.skip(2);
        c.counted(32, 75);
        uint8_t entries = c.byte();
        c.skip(6);
        c.counted(255, 75);
        x = c.counted(60, 75);
        kind = c.byte();
        if (c.remaining() >= 20 && entries > 1)
            for (int i = 1; i < entries && !c.atEnd(); ++i) {
                c.skip(6);
                c.counted(255, 75);
                c.skip(x.empty() ? 10 : 1);
            }
        c.counted(255, 75);
        c.skip(12);
        c.counted(255, 75);
        c.counted(255, 75);
        c.skip(3);
        if (c.remaining() >= 20) {
            c.skip(1);
            uint8_t n = c.byte();
            c.skip(1);
            for (int i = 0; i < n && c.remaining() >= 20; ++i) {
                Receiver r;
                r.name = c.counted(40, 75);
                r.address = c.counted(60, 75);
                r.kind = "TO";
                c.skip(3);
                rcv.push_back(std::move(r));
            }
        }
    }
    std::string text = x;
    if (kind != 3 && c.remaining() >= 4) {
        uint32_t len = c.u32();
        if (len <= c.remaining()) text = c.bytes(std::min<uint32_t>(len, NHR_MSGTEXTMax));
    }
    cleanFilingText(text, true);
    NHR_MSGTEXT = text;
    storeMailRecords(ctx, owner_, std::move(rcv), true, true);
}

std::unique_ptr<Parser> makeFiling() { return std::make_unique<FilingFileParser>(); }

const bool registered = registerParser("WinCIM", makeFiling) && registerParser("DOSCIM", makeFiling) &&
                        registerParser("CSNav", makeFiling) &&
                        registerParser("CompuServe 3.x", [] { return std::make_unique<CabinetParser>(); });

} // namespace

} // namespace qb::cis
