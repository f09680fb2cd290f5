// The active-database globals and the directories of the installation.
#pragma once
#include <cstdint>
#include <string>

namespace qb {

struct MemGlobals {
    std::string Net;        // program (home) directory
    std::string FileDir;    // data directory
    std::string TempDir;    // temporary directory
    std::string Dirnamn;    // directory name of the active database: "F" + FOR:DIRNUMBER
    uint32_t ForumNumber = 0;  // FOR:ID of the active database
    uint8_t ForumType = 0;     // 1 forum, 2 mail, 3 newsgroup
    std::string Description;   // FOR:DESCRIPTION of the active database
    uint8_t ForumCheck = 0;    // FOR:DUMMY of the active database
    uint32_t PersonID = 0;     // FOR:PERSONID: the user's own person in a mail database
    int32_t WordListIndexNeedsUpdate = 0;  // FOR:WORDLISTINDEXNEEDSUPDATE
    int DoTask = 0;            // 2 or 6 while a scheduled task runs unattended
    int ScrRes = 0;            // 1 when the frame is at least 450 wide or 260 high
};

extern bool IndexingInProgress;  // set while the word indexer runs
extern int GlobalResponse;       // response code of an update window to its browse

extern MemGlobals Mem;
extern std::string MasIdxPath;   // word-index directory
extern std::string FileTmpName;  // full name of a reader file (tables 11, 12, 20, 21, 31, 40)
extern std::string FileName;     // name of the table being opened

inline bool unattended() { return Mem.DoTask == 2 || Mem.DoTask == 6; }

} // namespace qb
