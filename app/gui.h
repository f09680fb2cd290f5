// The windows and the printed report live in a library of their own
// (libqbgui.so next to the program). qbox loads it only for what needs it,
// the main window and the print command, so that the other commands start
// without the GUI libraries. A program that links the windows in (the
// tests) has the entries from its start.
#pragma once
#include <cstdint>
#include <string>

namespace qb {

// What to print: a scope of the active database (see PrintMsg).
struct PrintRequest {
    uint8_t scope = 6;
    uint32_t messageId = 0;
    int32_t fromDate = 0, toDate = 0;
    uint32_t flags = 0;
};

struct GuiEntries {
    int (*runMainWindow)(const std::string& home) = nullptr;
    // The report into a PDF file without a screen: messages printed, -1 on failure.
    long long (*printPdf)(const std::string& path, const PrintRequest& r) = nullptr;
};

// Filled by the window library when it is loaded.
GuiEntries& guiEntries();

// The entries, the window library loaded first when they are missing;
// nullptr (after a message on stderr) when it cannot be loaded.
const GuiEntries* loadGui();

} // namespace qb
