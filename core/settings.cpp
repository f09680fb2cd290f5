#include "core/settings.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>

#include "core/access.h"
#include "core/dates.h"
#include "core/globals.h"
#include "core/readbatch.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"

namespace fs = std::filesystem;

namespace qb {

namespace {

constexpr size_t kArea = ControlRec::GroupSize;
using Area = std::array<uint8_t, kArea>;

const char* const kFatalTitle = "Fatal Error!";
const char* const kFatalText = "The control file is not available - no access to application!";
const char* const kInvalidType = "Internal Error - invalid xType";

int fatal() {
    ui().message(kFatalTitle, kFatalText, Icon::Hand);
    return 0;
}

// A programming error: the caller named an item its group does not have.
[[noreturn]] void invalidType() {
    ui().message("Quillbox", kInvalidType, Icon::Hand);
    throw ProgramStop(kInvalidType);
}

// ---- Items laid over a settings area ----------------------------------------

enum class Kind { Long, Byte, String, Font };

struct Item {
    int number;
    Kind kind;
    size_t width;          // String: characters
    int32_t defNumber;     // Long/Byte default; Font: default size
    const char* defText;   // String/Font default ("" none)
    size_t offset = 0;     // filled by layout()
};

constexpr size_t kFontName = 20;

size_t sizeOf(const Item& it) {
    switch (it.kind) {
    case Kind::Long: return 4;
    case Kind::Byte: return 1;
    case Kind::String: return it.width;
    case Kind::Font: return kFontName + 4;
    }
    return 0;
}

// Items are stored one after the other in the order given.
std::vector<Item> layout(std::vector<Item> items) {
    size_t off = 0;
    for (Item& it : items) {
        it.offset = off;
        off += sizeOf(it);
    }
    return items;
}

int32_t readLong(const Area& a, size_t off) {
    int32_t v;
    std::memcpy(&v, a.data() + off, 4);
    return v;
}
void writeLong(Area& a, size_t off, int32_t v) { std::memcpy(a.data() + off, &v, 4); }

// Stored strings are blank padded; a never written area holds zero bytes.
std::string readText(const Area& a, size_t off, size_t width) {
    const char* p = reinterpret_cast<const char*>(a.data() + off);
    size_t n = 0;
    while (n < width && p[n] != '\0') ++n;
    while (n > 0 && p[n - 1] == ' ') --n;
    return std::string(p, n);
}
void writeText(Area& a, size_t off, size_t width, const std::string& s) {
    size_t n = std::min(width, s.size());
    std::memcpy(a.data() + off, s.data(), n);
    std::memset(a.data() + off + n, ' ', width - n);
}

struct Group {
    int row;
    std::vector<Item> items;
    Area area{};

    const Item* find(int number) const {
        for (const Item& it : items)
            if (it.number == number) return &it;
        return nullptr;
    }
    // Puts the default into every item that is 0 (fonts: an empty name becomes
    // the default name and size).
    void defaultZeros() {
        for (const Item& it : items) {
            switch (it.kind) {
            case Kind::Long:
                if (readLong(area, it.offset) == 0) writeLong(area, it.offset, it.defNumber);
                break;
            case Kind::Byte:
                if (area[it.offset] == 0) area[it.offset] = static_cast<uint8_t>(it.defNumber);
                break;
            case Kind::String:
                if (readText(area, it.offset, it.width).empty()) writeText(area, it.offset, it.width, it.defText);
                break;
            case Kind::Font:
                if (readText(area, it.offset, kFontName).empty()) {
                    writeText(area, it.offset, kFontName, it.defText);
                    writeLong(area, it.offset + kFontName, it.defNumber);
                } else if (readLong(area, it.offset + kFontName) <= 0) {
                    writeLong(area, it.offset + kFontName, it.defNumber);
                }
                break;
            }
        }
    }
    void setDefaults() {
        area.fill(0);
        for (const Item& it : items) {
            switch (it.kind) {
            case Kind::Long: writeLong(area, it.offset, it.defNumber); break;
            case Kind::Byte: area[it.offset] = static_cast<uint8_t>(it.defNumber); break;
            case Kind::String: writeText(area, it.offset, it.width, it.defText); break;
            case Kind::Font:
                writeText(area, it.offset, kFontName, it.defText);
                writeLong(area, it.offset + kFontName, it.defNumber);
                break;
            }
        }
    }
    void set(const Item& it, int32_t number, const std::string& text) {
        switch (it.kind) {
        case Kind::Long: writeLong(area, it.offset, number); break;
        case Kind::Byte: area[it.offset] = static_cast<uint8_t>(std::clamp<int32_t>(number, 0, 255)); break;
        case Kind::String: writeText(area, it.offset, it.width, text); break;
        case Kind::Font:
            writeText(area, it.offset, kFontName, text);
            writeLong(area, it.offset + kFontName, number);
            break;
        }
    }
    void get(const Item& it, int32_t& number, std::string& text) const {
        switch (it.kind) {
        case Kind::Long: number = readLong(area, it.offset); break;
        case Kind::Byte: number = area[it.offset]; break;
        case Kind::String: text = readText(area, it.offset, it.width); break;
        case Kind::Font:
            text = readText(area, it.offset, kFontName);
            number = readLong(area, it.offset + kFontName);
            break;
        }
    }
};

Group makeGroupA() {
    Group g{CtlRowIds, layout({{2, Kind::Long, 0, 1, ""},
                               {3, Kind::Long, 0, 15, ""},
                               {6, Kind::Long, 0, 0, ""},
                               {10, Kind::Long, 0, 17, ""},
                               {11, Kind::Long, 0, 0, ""},
                               {12, Kind::Long, 0, 17, ""},
                               {13, Kind::Long, 0, 7, ""},
                               {14, Kind::String, 100, 0, ""},
                               {16, Kind::Long, 0, 2, ""},
                               {19, Kind::Long, 0, 0, ""}})};
    g.setDefaults();
    return g;
}

Group makeGroupB() {
    Group g{CtlRowGroupB, layout({{22, Kind::Long, 0, 255, ""},
                                  {23, Kind::Long, 0, 12632256, ""},
                                  {24, Kind::Long, 0, 8388608, ""},
                                  {25, Kind::Long, 0, 255, ""},
                                  {26, Kind::Long, 0, 4, ""},
                                  {27, Kind::Long, 0, 4, ""},
                                  {28, Kind::Long, 0, 4, ""},
                                  {29, Kind::Long, 0, 4, ""},
                                  {30, Kind::Long, 0, 4, ""},
                                  {32, Kind::Long, 0, 0, ""},
                                  {33, Kind::Font, 0, 8, "Arial"},
                                  {34, Kind::Font, 0, 8, "Arial"},
                                  {35, Kind::Font, 0, 8, "Arial"},
                                  {36, Kind::Font, 0, 8, "Arial"},
                                  {37, Kind::Long, 0, 0, ""},
                                  {38, Kind::Long, 0, 1, ""},
                                  {39, Kind::Long, 0, 1, ""},
                                  {40, Kind::Long, 0, 0, ""},
                                  {42, Kind::Long, 0, 0, ""},
                                  {46, Kind::Long, 0, 0, ""},
                                  {47, Kind::Long, 0, 0, ""},
                                  {48, Kind::Long, 0, 0, ""},
                                  {57, Kind::Long, 0, 0, ""},
                                  {58, Kind::Long, 0, 78, ""},
                                  {60, Kind::Long, 0, 0, ""}})};
    g.setDefaults();
    return g;
}

// Export options keyed by the characters "=", ">" and "?".
Group makeGroupC() {
    Group g{CtlRowGroupC, layout({{61, Kind::Long, 0, 1, ""}, {62, Kind::Long, 0, 1, ""}, {63, Kind::Long, 0, 3, ""}})};
    g.setDefaults();
    return g;
}

Group makePaths() {
    Group g{CtlRowPaths, layout({{17, Kind::String, 100, 0, ""}, {18, Kind::String, 100, 0, ""}})};
    g.setDefaults();
    return g;
}

// The index root is stored empty for "the data directory", so that the
// record stays right when the installation moves.
Group makeWordSettings() {
    Group g{CtlRowWordSettings, layout({{WS_IndexRoot, Kind::String, 100, 0, ""},
                                        {WS_IndexNumbers, Kind::Byte, 0, 1, ""},
                                        {WS_SearchPauseCount, Kind::Long, 0, 10000, ""},
                                        {WS_IndexForumFooters, Kind::Byte, 0, 0, ""},
                                        {WS_IndexNewsFooters, Kind::Byte, 0, 0, ""},
                                        {WS_AutoStopForum, Kind::Byte, 0, 1, ""},
                                        {WS_AutoStopNews, Kind::Byte, 0, 1, ""},
                                        {WS_AutoStopMail, Kind::Byte, 0, 1, ""},
                                        {WS_Reserved, Kind::Byte, 0, 1, ""}})};
    g.setDefaults();
    return g;
}

Group& groupA() { static Group g = makeGroupA(); return g; }
Group& groupB() { static Group g = makeGroupB(); return g; }
Group& groupC() { static Group g = makeGroupC(); return g; }
Group& paths() { static Group g = makePaths(); return g; }
Group& wordSettings() { static Group g = makeWordSettings(); return g; }

std::string defaultTempDir() { return Mem.Net + "/TEMP"; }
std::string defaultDataDir() { return Mem.Net; }

// The directory defaults follow the program directory of this run.
void defaultPaths(Area& a) {
    const Group& g = paths();
    if (readText(a, g.items[0].offset, 100).empty()) writeText(a, g.items[0].offset, 100, defaultTempDir());
    if (readText(a, g.items[1].offset, 100).empty()) writeText(a, g.items[1].offset, 100, defaultDataDir());
}

// ---- Control row access -------------------------------------------------------

// Opens Control through the use count; false when it is not available.
bool openControl() {
    OP_CLOSE(OpOpenShared, Control.number());
    if (Control.isOpen()) return true;
    OP_CLOSE(OpClose, Control.number());
    return false;
}
void closeControl() { OP_CLOSE(OpClose, Control.number()); }

enum class Got { Found, Missing, Failed };

Got getRow(int row) {
    Control.clearBuffer();
    CTL.ID = static_cast<uint8_t>(row);
    if (Control.get(CTL_IdKey)) return Got::Found;
    const int e = errorCode();
    return e == ErrRecordNotFound || e == ErrRecordNotAvailable || e == ErrEntryNotFound ? Got::Missing : Got::Failed;
}

bool addRow(int row, const Area& a) {
    Control.clearBuffer();
    CTL.ID = static_cast<uint8_t>(row);
    CTL.NEXTNUMBER = row == CtlRowIds ? FirstId : 0;
    std::memcpy(CTL.CTLFIELD, a.data(), kArea);
    return Control.add();
}

// The write of a settings row in a transaction of its own (unless the caller
// has one open), so that it cannot come between another instance's read and
// write of the ID counter in the same row.
struct ControlTxn {
    bool own = false;
    ControlTxn() {
        // A read transaction of the caller ends here: the write must not wait
        // behind a read lock of this process's own.
        endReadBatch({&Control});
        own = !inTransaction() && Control.isOpen() && beginTransaction({&Control}, 5);
    }
    bool finish(bool ok) {
        if (!own) return ok;
        own = false;
        if (ok) return commitTransaction();
        rollbackTransaction();
        return false;
    }
    ~ControlTxn() { finish(false); }
};

// Reads a row into `a`, adding it from `defaults` when it is missing.
// `fixup` may change the area read (defaults for zero items); a changed area
// is written back under a hold. The counter of row 1 is raised to FirstId.
template <class Fixup>
int loadRow(int row, Area& a, const Area& defaults, Fixup fixup) {
    if (!openControl()) return fatal();
    // A row that is there and needs no change is only read: no transaction,
    // so that a command that changes no setting writes nothing at its start.
    if (getRow(row) == Got::Found) {
        std::memcpy(a.data(), CTL.CTLFIELD, kArea);
        fixup(a);
        if (std::memcmp(a.data(), CTL.CTLFIELD, kArea) == 0 && (row != CtlRowIds || CTL.NEXTNUMBER >= FirstId)) {
            closeControl();
            return 1;
        }
    }
    int result = 1;
    ControlTxn txn;
    switch (getRow(row)) {
    case Got::Failed: result = 0; break;
    case Got::Missing:
        a = defaults;
        if (!addRow(row, a)) {
            // Another instance may have added it meanwhile.
            if (getRow(row) != Got::Found) { result = 0; break; }
            std::memcpy(a.data(), CTL.CTLFIELD, kArea);
            fixup(a);
        }
        break;
    case Got::Found: {
        // Held and read again, so that nothing written before the hold is lost.
        const bool held = Control.holdPosition(Control.position());
        std::memcpy(a.data(), CTL.CTLFIELD, kArea);
        fixup(a);
        bool changed = std::memcmp(a.data(), CTL.CTLFIELD, kArea) != 0;
        if (row == CtlRowIds && CTL.NEXTNUMBER < FirstId) {
            CTL.NEXTNUMBER = FirstId;
            changed = true;
        }
        if (held && changed) {
            std::memcpy(CTL.CTLFIELD, a.data(), kArea);
            if (!Control.put()) result = 0;
        }
        if (held) Control.release();
        break;
    }
    }
    if (!txn.finish(result != 0)) result = 0;
    closeControl();
    return result ? 1 : fatal();
}

// Writes `a` over the row's area under a hold (adding the row when missing).
int saveRow(int row, const Area& a) {
    if (!openControl()) return fatal();
    int result = 1;
    ControlTxn txn;
    switch (getRow(row)) {
    case Got::Failed: result = fatal(); break;
    case Got::Missing:
        if (!addRow(row, a)) result = UppDat(Control, UppAdd, ModeReport);
        break;
    case Got::Found:
        if (!HoldRec(Control, CTL_IdKey, 1, "")) {
            result = 0;  // HoldRec has told the user
            break;
        }
        std::memcpy(CTL.CTLFIELD, a.data(), kArea);
        result = UppDat(Control, UppPut, ModeReport);
        Control.release();
        break;
    }
    if (!txn.finish(result == 1)) result = 0;
    closeControl();
    return result;
}

int loadGroup(Group& g) {
    Group fresh = g;
    fresh.setDefaults();
    return loadRow(g.row, g.area, fresh.area, [&fresh](Area& a) {
        fresh.area = a;
        fresh.defaultZeros();
        a = fresh.area;
    });
}

// Konfig-style set/get of one item of a loaded group.
int itemAccess(Group& g, bool set, int item, int32_t& number, std::string& text, bool ignoreUnknown) {
    const Item* it = g.find(item);
    if (!it) {
        if (ignoreUnknown) return 1;
        invalidType();
    }
    if (set) g.set(*it, number, text);
    else g.get(*it, number, text);
    return 1;
}

// ---- Word-character tables of rows 11-16 ---------------------------------------

std::function<int()>& wordTableLoad() { static std::function<int()> f; return f; }
std::function<int()>& wordTableSave() { static std::function<int()> f; return f; }

// ---- Windows and list columns ------------------------------------------------

constexpr int kWindows = 25;
constexpr int kLists = 20;
constexpr int kColumns = 5;

struct ShortRows {
    Area defaults{};
    Area user{};
};

int16_t shortAt(const Area& a, size_t index) {
    int16_t v;
    std::memcpy(&v, a.data() + index * 2, 2);
    return v;
}
void setShortAt(Area& a, size_t index, int16_t v) { std::memcpy(a.data() + index * 2, &v, 2); }

// Factory positions: the main frame is window 1; the others cascade from the
// top left so that none hides another completely.
Area factoryWindows() {
    Area a{};
    for (int n = 1; n <= kWindows; ++n) {
        const size_t i = static_cast<size_t>(n - 1);
        int16_t x = 40, y = 40, w = 960, h = 640;
        if (n > 1) {
            x = static_cast<int16_t>(60 + 24 * ((n - 2) % 10));
            y = static_cast<int16_t>(60 + 24 * ((n - 2) % 10));
            w = 760;
            h = 520;
        }
        setShortAt(a, i, x);
        setShortAt(a, kWindows + i, y);
        setShortAt(a, 2 * kWindows + i, w);
        setShortAt(a, 3 * kWindows + i, h);
    }
    return a;
}

// Factory column widths: 0 stands for the width the list lays out itself.
Area factoryColumns() { return Area{}; }

ShortRows& windows1() { static ShortRows r{factoryWindows(), factoryWindows()}; return r; }
ShortRows& windows2() { static ShortRows r{factoryWindows(), factoryWindows()}; return r; }
ShortRows& columns() { static ShortRows r{factoryColumns(), factoryColumns()}; return r; }

int loadPair(ShortRows& r, int defaultRow, int userRow, const Area& factory) {
    if (!loadRow(defaultRow, r.defaults, factory, [](Area&) {})) return 0;
    return loadRow(userRow, r.user, r.defaults, [](Area&) {});
}

int windowPos(ShortRows& r, int userRow, int mode, int window, int16_t& x, int16_t& y, int16_t& w, int16_t& h) {
    const int defaultRow = userRow - 1;
    switch (mode) {
    case 1: return loadPair(r, defaultRow, userRow, factoryWindows());
    case 2:
    case 3: {
        if (window < 1 || window > kWindows) invalidType();
        const size_t i = static_cast<size_t>(window - 1);
        int16_t* v[4] = {&x, &y, &w, &h};
        for (size_t k = 0; k < 4; ++k) {
            const size_t at = k * kWindows + i;
            if (mode == 3) *v[k] = shortAt(r.user, at);
            else if (*v[k] < 2000) setShortAt(r.user, at, *v[k]);
        }
        return 1;
    }
    case 4: return saveRow(userRow, r.user);
    case 5: r.user = r.defaults; return 1;
    default: return 0;
    }
}

// ---- Timing ---------------------------------------------------------------------

constexpr int kSlots = 20;
struct Slot {
    int32_t startDate = 0, startTime = 0;
};
std::array<Slot, kSlots + 1> slots;

constexpr int64_t kDay = 8640000;  // hundredths of a second in a day

// ---- Speed ---------------------------------------------------------------------

struct SpeedRow {
    int32_t defaultSize;
    int32_t steps[7];
};
constexpr SpeedRow kSpeed[6] = {
    {500, {50, 100, 250, 500, 750, 1000, 1250}},  // 26
    {300, {50, 100, 200, 275, 350, 500, 700}},    // 27
    {4, {1, 3, 7, 10, 20, 30, 40}},               // 28
    {4, {1, 3, 7, 10, 20, 30, 40}},               // 29
    {4, {8, 16, 30, 50, 70, 85, 100}},            // 30
    {4, {10, 20, 20, 25, 25, 50, 50}},            // 31, from the step of item 30
};
std::array<int32_t, 6> batchSizes = {500, 300, 4, 4, 4, 4};

// ---- Locator --------------------------------------------------------------------

int64_t lastKeyTime = -1;
int locatorDelay = -1;  // tenths of a second

int readLocatorDelay() {
    int32_t d = konfigNumber(3);
    if (d > 35 || d <= 0) d = 15;
    return d;
}

std::map<int, std::function<int()>>& semaphores() {
    static std::map<int, std::function<int()>> m;
    return m;
}

std::string directoryPart(const std::string& name) {
    size_t p = name.find_last_of('/');
    if (p == std::string::npos) return {};
    if (p == 0) return "/";
    return name.substr(0, p);
}

bool canEnter(const std::string& dir) {
    std::error_code ec;
    return !dir.empty() && fs::is_directory(dir, ec) && ::access(dir.c_str(), X_OK) == 0;
}

} // namespace

// =================================================================================

uint32_t NextNr() {
    if (!Control.isOpen()) {
        OP_CLOSE(OpOpenShared, Control.number());
        if (!Control.isOpen()) return 0;
    }
    auto fail = [] {
        if (!unattended())
            ui().message("Control File Error", errorText() + "\r\n" + "Next ID cannot be generated!",
                         Icon::Exclamation);
        return 0u;
    };
    // An import hands out IDs from its own block while it holds the control
    // file locked; nobody else may draw one meanwhile.
    if (Control.lockedByAnyone()) {
        setError(ErrRecordHeld, "the control file is locked by an import in progress");
        return fail();
    }
    Control.clearBuffer();
    CTL.ID = 1;
    if (!Control.get(CTL_IdKey)) {
        Control.clearBuffer();
        CTL.ID = 1;
        CTL.NEXTNUMBER = FirstId;
        if (!Control.add()) return fail();
    }
    // No ID is ever below the first one, also when group A was not loaded
    // since the counter was last lowered.
    if (CTL.NEXTNUMBER < FirstId) CTL.NEXTNUMBER = FirstId;
    uint32_t id = CTL.NEXTNUMBER;
    CTL.NEXTNUMBER = id + 1;
    if (!Control.put()) return fail();
    return id;
}

// ---- Settings groups ------------------------------------------------------------

int Konfig(int mode, int item, int32_t& number, std::string& text) {
    switch (mode) {
    case 1: return loadGroup(groupA());
    case 2: return itemAccess(groupA(), true, item, number, text, false);
    case 3: return itemAccess(groupA(), false, item, number, text, false);
    case 4: return saveRow(groupA().row, groupA().area);
    case 6: return loadGroup(groupB());
    case 7: return itemAccess(groupB(), true, item, number, text, true);
    case 8: return itemAccess(groupB(), false, item, number, text, true);
    case 9: return saveRow(groupB().row, groupB().area);
    case 23: return loadGroup(groupC());
    case 24: return itemAccess(groupC(), true, item, number, text, false);
    case 25: return itemAccess(groupC(), false, item, number, text, false);
    case 26: return saveRow(groupC().row, groupC().area);
    default: return 0;
    }
}

int32_t konfigNumber(int item) {
    for (Group* g : {&groupA(), &groupB(), &groupC()})
        if (const Item* it = g->find(item)) {
            int32_t n = 0;
            std::string t;
            g->get(*it, n, t);
            return n;
        }
    return 0;
}

std::string konfigString(int item) {
    for (Group* g : {&groupA(), &groupB(), &groupC()})
        if (const Item* it = g->find(item)) {
            int32_t n = 0;
            std::string t;
            g->get(*it, n, t);
            return t;
        }
    return {};
}

int AutoPath(int mode, int item, std::string& text) {
    Group& g = paths();
    switch (mode) {
    case 1: {
        Area defaults{};
        defaultPaths(defaults);
        if (!loadRow(g.row, g.area, defaults, [](Area&) {})) return 0;
        defaultPaths(g.area);  // an empty directory item stands for its default
        return 1;
    }
    case 2:
    case 3: {
        if (item != 17 && item != 18) invalidType();
        int32_t n = 0;
        return itemAccess(g, mode == 2, item, n, text, false);
    }
    case 4: return saveRow(g.row, g.area);
    default: return 0;
    }
}

int WSVars(int mode, int item, int32_t& number, std::string& text) {
    Group& g = wordSettings();
    switch (mode) {
    case 1: {
        if (wordTableLoad() && !wordTableLoad()()) return 0;
        Group fresh = makeWordSettings();
        // A record whose numbers byte reads as a blank never had its numbers
        // written: it gets the defaults, the index root is kept.
        return loadRow(g.row, g.area, fresh.area, [&fresh](Area& a) {
            const size_t numbers = fresh.find(WS_IndexNumbers)->offset;
            if (a[numbers] == ' ') std::memcpy(a.data() + numbers, fresh.area.data() + numbers, kArea - numbers);
        });
    }
    case 2:
    case 3: return itemAccess(g, mode == 2, item, number, text, false);
    case 4: {
        if (!saveRow(g.row, g.area)) return 0;
        if (wordTableSave() && !wordTableSave()()) return 0;
        return 1;
    }
    default: return 0;
    }
}

int32_t wsvarsNumber(int item) {
    const Group& g = wordSettings();
    const Item* it = g.find(item);
    if (!it || it->kind == Kind::String) return 0;
    int32_t n = 0;
    std::string t;
    g.get(*it, n, t);
    return n;
}

std::string wsvarsIndexRoot() {
    const Group& g = wordSettings();
    const Item* it = g.find(WS_IndexRoot);
    std::string root = readText(g.area, it->offset, it->width);
    return root.empty() ? Mem.FileDir : root;
}

void registerWordTableStore(std::function<int()> load, std::function<int()> save) {
    wordTableLoad() = std::move(load);
    wordTableSave() = std::move(save);
}

int factoryDefault(int row, int item, int32_t& number, std::string& text) {
    Group g{};
    switch (row) {
    case CtlRowIds: g = makeGroupA(); break;
    case CtlRowGroupB: g = makeGroupB(); break;
    case CtlRowGroupC: g = makeGroupC(); break;
    case CtlRowPaths: g = makePaths(); defaultPaths(g.area); break;
    case CtlRowWordSettings: g = makeWordSettings(); break;
    default: return 0;
    }
    const Item* it = g.find(item);
    if (!it) return 0;
    number = 0;
    text.clear();
    g.get(*it, number, text);
    return 1;
}

int readControlArea(int row, uint8_t* area200) {
    if (!openControl()) return fatal();
    int result = 0;
    switch (getRow(row)) {
    case Got::Found: std::memcpy(area200, CTL.CTLFIELD, kArea); result = 1; break;
    case Got::Missing: result = 2; break;
    case Got::Failed: result = 0; break;
    }
    closeControl();
    return result ? result : fatal();
}

int writeControlArea(int row, const uint8_t* area200) {
    Area a;
    std::memcpy(a.data(), area200, kArea);
    return saveRow(row, a);
}

int ListCol(int mode, int list, std::vector<int16_t>& widths) {
    ShortRows& r = columns();
    switch (mode) {
    case 1: return loadPair(r, CtlRowColumnsDefault, CtlRowColumnsUser, factoryColumns());
    case 2:
    case 3: {
        if (list < 1 || list > kLists) invalidType();
        const size_t i = static_cast<size_t>(list - 1);
        if (mode == 3) {
            widths.assign(kColumns, 0);
            for (size_t c = 0; c < kColumns; ++c) widths[c] = shortAt(r.user, c * kLists + i);
        } else {
            for (size_t c = 0; c < kColumns && c < widths.size(); ++c) setShortAt(r.user, c * kLists + i, widths[c]);
        }
        return 1;
    }
    case 4: return saveRow(CtlRowColumnsUser, r.user);
    case 5: r.user = r.defaults; return 1;
    default: return 0;
    }
}

int WindowPos(int mode, int window, int16_t& x, int16_t& y, int16_t& w, int16_t& h) {
    return windowPos(windows1(), CtlRowWindowsUser, mode, window, x, y, w, h);
}

int WindowPos2(int mode, int window, int16_t& x, int16_t& y, int16_t& w, int16_t& h) {
    return windowPos(windows2(), CtlRowWindows2User, mode, window, x, y, w, h);
}

// ---- The self-description of the active database --------------------------------

int UpdREF(int mode) {
    // Without an active database the name would point into the data
    // directory itself.
    if (rtrim(Mem.Dirnamn).empty()) return 0;
    ForumRefRec want{};
    want.TYPE = FOR.TYPE;
    want.DESCRIPTION = FOR.DESCRIPTION.view();
    want.PERSONID = 0;
    want.MAILADDRESS.clear();
    for (auto& alt : want.ALTADDRESS) alt.clear();
    if (FOR.TYPE == 2) {
        want.PERSONID = static_cast<int32_t>(FOR.PERSONID);
        want.MAILADDRESS = FOR.MAILADDRESS.view();
        for (size_t i = 0; i < 10 && !FOR.ALTADDRESS[i].empty(); ++i) want.ALTADDRESS[i] = FOR.ALTADDRESS[i].view();
    }
    auto same = [](const ForumRefRec& a, const ForumRefRec& b) {
        if (a.TYPE != b.TYPE || a.PERSONID != b.PERSONID || !(a.DESCRIPTION == b.DESCRIPTION) ||
            !(a.MAILADDRESS == b.MAILADDRESS))
            return false;
        for (size_t i = 0; i < 10; ++i)
            if (!(a.ALTADDRESS[i] == b.ALTADDRESS[i])) return false;
        return true;
    };

    OP_CLOSE(OpOpenShared, ForumRef.number());
    if (!ForumRef.isOpen()) {
        OP_CLOSE(OpClose, ForumRef.number());
        return 0;
    }
    int result = 1;
    ForumRef.setFile();
    if (ForumRef.next()) {
        if (!same(REF, want)) {
            REF = want;
            result = UppDat(ForumRef, UppPut, mode);
        }
    } else {
        ForumRef.clearBuffer();
        REF = want;
        result = UppDat(ForumRef, UppAdd, mode);
    }
    OP_CLOSE(OpClose, ForumRef.number());
    return result;
}

// ---- Directories and files ---------------------------------------------------------

int ExistPath(int kind, int tableNumber, const std::string& path, const std::string& message, bool quiet) {
    std::string dir;
    if (kind == 1 || kind == 3) {
        dir = std::string(rtrim(path));
        if (dir.empty() || dir[0] != '/') return 0;
        while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    } else if (kind == 2 || kind == 4) {
        dir = directoryPart(tableFileName(tableNumber));
        if (dir.empty()) return 0;
    } else {
        return 0;
    }
    if (canEnter(dir)) return 1;

    if (!quiet && !unattended()) {
        ui().beep();
        ui().message(" Path Not Found", "The specified path " + dir + " does not exist.\r\n" + message,
                     Icon::Exclamation);
    }
    if (kind == 3 || kind == 4) {
        std::error_code ec;
        fs::create_directory(dir, ec);
        if (!canEnter(dir)) {
            ui().beep();
            ui().message(" Directory Creation Error",
                         "The specified directory " + dir + " could not be created.\r\nQuillbox will be halted.",
                         Icon::Exclamation);
            ui().message("Quillbox", "Probable access rights violation", Icon::Hand);
            throw ProgramStop("The specified directory " + dir + " could not be created.",
                              "Probable access rights violation");
        }
    }
    return 0;
}

uint64_t GetFSize(const std::string& pattern) {
    const std::string name(rtrim(pattern));
    if (name.empty()) return 0;
    std::string dir = directoryPart(name);
    const std::string mask = name.find('/') == std::string::npos ? name : name.substr(name.find_last_of('/') + 1);
    if (mask.empty()) return 0;
    uint64_t total = 0;
    std::error_code ec;
    fs::directory_iterator it(dir.empty() ? fs::path(".") : fs::path(dir), ec);
    if (ec) return 0;
    for (fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        std::error_code fec;
        if (!it->is_regular_file(fec)) continue;
        if (!fileMaskMatches(mask, it->path().filename().string())) continue;
        const auto size = it->file_size(fec);
        if (!fec) total += size;
    }
    return total;
}

// ---- Elapsed time, progress scaling, batch sizes --------------------------------------

int32_t StartStop(int mode, int slot, int32_t date, int32_t time) {
    switch (mode) {
    case 0:
        slots.fill(Slot{});
        return 0;
    case 1:
        if (slot < 1 || slot > kSlots) return 0;
        slots[static_cast<size_t>(slot)] = Slot{date, time};
        return 0;
    case 2: {
        if (slot < 1 || slot > kSlots) return 0;
        const Slot& s = slots[static_cast<size_t>(slot)];
        if (s.startDate == 0) return 0;  // never started
        const int64_t days = static_cast<int64_t>(date) - s.startDate;
        const int64_t hundredths = days * kDay + (static_cast<int64_t>(time) - s.startTime);
        // A clock set back gives no negative durations.
        if (hundredths <= 0) return 0;
        return static_cast<int32_t>(std::min<int64_t>(hundredths / 100, INT32_MAX));
    }
    default: return 0;
    }
}

int32_t StartStop(int mode, int slot) { return StartStop(mode, slot, today(), clockNow()); }

void CalcMax(int32_t& divisor, int16_t& scaled, double value) {
    if (!(value > 32767.0)) {  // also NaN and negative values
        divisor = 1;
        scaled = static_cast<int16_t>(std::isnan(value) ? 0 : std::max(value, -32768.0));
        return;
    }
    double n = std::ceil(value / 32767.0);
    while (n > 1 && value / (n - 1) <= 32767.0) --n;
    while (value / n > 32767.0) ++n;
    if (n > INT32_MAX) n = INT32_MAX;
    divisor = static_cast<int32_t>(n);
    scaled = static_cast<int16_t>(std::min(std::trunc(value / n), 32767.0));
}

int32_t SpeedVal(int mode, int kind) {
    if (mode == 2) {
        for (size_t k = 0; k < 6; ++k) {
            const int item = k < 5 ? 26 + static_cast<int>(k) : 30;
            const int32_t step = konfigNumber(item);
            batchSizes[k] = step >= 1 && step <= 7 ? kSpeed[k].steps[step - 1] : kSpeed[k].defaultSize;
        }
        return 1;
    }
    if (mode == 3 && kind >= 26 && kind <= 31) return batchSizes[static_cast<size_t>(kind - 26)];
    return 0;
}

// ---- The list-box locator ------------------------------------------------------

char locatorChar(int key) {
    if (key >= 96 && key <= 105) return static_cast<char>('0' + key - 96);  // numeric keypad
    if (key >= 48 && key <= 90) return key >= 'A' ? static_cast<char>(key - 'A' + 'a') : static_cast<char>(key);
    if (key >= 304 && key <= 346) return static_cast<char>(key - 256);      // with Shift
    if (key >= 1328 && key <= 1337) return static_cast<char>('0' + key - 1328);
    if (key == 32) return ' ';
    if (key == 362 || key == 1386) return '*';
    if (key == 367 || key == 1391) return '/';
    return 0;
}

int IncrementStep(int key, std::string& locator, int64_t nowHundredths) {
    const char ch = locatorChar(key);
    if (ch == 0) return 0;
    int64_t now = nowHundredths < 0 ? clockNow() : nowHundredths;
    if (locatorDelay < 0) locatorDelay = readLocatorDelay();
    int64_t since = -1;
    if (lastKeyTime >= 0) {
        since = now - lastKeyTime;
        if (since < 0) since += kDay;  // past midnight
    }
    if (since >= 0 && since <= static_cast<int64_t>(locatorDelay) * 10) {
        if (locator.size() > 10) locator.resize(10);
        if (locator.size() < 10) locator += ch;
    } else {
        locator.assign(1, ch);
        locatorDelay = readLocatorDelay();
    }
    lastKeyTime = now;
    return 1;
}

// ---- Date and time formats ----------------------------------------------------

int32_t SetDate(std::string& name, std::string& picture) {
    const int32_t n = konfigNumber(10);
    switch (n) {
    case 2: name = "mm-dd-yyyy"; picture = "@D2-"; break;
    case 6: name = "dd-mm-yyyy"; picture = "@D6-"; break;
    case 10: name = "yyyy-mm-dd"; picture = "@D10-"; break;
    case 17: name = "Windows setting"; picture = "@D17"; break;
    default: name.clear(); picture.clear(); break;
    }
    return n;
}

int32_t SetTime(std::string& name, std::string& picture) {
    const int32_t n = konfigNumber(13);
    switch (n) {
    case 1: name = "hh:mm"; picture = "@T1"; break;
    case 3: name = "hh:mmXM"; picture = "@T3"; break;
    case 7: name = "Windows setting"; picture = "@T7"; break;
    default: name.clear(); picture.clear(); break;
    }
    return n;
}

// ---- Procedures of the library ------------------------------------------------

int SemaFore(int code) {
    auto it = semaphores().find(code);
    if (it == semaphores().end() || !it->second) return 0;
    return it->second();
}

void registerSemaFore(int code, std::function<int()> handler) { semaphores()[code] = std::move(handler); }

bool semaForeAvailable(int code) {
    auto it = semaphores().find(code);
    return it != semaphores().end() && it->second;
}

} // namespace qb
