#include "platform/dbf.h"

#include <cctype>
#include <cstring>
#include <filesystem>
#include <limits>

namespace qb {

namespace {

uint32_t le32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint32_t be32(const unsigned char* p) { return (uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }
uint16_t le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint16_t be16(const unsigned char* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

uint64_t sizeOf(std::FILE* f) {
    if (std::fseek(f, 0, SEEK_END) != 0) return 0;
    long n = std::ftell(f);
    return n < 0 ? 0 : static_cast<uint64_t>(n);
}

bool readAt(std::FILE* f, uint64_t pos, void* buf, size_t n) {
    if (std::fseek(f, static_cast<long>(pos), SEEK_SET) != 0) return false;
    return std::fread(buf, 1, n, f) == n;
}

std::string rtrimmed(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    return s;
}

} // namespace

DbfReader::~DbfReader() { close(); }

void DbfReader::close() {
    if (f_) std::fclose(f_);
    if (memo_) std::fclose(memo_);
    f_ = memo_ = nullptr;
    fields_.clear();
    rowCount_ = next_ = 0;
}

bool DbfReader::open(const std::string& path) {
    close();
    error_.clear();
    f_ = std::fopen(path.c_str(), "rb");
    if (!f_) {
        error_ = std::string("cannot open the table: ") + std::strerror(errno);
        return false;
    }
    fileSize_ = sizeOf(f_);
    unsigned char h[32];
    if (!readAt(f_, 0, h, 32)) {
        error_ = "the table is shorter than its header";
        close();
        return false;
    }
    rowCount_ = le32(h + 4);
    headerLen_ = le16(h + 8);
    rowLen_ = le16(h + 10);
    uint8_t version = h[0];
    if (headerLen_ < 33 || rowLen_ < 2 || headerLen_ > fileSize_) {
        error_ = "not a dBase table (bad header)";
        close();
        return false;
    }
    std::string desc(headerLen_ - 32, '\0');
    if (!readAt(f_, 32, desc.data(), desc.size())) {
        error_ = "the field list is cut short";
        close();
        return false;
    }
    uint32_t offset = 1;
    bool haveMemo = false;
    for (size_t at = 0; at + 32 <= desc.size() && desc[at] != '\x0d'; at += 32) {
        DbfField fd;
        const char* p = desc.data() + at;
        fd.name.assign(p, strnlen(p, 11));
        for (auto& c : fd.name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        fd.type = static_cast<char>(std::toupper(static_cast<unsigned char>(p[11])));
        fd.length = static_cast<unsigned char>(p[16]);
        fd.decimals = static_cast<unsigned char>(p[17]);
        fd.offset = offset;
        offset += fd.length;
        if (fd.type == 'M' || fd.type == 'G' || fd.type == 'B') haveMemo = true;
        fields_.push_back(std::move(fd));
    }
    if (fields_.empty() || offset > rowLen_) {
        error_ = "not a dBase table (bad field list)";
        close();
        return false;
    }
    if (haveMemo) {
        namespace fs = std::filesystem;
        fs::path base(path);
        for (const char* ext : {".FPT", ".fpt", ".DBT", ".dbt"}) {
            fs::path m = base;
            m.replace_extension(ext);
            memo_ = std::fopen(m.string().c_str(), "rb");
            if (memo_) {
                fox_ = ext[1] == 'F' || ext[1] == 'f';
                break;
            }
        }
        if (!memo_) {
            error_ = "the memo file of the table is missing";
            close();
            return false;
        }
        memoSize_ = sizeOf(memo_);
        unsigned char mh[24] = {};
        if (!readAt(memo_, 0, mh, sizeof mh)) {
            error_ = "the memo file is shorter than its header";
            close();
            return false;
        }
        if (fox_) {
            blockSize_ = be16(mh + 6);
            if (blockSize_ == 0) blockSize_ = 64;
        } else {
            dbase4_ = version == 0x8B || version == 0x7B;
            blockSize_ = dbase4_ ? le16(mh + 20) : 512;
            if (blockSize_ == 0) blockSize_ = 512;
        }
    }
    row_.assign(rowLen_, ' ');
    return true;
}

int DbfReader::fieldIndex(std::string_view name) const {
    for (size_t i = 0; i < fields_.size(); ++i)
        if (sameName(fields_[i].name, name)) return static_cast<int>(i);
    return -1;
}

bool DbfReader::memoBlock(const std::string& raw, uint64_t& block, bool& empty) const {
    block = 0;
    empty = false;
    if (raw.size() == 4) {  // binary reference
        block = le32(reinterpret_cast<const unsigned char*>(raw.data()));
        empty = block == 0;
        return true;
    }
    bool digits = false;
    for (char c : raw) {
        if (c == ' ' || c == '\0') {
            if (digits) break;
            continue;
        }
        if (c < '0' || c > '9') return false;
        digits = true;
        block = block * 10 + static_cast<uint64_t>(c - '0');
        if (block > 0xFFFFFFFFull) return false;
    }
    empty = !digits || block == 0;
    return true;
}

bool DbfReader::readMemoAt(uint64_t block, std::string* out) const {
    uint64_t pos = block * blockSize_;
    if (!memo_ || pos < (fox_ ? 512u : blockSize_) || pos >= memoSize_) return false;
    if (fox_ || dbase4_) {
        unsigned char bh[8];
        if (!readAt(memo_, pos, bh, 8)) return false;
        uint64_t len;
        if (fox_) {
            len = be32(bh + 4);
        } else {
            if (bh[0] != 0xFF || bh[1] != 0xFF) return false;
            len = le32(bh + 4);
            if (len < 8) return false;
            len -= 8;
        }
        if (pos + 8 + len > memoSize_) return false;
        if (out) {
            out->assign(len, '\0');
            if (len && !readAt(memo_, pos + 8, out->data(), len)) return false;
        }
        return true;
    }
    if (!out) return true;
    // dBase III: the text runs to the first end-of-file character.
    out->clear();
    if (std::fseek(memo_, static_cast<long>(pos), SEEK_SET) != 0) return false;
    char buf[4096];
    for (;;) {
        size_t n = std::fread(buf, 1, sizeof buf, memo_);
        if (n == 0) break;
        const void* end = std::memchr(buf, 0x1A, n);
        if (end) {
            out->append(buf, static_cast<const char*>(end) - buf);
            break;
        }
        out->append(buf, n);
    }
    return true;
}

DbfRow DbfReader::next() {
    rowError_.clear();
    if (!f_ || next_ >= rowCount_) return DbfRow::End;
    uint64_t pos = headerLen_ + static_cast<uint64_t>(next_) * rowLen_;
    // A damaged header may claim far more rows than the file holds: the rows
    // wholly beyond its end do not exist. That is reported once as a damaged
    // row, and the table ends there.
    if (pos >= fileSize_) {
        next_ = rowCount_;
        rowError_ = "the file ends before the " + std::to_string(rowCount_) + " rows its header gives";
        return DbfRow::Damaged;
    }
    ++next_;
    if (!readAt(f_, pos, row_.data(), rowLen_)) {
        row_.assign(rowLen_, ' ');
        rowError_ = "the row is cut short by the end of the file";
        return DbfRow::Damaged;
    }
    if (row_[0] != ' ' && row_[0] != '*') {
        rowError_ = "the row has no valid flag byte";
        return DbfRow::Damaged;
    }
    bool deleted = row_[0] == '*';
    for (size_t i = 0; i < fields_.size(); ++i) {
        if (fields_[i].type != 'M') continue;
        uint64_t block;
        bool empty;
        if (!memoBlock(raw(static_cast<int>(i)), block, empty) || (!empty && !readMemoAt(block, nullptr))) {
            rowError_ = "the memo " + fields_[i].name + " points outside the memo file";
            return DbfRow::Damaged;
        }
    }
    return deleted ? DbfRow::Deleted : DbfRow::Good;
}

std::string DbfReader::raw(int field) const {
    if (field < 0 || static_cast<size_t>(field) >= fields_.size()) return {};
    const DbfField& fd = fields_[field];
    return row_.substr(fd.offset, fd.length);
}

std::string DbfReader::memo(int field) const {
    uint64_t block;
    bool empty;
    if (!memoBlock(raw(field), block, empty) || empty) return {};
    std::string out;
    if (!readMemoAt(block, &out)) return {};
    return out;
}

std::string DbfReader::text(std::string_view name) const {
    int i = fieldIndex(name);
    if (i < 0) return {};
    if (fields_[i].type == 'M') return memo(i);
    return rtrimmed(raw(i));
}

long long DbfReader::number(std::string_view name) const {
    int i = fieldIndex(name);
    if (i < 0) return 0;
    std::string r = raw(i);
    if (fields_[i].type == 'I' && r.size() == 4)
        return static_cast<int32_t>(le32(reinterpret_cast<const unsigned char*>(r.data())));
    size_t at = r.find_first_not_of(' ');
    if (at == std::string::npos) return 0;
    bool neg = r[at] == '-';
    if (neg || r[at] == '+') ++at;
    // More digits than a long long holds give its largest value.
    constexpr long long kMax = std::numeric_limits<long long>::max();
    long long v = 0;
    for (; at < r.size() && r[at] >= '0' && r[at] <= '9'; ++at) {
        const int digit = r[at] - '0';
        v = v > (kMax - digit) / 10 ? kMax : v * 10 + digit;
    }
    return neg ? -v : v;
}

bool DbfReader::logical(std::string_view name) const {
    std::string r = text(name);
    return !r.empty() && (r[0] == 'T' || r[0] == 't' || r[0] == 'Y' || r[0] == 'y');
}

bool DbfReader::date(std::string_view name, int& y, int& m, int& d) const {
    std::string r = text(name);
    if (r.size() != 8) return false;
    for (char c : r)
        if (c < '0' || c > '9') return false;
    y = std::stoi(r.substr(0, 4));
    m = std::stoi(r.substr(4, 2));
    d = std::stoi(r.substr(6, 2));
    return true;
}

// ------------------------------------------------------------------ writer

bool DbfWriter::write(const std::string& path, const std::vector<Column>& columns0, const std::vector<Row>& rows,
                      const std::vector<bool>& deleted, bool fox) {
    std::vector<Column> cols = columns0;
    bool memo = false;
    uint32_t rowLen = 1;
    for (auto& c : cols) {
        if (c.type == 'D') c.length = 8;
        if (c.type == 'L') c.length = 1;
        if (c.type == 'M') {
            c.length = 10;
            memo = true;
        }
        rowLen += c.length;
    }
    std::string memoData;
    const uint32_t bs = fox ? 64 : 512;
    if (memo) memoData.assign(512, '\0');
    auto addMemo = [&](const std::string& text) -> uint32_t {
        if (text.empty()) return 0;
        uint32_t block = static_cast<uint32_t>(memoData.size() / bs);
        if (fox) {
            unsigned char h[8] = {0, 0, 0, 1, 0, 0, 0, 0};
            uint32_t n = static_cast<uint32_t>(text.size());
            h[4] = n >> 24, h[5] = n >> 16, h[6] = n >> 8, h[7] = n & 0xFF;
            memoData.append(reinterpret_cast<char*>(h), 8);
            memoData += text;
        } else {
            memoData += text;
            memoData += "\x1a\x1a";
        }
        memoData.resize((memoData.size() + bs - 1) / bs * bs, '\0');
        return block;
    };

    std::string out(32, '\0');
    out[0] = static_cast<char>(memo ? (fox ? 0xF5 : 0x83) : 0x03);
    out[1] = 96, out[2] = 1, out[3] = 1;
    uint32_t n = static_cast<uint32_t>(rows.size());
    for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<char>(n >> (8 * i));
    uint32_t headerLen = 32 + 32 * static_cast<uint32_t>(cols.size()) + 1;
    out[8] = static_cast<char>(headerLen & 0xFF), out[9] = static_cast<char>(headerLen >> 8);
    out[10] = static_cast<char>(rowLen & 0xFF), out[11] = static_cast<char>(rowLen >> 8);
    for (const auto& c : cols) {
        std::string d(32, '\0');
        std::memcpy(d.data(), c.name.data(), std::min<size_t>(c.name.size(), 10));
        d[11] = c.type;
        d[16] = static_cast<char>(c.length);
        d[17] = static_cast<char>(c.decimals);
        out += d;
    }
    out += '\x0d';
    for (size_t r = 0; r < rows.size(); ++r) {
        std::string row(rowLen, ' ');
        row[0] = r < deleted.size() && deleted[r] ? '*' : ' ';
        uint32_t at = 1;
        for (size_t i = 0; i < cols.size(); ++i) {
            std::string v = i < rows[r].size() ? rows[r][i] : std::string();
            const Column& c = cols[i];
            if (c.type == 'M') {
                uint32_t b = addMemo(v);
                v = b ? std::to_string(b) : std::string();
                v = std::string(10 - v.size(), ' ') + v;
            } else if (c.type == 'N') {
                if (v.size() < c.length) v = std::string(c.length - v.size(), ' ') + v;
            }
            v.resize(c.length, ' ');
            std::memcpy(row.data() + at, v.data(), c.length);
            at += c.length;
        }
        out += row;
    }
    out += '\x1a';
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    ok = std::fclose(f) == 0 && ok;
    if (!memo || !ok) return ok;
    uint32_t nextFree = static_cast<uint32_t>(memoData.size() / bs);
    if (fox) {
        memoData[0] = static_cast<char>(nextFree >> 24), memoData[1] = static_cast<char>(nextFree >> 16);
        memoData[2] = static_cast<char>(nextFree >> 8), memoData[3] = static_cast<char>(nextFree);
        memoData[6] = static_cast<char>(bs >> 8), memoData[7] = static_cast<char>(bs & 0xFF);
    } else {
        for (int i = 0; i < 4; ++i) memoData[i] = static_cast<char>(nextFree >> (8 * i));
    }
    std::filesystem::path m(path);
    m.replace_extension(fox ? ".FPT" : ".DBT");
    f = std::fopen(m.string().c_str(), "wb");
    if (!f) return false;
    ok = std::fwrite(memoData.data(), 1, memoData.size(), f) == memoData.size();
    return std::fclose(f) == 0 && ok;
}

} // namespace qb
