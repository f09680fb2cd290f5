// Pieces of SQL text built by the storage engine.
#pragma once
#include <cstdio>
#include <string>

namespace qb::sql {

inline std::string quoteId(const std::string& s) { return "\"" + s + "\""; }

inline std::string quoteText(const std::string& s) {
    std::string r = "'";
    for (char c : s) {
        if (c == '\'') r += '\'';
        r += c;
    }
    return r + "'";
}

// A file name as an SQLite URI (the characters a URI gives a meaning escaped).
inline std::string fileUri(const std::string& path, bool readOnly) {
    std::string r = "file:";
    for (unsigned char c : path) {
        if (c == '%' || c == '?' || c == '#' || c < 0x20) {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            r += buf;
        } else r += static_cast<char>(c);
    }
    if (readOnly) r += "?mode=ro";
    return r;
}

} // namespace qb::sql
