// The start-up sequence of the program, shared by the main window and the
// headless command line, and the saving of the layout at the end.
#pragma once
#include <cstdint>
#include <string>

namespace qb {

// The version the settings are stored for; older settings get new defaults.
constexpr int32_t ProgramVersion = 391;
// Settings of a version below this one have their window positions, sizes
// and list column widths reset.
constexpr int32_t ResetBelowVersion = 390;

struct StartupOptions {
    bool openLastDatabase = false;  // make the database active that was active at the last end
    bool checkTasks = false;        // run the due-task check (SemaFore 206) once
};

struct StartupResult {
    bool ok = false;                  // false: a required step failed; the program does not open
    bool firstRun = false;            // no control file before this start: the welcome follows
    bool upgraded = false;            // settings of an older version were given new defaults
    bool controlFileExisted = false;
    std::string failure;              // the step that failed
};

// Display settings of the reading windows. Start-up fills them from the
// settings (tree display item 16, the date format, the search speed and the
// timing option of the preferences); until then they hold the defaults.
struct ReadingPrefs {
    int treeLabel = 2;                 // node label format of the thread tree, 1-5
    std::string datePicture = "@D17";  // the user's date format
    int searchBatch = 50;              // messages per tick of the standard search
    bool searchTiming = false;         // show the completion time at the end of a search
};
ReadingPrefs& readingPrefs();

// Fixes the program, data, temporary and word-index directories (Mem.*,
// MasIdxPath) for the home directory, loads every settings group and the
// window layout and brings the stored version up to date. A stop of the
// library (qb::ProgramStop) passes through. Creates the home directory when
// it is missing.
// Fills the rendering and reading display settings from the loaded groups.
void applyDisplaySettings();

StartupResult startUp(const std::string& home, const StartupOptions& options = {});

// The start of a command that reads nothing but the database list: the
// program's directories as startUp sets them first, without reading the
// settings (the data and word-index directories keep their defaults). False
// when the home has no database list yet: startUp then makes one.
bool startForDatabaseList(const std::string& home);

// The help file registered at start-up.
const std::string& helpFile();

// End of the program: remembers the active database, saves the window
// positions, sizes and list column widths and settings groups A and B.
// 1 when everything was saved. Closes no table.
int saveLayout();

} // namespace qb
