#include "app/config.h"

#include "app/startup.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "core/fixedstr.h"
#include "core/globals.h"
#include "core/settings.h"

namespace fs = std::filesystem;

namespace qb {

namespace {

using T = SettingType;
using G = SettingGroup;

constexpr int32_t kClockDay = 8640000;  // hundredths in a day

std::vector<SettingDef> makeDefs() {
    const std::vector<std::pair<int32_t, const char*>> targetsMail = {
        {1, "tapcis"}, {2, "eudora"}, {3, "unix"}, {4, "ozwin2"}};
    return {
        // General
        {"date-format", "General", "Date format", G::A, 10, T::Choice, 0, 0,
         {{2, "mm-dd-yyyy"}, {6, "dd-mm-yyyy"}, {10, "yyyy-mm-dd"}, {17, "system"}}},
        {"time-format", "General", "Time format", G::A, 13, T::Choice, 0, 0,
         {{1, "hh:mm"}, {3, "hh:mmXM"}, {7, "system"}}},
        {"timing", "General", "Show the time taken at the end of long runs", G::B, 32, T::Switch},
        {"locator-delay", "General", "Delay after last keypress until locator string is reset (tenths of a second)",
         G::A, 3, T::Number, 1, 35},
        {"frame-maximized", "General", "Open the main window maximised", G::A, 2, T::Choice, 0, 0,
         {{1, "off"}, {2, "on"}}},
        {"toolbar", "General", "Show the toolbar", G::B, 42, T::Switch, 0, 0, {}, true},
        {"tree-label", "General", "Thread tree label format (1-5)", G::A, 16, T::Number, 1, 5},
        {"import-reader", "General", "Reader preselected for a new import (catalogue number)", G::A, 12, T::Number, 1,
         31},
        {"import-dir", "General", "Default directory for import files", G::A, 14, T::Text, 0, 100},
        {"end-after-tasks", "General", "End the program after a task run", G::B, 57, T::Switch},
        // Display and speeds
        {"tab-colour", "Display", "Choose Current TAB Color", G::B, 22, T::Colour},
        {"readonly-colour", "Display", "Choose ReadOnly field background", G::B, 23, T::Colour},
        {"keep-colour", "Display", "Choose Keep status color", G::B, 24, T::Colour},
        {"delete-colour", "Display", "Choose Delete status color", G::B, 25, T::Colour},
        {"list-font", "Display", "Choose ListBox font type and size", G::B, 33, T::Font},
        {"text-font", "Display", "Choose TextBox font type and size", G::B, 34, T::Font},
        {"entry-font", "Display", "Choose Entry field font type and size", G::B, 35, T::Font},
        {"tree-font", "Display", "Choose Thread Tree font type and size", G::B, 36, T::Font},
        {"speed-store", "Display", "Speed of storing imported messages (1-7)", G::B, 26, T::Number, 1, 7},
        {"speed-read", "Display", "Speed of reading import files (1-7)", G::B, 27, T::Number, 1, 7},
        {"speed-index", "Display", "Speed of word indexing (1-7)", G::B, 28, T::Number, 1, 7},
        {"speed-maintenance", "Display", "Speed of purging, counting and merging (1-7)", G::B, 29, T::Number, 1, 7},
        {"speed-search", "Display", "Speed of searching (1-7)", G::B, 30, T::Number, 1, 7},
        {"task-processing", "Display", "Run scheduled tasks", G::B, 48, T::Switch, 0, 0, {}, true},
        {"no-task-from", "Display", "No task starts from (HH:MM)", G::B, 46, T::Clock},
        {"no-task-until", "Display", "No task starts until (HH:MM)", G::B, 47, T::Clock},
        // Directories
        {"data-dir", "Directories", "Directory for database files", G::Paths, 18, T::Directory, 0, 100},
        {"temp-dir", "Directories", "Directory for temporary files", G::Paths, 17, T::Directory, 0, 100},
        {"index-dir", "Directories", "Directory for word index files", G::Word, WS_IndexRoot, T::Directory, 0, 100},
        // Export
        {"export-mail-target", "Export", "Export format of mail", G::C, 61, T::Choice, 0, 0, targetsMail},
        {"export-forum-target", "Export", "Export format of forum messages", G::C, 62, T::Choice, 0, 0,
         {{1, "tapcis"}, {4, "ozwin2"}}},
        {"export-news-target", "Export", "Export format of newsgroup messages", G::C, 63, T::Choice, 0, 0,
         {{3, "unix"}}},
        {"export-line-width", "Export", "Line width of exported text", G::B, 58, T::Number, 20, 250},
        {"export-wrap", "Export", "Wrap long lines of exported text", G::B, 60, T::Switch},
        // Word index
        {"index-numbers", "Word index", "Index numbers", G::Word, WS_IndexNumbers, T::Switch},
        {"index-forum-footers", "Word index", "Index the footers of forum messages", G::Word, WS_IndexForumFooters,
         T::Switch},
        {"index-news-footers", "Word index", "Index the footers of newsgroup messages", G::Word, WS_IndexNewsFooters,
         T::Switch},
        {"auto-stop-forum", "Word index", "Leave out words of most forum messages", G::Word, WS_AutoStopForum,
         T::Switch},
        {"auto-stop-news", "Word index", "Leave out words of most newsgroup messages", G::Word, WS_AutoStopNews,
         T::Switch},
        {"auto-stop-mail", "Word index", "Leave out words of most mail messages", G::Word, WS_AutoStopMail, T::Switch},
        {"search-pause", "Word index", "Messages searched before the search asks to go on", G::Word,
         WS_SearchPauseCount, T::Number, 100, 10000000},
    };
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool parseInt(const std::string& s, long long& out) {
    if (s.empty() || s.size() > 12) return false;
    size_t i = s[0] == '-' ? 1 : 0;
    if (i == s.size()) return false;
    for (size_t k = i; k < s.size(); ++k)
        if (!std::isdigit(static_cast<unsigned char>(s[k]))) return false;
    out = std::stoll(s);
    return true;
}

// Stored values: numbers through `number`, strings through `text`.
void getStored(const SettingDef& d, int32_t& number, std::string& text) {
    number = 0;
    text.clear();
    switch (d.group) {
    case G::A: Konfig(3, d.item, number, text); break;
    case G::B: Konfig(8, d.item, number, text); break;
    case G::C: Konfig(25, d.item, number, text); break;
    case G::Paths: AutoPath(3, d.item, text); break;
    case G::Word: WSVars(3, d.item, number, text); break;
    }
}

void putStored(const SettingDef& d, int32_t number, const std::string& text) {
    int32_t n = number;
    std::string t = text;
    switch (d.group) {
    case G::A: Konfig(2, d.item, n, t); break;
    case G::B: Konfig(7, d.item, n, t); break;
    case G::C: Konfig(24, d.item, n, t); break;
    case G::Paths: AutoPath(2, d.item, t); break;
    case G::Word: WSVars(2, d.item, n, t); break;
    }
}

std::string clipDir(const std::string& s) {
    std::string d(rtrim(s));
    while (d.size() > 1 && d.back() == '/') d.pop_back();
    return d;
}

// The stored value as text.
std::string format(const SettingDef& d, int32_t number, const std::string& text) {
    char buf[32];
    switch (d.type) {
    case T::Number: return std::to_string(number);
    case T::Switch: return ((number != 0) != d.inverted) ? "on" : "off";
    case T::Choice:
        for (const auto& c : d.choices)
            if (c.first == number) return c.second;
        return std::to_string(number);
    case T::Colour: {
        const uint32_t v = static_cast<uint32_t>(number);
        std::snprintf(buf, sizeof buf, "#%02X%02X%02X", v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF);
        return buf;
    }
    case T::Font: return text + "," + std::to_string(number);
    case T::Directory:
        if (d.group == G::Word && text.empty()) return clipDir(Mem.FileDir);  // empty: the data directory
        return clipDir(text);
    case T::Text: return text;
    case T::Clock:
        if (number <= 0) return "off";
        {
            const int32_t minutes = (number - 1) / 6000;
            std::snprintf(buf, sizeof buf, "%02d:%02d", minutes / 60 % 24, minutes % 60);
            return buf;
        }
    }
    return {};
}

bool fail(std::string& error, const std::string& text) {
    error = text;
    return false;
}

bool enterable(const std::string& dir) {
    std::error_code ec;
    return fs::is_directory(dir, ec);
}

} // namespace

const std::vector<SettingDef>& settingDefs() {
    static const std::vector<SettingDef> defs = makeDefs();
    return defs;
}

const SettingDef* findSetting(const std::string& name) {
    const std::string n = lower(name);
    for (const SettingDef& d : settingDefs())
        if (n == d.name) return &d;
    return nullptr;
}

std::vector<std::string> settingPages() {
    std::vector<std::string> pages;
    for (const SettingDef& d : settingDefs())
        if (std::find(pages.begin(), pages.end(), d.page) == pages.end()) pages.push_back(d.page);
    return pages;
}

std::string settingValue(const SettingDef& d) {
    int32_t number = 0;
    std::string text;
    getStored(d, number, text);
    return format(d, number, text);
}

std::string settingDefault(const SettingDef& d) {
    int row = CtlRowIds;
    switch (d.group) {
    case G::A: row = CtlRowIds; break;
    case G::B: row = CtlRowGroupB; break;
    case G::C: row = CtlRowGroupC; break;
    case G::Paths: row = CtlRowPaths; break;
    case G::Word: row = CtlRowWordSettings; break;
    }
    int32_t number = 0;
    std::string text;
    if (!factoryDefault(row, d.item, number, text)) return {};
    return format(d, number, text);
}

bool setSetting(const SettingDef& d, const std::string& value, std::string& error) {
    const std::string v(rtrim(value));
    const std::string lv = lower(v);
    long long n = 0;
    switch (d.type) {
    case T::Number:
        if (!parseInt(v, n) || n < d.min || n > d.max)
            return fail(error, std::string(d.name) + " takes a number from " + std::to_string(d.min) + " to " +
                                   std::to_string(d.max));
        putStored(d, static_cast<int32_t>(n), "");
        return true;
    case T::Switch: {
        bool on;
        if (lv == "on" || lv == "1" || lv == "yes") on = true;
        else if (lv == "off" || lv == "0" || lv == "no") on = false;
        else return fail(error, std::string(d.name) + " takes on or off");
        putStored(d, on != d.inverted ? 1 : 0, "");
        return true;
    }
    case T::Choice: {
        std::string names;
        for (const auto& c : d.choices) {
            if (lv == lower(c.second)) {
                putStored(d, c.first, "");
                return true;
            }
            names += names.empty() ? c.second : std::string(", ") + c.second;
        }
        return fail(error, std::string(d.name) + " takes one of: " + names);
    }
    case T::Colour: {
        unsigned r = 0, g = 0, b = 0;
        char extra = 0;
        if (v.size() != 7 || v[0] != '#' ||
            std::sscanf(v.c_str() + 1, "%2x%2x%2x%c", &r, &g, &b, &extra) != 3 ||
            !std::all_of(v.begin() + 1, v.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
            return fail(error, std::string(d.name) + " takes a colour as #RRGGBB");
        const int32_t stored = static_cast<int32_t>(r | (g << 8) | (b << 16));
        // A stored 0 reads back as the default colour.
        if (stored == 0) return fail(error, std::string(d.name) + ": black cannot be stored, use #000001");
        putStored(d, stored, "");
        return true;
    }
    case T::Font: {
        const size_t comma = v.rfind(',');
        std::string name = comma == std::string::npos ? std::string() : std::string(rtrim(v.substr(0, comma)));
        while (!name.empty() && name.front() == ' ') name.erase(0, 1);
        std::string size = comma == std::string::npos ? std::string() : v.substr(comma + 1);
        while (!size.empty() && size.front() == ' ') size.erase(0, 1);
        if (name.empty() || name.size() > 20 || !parseInt(size, n) || n < 4 || n > 72)
            return fail(error, std::string(d.name) + " takes NAME,SIZE (a name of up to 20 characters, size 4 to 72)");
        putStored(d, static_cast<int32_t>(n), name);
        return true;
    }
    case T::Text:
        if (v.size() > static_cast<size_t>(d.max))
            return fail(error, std::string(d.name) + " takes at most " + std::to_string(d.max) + " characters");
        putStored(d, 0, v);
        return true;
    case T::Clock: {
        if (lv == "off" || lv.empty()) {
            putStored(d, 0, "");
            return true;
        }
        int h = -1, m = -1;
        char extra = 0;
        if (std::sscanf(v.c_str(), "%d:%d%c", &h, &m, &extra) != 2 || h < 0 || h > 23 || m < 0 || m > 59 ||
            v.size() > 5)
            return fail(error, std::string(d.name) + " takes a time HH:MM or off");
        putStored(d, (h * 60 + m) * 6000 + 1, "");
        return true;
    }
    case T::Directory: {
        std::string dir = clipDir(v);
        if (dir.empty() || dir[0] != '/') return fail(error, std::string(d.name) + " takes an absolute path");
        if (dir.size() > static_cast<size_t>(d.max))
            return fail(error, std::string(d.name) + " takes a path of at most " + std::to_string(d.max) +
                                   " characters");
        if (d.group == G::Paths && d.item == 17 && !enterable(dir)) {
            std::error_code ec;
            fs::create_directory(dir, ec);  // one level, as at start-up
        }
        if (!enterable(dir)) {
            const char* what = d.group == G::Word      ? "The path to the word indexing files cannot be found!"
                               : d.item == 18          ? "The path to the data files cannot be found!"
                                                       : "The path to the temporary files cannot be found!";
            return fail(error, std::string(what) + " " + dir);
        }
        // The word-index directory is stored empty while it is the data directory.
        if (d.group == G::Word && dir == clipDir(Mem.FileDir)) dir.clear();
        putStored(d, 0, dir);
        return true;
    }
    }
    return fail(error, "unknown setting type");
}

int loadSettingGroups() {
    int32_t number = 0;
    std::string text;
    return AutoPath(1, 0, text) && WSVars(1, 0, number, text) && Konfig(1, 0, number, text) &&
                   Konfig(6, 0, number, text) && Konfig(23, 0, number, text)
               ? 1
               : 0;
}

int saveSettingGroup(SettingGroup g) {
    int32_t number = 0;
    std::string text;
    switch (g) {
    case G::A: return Konfig(4, 0, number, text);
    case G::B: return Konfig(9, 0, number, text);
    case G::C: return Konfig(26, 0, number, text);
    case G::Paths: return AutoPath(4, 0, text);
    case G::Word: return WSVars(4, 0, number, text);
    }
    return 0;
}

std::vector<std::string> applySettings() {
    std::vector<std::string> problems;
    std::string text;
    AutoPath(3, 17, text);
    const std::string temp = clipDir(text);
    if (!temp.empty() && temp[0] == '/' && enterable(temp)) Mem.TempDir = temp;
    else problems.push_back("The path to the temporary files cannot be found! " + temp);
    AutoPath(3, 18, text);
    const std::string data = clipDir(text);
    if (!data.empty() && enterable(data)) Mem.FileDir = data;
    else problems.push_back("The path to the data files cannot be found! " + data);
    MasIdxPath = Mem.FileDir;
    const std::string root = clipDir(wsvarsIndexRoot());
    if (!root.empty() && root != clipDir(MasIdxPath)) {
        if (enterable(root)) MasIdxPath = root;
        else problems.push_back("The path to the word indexing files cannot be found! " + root);
    }
    SpeedVal(2, 0);
    applyDisplaySettings();
    return problems;
}

} // namespace qb
