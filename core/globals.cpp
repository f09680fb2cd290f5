#include "core/globals.h"

namespace qb {
MemGlobals Mem;
std::string MasIdxPath;
std::string FileTmpName;
std::string FileName;
bool IndexingInProgress = false;
int GlobalResponse = 0;
} // namespace qb
