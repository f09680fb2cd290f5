// Read-only access to dBase-format tables of other programs (a .DBF file with
// its memo file, .DBT in dBase III/IV form or .FPT in FoxPro form), row by
// row, with each row's deleted or damaged state; and a small writer of such
// tables, used to build test files.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace qb {

struct DbfField {
    std::string name;      // upper case, without padding
    char type = 'C';       // C character, N numeric, D date, L logical, M memo, F float, I integer
    uint32_t length = 0;   // bytes in the row
    uint8_t decimals = 0;
    uint32_t offset = 0;   // from the start of the row (the deleted flag is byte 0)
};

enum class DbfRow { Good, Deleted, Damaged, End };

class DbfReader {
public:
    DbfReader() = default;
    ~DbfReader();
    DbfReader(const DbfReader&) = delete;
    DbfReader& operator=(const DbfReader&) = delete;

    // Opens the table and, when it has memo fields, its memo file beside it.
    // False with error() set when the file is not a readable dBase table.
    bool open(const std::string& path);
    void close();
    const std::string& error() const { return error_; }

    const std::vector<DbfField>& fields() const { return fields_; }
    int fieldIndex(std::string_view name) const;  // letter case ignored; -1 when absent
    uint32_t rowCount() const { return rowCount_; }
    uint32_t rowsRead() const { return next_; }   // rows passed so far
    uint64_t fileSize() const { return fileSize_; }

    // Reads the next row. Damaged: the row is cut short by the end of the
    // file, its flag byte is neither blank nor "*", or a memo reference
    // points outside the memo file (rowError() tells which).
    DbfRow next();
    const std::string& rowError() const { return rowError_; }

    // Field values of the current row; an unknown field gives "" or 0.
    std::string text(std::string_view name) const;     // trailing blanks dropped; memo text for M
    std::string raw(int field) const;                  // the bytes in the row
    std::string memo(int field) const;                 // "" for an empty memo
    long long number(std::string_view name) const;     // N, F, I fields; 0 when blank
    bool logical(std::string_view name) const;         // "T", "Y" (any case)
    // A D field (YYYYMMDD) as year, month, day; false when blank or not a date.
    bool date(std::string_view name, int& y, int& m, int& d) const;

private:
    bool memoBlock(const std::string& rawValue, uint64_t& block, bool& empty) const;
    bool readMemoAt(uint64_t block, std::string* out) const;

    std::FILE* f_ = nullptr;
    std::FILE* memo_ = nullptr;
    bool fox_ = false;           // FoxPro memo file
    bool dbase4_ = false;        // dBase IV memo blocks (with a length)
    uint32_t blockSize_ = 512;
    uint64_t memoSize_ = 0;
    uint64_t fileSize_ = 0;
    uint32_t rowCount_ = 0, headerLen_ = 0, rowLen_ = 0, next_ = 0;
    std::vector<DbfField> fields_;
    std::string row_;
    std::string error_, rowError_;
};

// Writes a dBase III table (memo file .DBT) or, with fox, a FoxPro table (.FPT).
class DbfWriter {
public:
    struct Column {
        std::string name;
        char type;             // C, N, D, L, M
        uint32_t length;       // ignored for D (8), L (1), M (10 or 4)
        uint8_t decimals = 0;
    };
    // The values of one row, in column order: text for C, digits for N,
    // "YYYYMMDD" for D, "T"/"F" for L, the memo text for M.
    using Row = std::vector<std::string>;

    bool write(const std::string& path, const std::vector<Column>& columns, const std::vector<Row>& rows,
               const std::vector<bool>& deleted = {}, bool fox = false);
};

} // namespace qb
