// The user's settings by name: one table of every setting the preferences
// window and `qbox config` show, with its group, item, type, range and
// default. Values travel as text in the form the command line prints and
// takes ("dd-mm-yyyy", "on", "#C0C0C0", "Arial,8", "22:30", a path ...).
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qb {

// Where a setting is stored: the settings groups of the control file.
enum class SettingGroup { A, B, C, Paths, Word };

enum class SettingType {
    Number,     // a whole number between min and max
    Switch,     // on/off; stored 1/0, or 0/1 when `inverted`
    Choice,     // one of the named stored numbers of `choices`
    Colour,     // #RRGGBB (stored with red in the low byte)
    Font,       // "Name,Size"
    Directory,  // an absolute path of an existing directory
    Text,       // free text up to `max` characters
    Clock,      // a time of day HH:MM, or "off"
};

struct SettingDef {
    const char* name;   // the stable name of the command line
    const char* page;   // the preferences page it is shown on
    const char* label;  // the label in the preferences window
    SettingGroup group;
    int item;
    SettingType type;
    int32_t min = 0, max = 0;
    std::vector<std::pair<int32_t, const char*>> choices = {};
    bool inverted = false;
};

// Every setting, in the order of the preferences pages.
const std::vector<SettingDef>& settingDefs();
// The setting of this name (letter case ignored), or nullptr.
const SettingDef* findSetting(const std::string& name);
// The names of the preferences pages, in order.
std::vector<std::string> settingPages();

// The value in the loaded settings groups, and the factory default, as text.
std::string settingValue(const SettingDef& d);
std::string settingDefault(const SettingDef& d);

// Checks `value` and puts it into the loaded group (nothing is saved yet).
// False with the reason in `error` when the value is not valid; nothing
// changes then. Directories are checked as at start-up: the data and index
// directories must exist, the temporary directory is created when missing.
bool setSetting(const SettingDef& d, const std::string& value, std::string& error);

// Loads every group from the control file (1), or 0 when it is not available.
int loadSettingGroups();
// Writes one group in a transaction of its own; 1 or 0.
int saveSettingGroup(SettingGroup g);

// Takes the loaded values into the running program: the data, temporary and
// word-index directories (a directory that does not exist is not taken, as at
// start-up), the speeds and the display settings. Returns the messages of the
// directories that could not be taken (empty when all were).
std::vector<std::string> applySettings();

} // namespace qb
