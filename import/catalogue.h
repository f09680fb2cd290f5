// The reader catalogue, the file queue of an import and the import
// definitions (Batch and FileList rows) that keep a set of choices for the
// task manager.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "import/parser.h"

namespace qb {

struct ReaderEntry {
    int number = 0;            // BAT:FILETYPE
    std::string name;          // the name the parsers are registered under
    std::string mask;          // default file mask(s), ";"-separated
    bool forum = false, mail = false, news = false;  // message kinds its files hold
    bool needsForumDb = false; // its files do not name the forum: one is chosen for the run
    bool optionalForumDb = false;  // a forum may be chosen for its messages that name none
    bool takesForumDb() const { return needsForumDb || optionalForumDb; }
};

constexpr int DefaultReaderNumber = 17;  // "WinCIM"

// The readers offered, in catalogue order (the placeholders left out).
const std::vector<ReaderEntry>& readerCatalogue();
// The entry of a stored number (0 gives the default reader); nullptr for a
// number that is not in the catalogue.
const ReaderEntry* readerByNumber(int number);
// The entry of a name (letter case and trailing blanks ignored), or nullptr.
const ReaderEntry* readerByName(const std::string& name);
// The name of a stored number; 0 gives "WinCIM", an unknown number "".
std::string readerName(int number);
// Puts the reader's default mask into `masks`; an unknown number leaves it.
void defaultMask(int number, std::string& masks);
// Sets the reader, its default mask and the kinds it delivers.
void chooseReader(ImportSettings& s, const ReaderEntry& r);

// ";"-separated list: elements without surrounding blanks, empty ones left out.
std::vector<std::string> splitList(const std::string& list);
std::string joinList(const std::vector<std::string>& items);

// The files of the pre-import pass by the settings' selection method: the
// tree below the top directory (depth-first, directory by directory), one
// directory, or the selected files. Masks ignore letter case. Directory
// entries are taken in name order so that a run is repeatable.
std::vector<std::string> buildFileQueue(const ImportSettings& s);

// The outcome of checking the settings before a start.
struct SetupCheck {
    bool ok = true;
    std::string title, text;
};

// The checks of the wizard's Start (rules 1-3). `checkDatabases` adds the
// checks of a stored definition (its databases still exist); Forums must be
// open then.
SetupCheck checkSettings(const ImportSettings& s, bool checkDatabases = false);

// Adds a Batch row from the settings and one FileList row per mask (directory
// methods) or selected file, in one transaction. Returns the new BAT:ID, 0
// when the definition could not be kept (after a message; the import is not
// stopped by that). Opens and closes Batch, FileList and Control itself.
uint32_t saveDefinition(const ImportSettings& s);
// Description of a definition saved now.
std::string savedDescription();

// Loads definition `id` into the settings (reader, kinds, databases, method,
// path, masks or files). The checks of checkSettings(.., true) are run; a
// failing check is in `check`. False when the definition does not exist or
// fails a check.
bool loadDefinition(uint32_t id, ImportSettings& s, SetupCheck& check);

} // namespace qb
