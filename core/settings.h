// The control record: the ID generator and the settings groups, and the small
// services the two deliverables share.
//
// The settings operations return 1 on success and 0 when the control file is
// not available (after "The control file is not available - no access to
// application!" titled "Fatal Error!").
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qb {

// The next ID of the installation (Control row 1), or 0 on failure after the
// message "Next ID cannot be generated!". Takes no lock of its own: call it
// inside the caller's transaction, which covers Control. Opens Control when
// it is not open (and leaves it open for the caller's OP_CLOSE pairing).
uint32_t NextNr();

// Groups A (modes 1-4), B (6-9) and C (23-26): load, set, get, save. Set and
// get move numbers through `number` and strings (items 14, 33-36) through
// `text` (fonts: name in text, size in number).
int Konfig(int mode, int item, int32_t& number, std::string& text);
// Convenience readers of the loaded groups.
int32_t konfigNumber(int item);
std::string konfigString(int item);

// Row 4: 1 load, 2 set item 17 (temporary directory) or 18 (data
// directory), 3 get, 4 save.
int AutoPath(int mode, int item, std::string& text);

// Row 10, the word-index settings: 1 load, 2 set, 3 get, 4 save.
int WSVars(int mode, int item, int32_t& number, std::string& text);

// Rows 5 and 6: 1 load, 2 set the widths of list n, 3 get them, 4 save row
// 6, 5 reset to the defaults. Up to 5 widths a list.
int ListCol(int mode, int list, std::vector<int16_t>& widths);

// Rows 2/3 and 7/8: 1 load, 2 set window n (a value of 2000 or more is not
// taken), 3 get, 4 save, 5 reset to the defaults.
int WindowPos(int mode, int window, int16_t& x, int16_t& y, int16_t& w, int16_t& h);
int WindowPos2(int mode, int window, int16_t& x, int16_t& y, int16_t& w, int16_t& h);

// Writes the active database's ForumRef record from the FOR buffer (mode as
// for UppDat). 1 unless the write failed.
int UpdREF(int mode);

// Directory checks: kinds 1/3 take the directory from `path` (must be
// absolute), kinds 2/4 the directory of table `tableNumber`; 3 and 4 create
// a missing directory (one level). 1 when the directory exists.
int ExistPath(int kind, int tableNumber, const std::string& path, const std::string& message, bool quiet);

// Total size of the files matching the name or mask.
uint64_t GetFSize(const std::string& pattern);

// 0 clear all slots, 1 note the start in slot n, 2 note the stop and give
// the elapsed whole seconds.
int32_t StartStop(int mode, int slot);

// Smallest divisor n >= 1 with value / n <= 32767, and the scaled value.
void CalcMax(int32_t& divisor, int16_t& scaled, double value);

// Mode 2 turns the speed items 26-30 into batch sizes (1); mode 3 gives the
// batch size of kind 26-31.
int32_t SpeedVal(int mode, int kind);

// The list-box locator: `key` is the key code of the last key, `nowHundredths`
// the clock (hundredths of a second; clockNow() when -1).
int IncrementStep(int key, std::string& locator, int64_t nowHundredths = -1);

// The name and picture of the stored date (item 10) or time (item 13)
// format; returns the number.
int32_t SetDate(std::string& name, std::string& picture);
int32_t SetTime(std::string& name, std::string& picture);

// Starts one of the library's procedures by code. The program registers
// what each code does (windows live in the program); an unregistered code
// does nothing and gives 0.
int SemaFore(int code);
void registerSemaFore(int code, std::function<int()> handler);

// ---- Additions ---------------------------------------------------------------

// The first ID of an installation; no ID is ever below it.
constexpr uint32_t FirstId = 250000;

// Rows of Control. Rows 11 to 16 hold the four word-character tables (1024
// bytes over six areas), so group C, whose export options would otherwise
// share row 11 with them, lives in row 17 of its own.
enum ControlRow : int {
    CtlRowIds = 1,          // NextNr and group A
    CtlRowWindowsDefault = 2,
    CtlRowWindowsUser = 3,
    CtlRowPaths = 4,
    CtlRowColumnsDefault = 5,
    CtlRowColumnsUser = 6,
    CtlRowWindows2Default = 7,
    CtlRowWindows2User = 8,
    CtlRowGroupB = 9,
    CtlRowWordSettings = 10,
    CtlRowWordTablesFirst = 11,
    CtlRowWordTablesLast = 16,
    CtlRowGroupC = 17,
};

// Selectors of the word-index settings (WSVars types 2 and 3). The index
// root travels in `text`, every other item in `number`.
enum WSItem : int {
    WS_IndexRoot = 44,           // STRING(100); empty stored = the data directory
    WS_IndexNumbers = 49,        // BYTE, default 1
    WS_SearchPauseCount = 50,    // LONG, default 10000
    WS_IndexForumFooters = 51,   // BYTE, default 0
    WS_IndexNewsFooters = 52,    // BYTE, default 0
    WS_AutoStopForum = 53,       // BYTE, default 1
    WS_AutoStopNews = 54,        // BYTE, default 1
    WS_AutoStopMail = 55,        // BYTE, default 1
    WS_Reserved = 56,            // BYTE, 1 when the record was created
};
// Readers of the loaded word-index settings (defaults before WSVars 1).
int32_t wsvarsNumber(int item);
std::string wsvarsIndexRoot();

// The owner of the word-character tables (rows 11-16) registers how they are
// loaded and saved; WSVars 1 calls `load` before reading its own record and
// WSVars 4 calls `save` after writing it. Each returns 1 or 0.
void registerWordTableStore(std::function<int()> load, std::function<int()> save);

// The 200-byte settings area of a Control row, for owners that lay their own
// records over it. readControlArea: 1 read, 2 the row is missing (area left
// as it is), 0 the control file is not available. writeControlArea writes the
// area under a hold, adding the row when it is missing; 1 or 0. Both open and
// close Control around the access.
int readControlArea(int row, uint8_t* area200);
int writeControlArea(int row, const uint8_t* area200);

// True when a procedure is registered under the SemaFore code. Code 206, the
// due-task check, is called by the main frame every 15 seconds and once at
// start-up; code 22 is the welcome shown after the first start.
bool semaForeAvailable(int code);

// StartStop with the clock given (day number, hundredths after midnight + 1).
int32_t StartStop(int mode, int slot, int32_t date, int32_t time);

// The character that IncrementStep takes from a key code, or 0 when the key
// does not count for the locator. Key codes: 48-90 digits and letters
// (letters give lower case), 96-105 the keypad digits, +256 with Shift
// (letters give capitals), 1328-1337 digits with Alt and Shift, 32 the space
// bar, 362/1386 the keypad '*', 367/1391 the keypad '/'. A window turns its
// key events into these codes.
char locatorChar(int key);

// The factory default of an item of a settings row (CtlRowIds, CtlRowGroupB,
// CtlRowGroupC, CtlRowPaths, CtlRowWordSettings): 1 and the value, or 0 when
// the row has no such item.
int factoryDefault(int row, int item, int32_t& number, std::string& text);

} // namespace qb
