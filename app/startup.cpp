#include "app/startup.h"

#include "reading/render.h"

#include <filesystem>
#include <system_error>

#include "core/access.h"
#include "core/fixedstr.h"
#include "core/globals.h"
#include "core/readbatch.h"
#include "core/registry.h"
#include "core/settings.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"

namespace fs = std::filesystem;

namespace qb {

namespace {

std::string registeredHelpFile;

// A directory name as compared and used: without trailing blanks and slashes.
std::string clipDir(const std::string& s) {
    std::string d(rtrim(s));
    while (d.size() > 1 && d.back() == '/') d.pop_back();
    return d;
}

bool enterable(const std::string& dir) {
    std::error_code ec;
    return !dir.empty() && dir[0] == '/' && fs::is_directory(dir, ec);
}

void pathNotFound(const std::string& what, const std::string& path, const std::string& hint) {
    ui().message("Path not found!", what + path + "\r\n" + hint, Icon::Exclamation);
}

StartupResult failed(StartupResult r, const std::string& step) {
    r.ok = false;
    r.failure = step;
    return r;
}

} // namespace

const std::string& helpFile() { return registeredHelpFile; }

ReadingPrefs& readingPrefs() {
    static ReadingPrefs p;
    return p;
}

namespace {
// Steps 1 and 2 of the start: the help file, the directories as they are
// before the settings are read, and no active database.
void setProgramDirectory(const std::string& net) {
    registeredHelpFile = net + "/QUILLBOX.HLP";
    Mem.Net = net;
    Mem.TempDir = net + "/TEMP";
    Mem.FileDir = net;
    MasIdxPath = net;
    clearActiveDatabase();
}
} // namespace

bool startForDatabaseList(const std::string& home) {
    std::error_code ec;
    if (home.empty()) return false;
    const std::string net = clipDir(fs::absolute(home, ec).lexically_normal().string());
    if (ec) return false;
    setProgramDirectory(net);
    setEngineDirectory(net + "/CFG");
    return fs::is_regular_file(tableFileName(Forums.number()), ec);
}

StartupResult startUp(const std::string& home, const StartupOptions& options) {
    StartupResult r;

    // The program directory.
    std::error_code ec;
    if (home.empty()) return failed(r, "no home directory given");
    fs::create_directories(home, ec);
    if (!fs::is_directory(home, ec)) return failed(r, "cannot use home directory " + home);
    std::string net = fs::absolute(home, ec).lexically_normal().string();
    if (ec) return failed(r, "cannot use home directory " + home);
    net = clipDir(net);

    // 1. The help file. 2. Directories and a cleared active database.
    setProgramDirectory(net);

    // 3. The configuration directory (a failed creation stops the program).
    ExistPath(3, 0, net + "/CFG", "", true);
    setEngineDirectory(net + "/CFG");

    // 4. Whether the control file exists already.
    r.controlFileExisted = fs::exists(tableFileName(Control.number()), ec);

    // Control stays open over the sequence, so that each settings group is
    // not a file open of its own.
    OP_CLOSE(OpOpenShared, Control.number());
    struct CloseControl {
        ~CloseControl() { OP_CLOSE(OpClose, Control.number()); }
    } closeControl;

    // 5. Temporary and data directories.
    std::string text;
    if (!AutoPath(1, 0, text)) return failed(r, "the directory settings cannot be read");
    AutoPath(3, 17, text);
    std::string temp = clipDir(text);
    if (temp.empty() || temp[0] != '/') temp = net + "/TEMP";  // a relative setting cannot be used
    ExistPath(3, 0, temp, "", true);
    if (enterable(temp)) {
        Mem.TempDir = temp;
    } else {
        ExistPath(3, 0, net + "/TEMP", "", true);
        Mem.TempDir = net + "/TEMP";
    }
    AutoPath(3, 18, text);
    const std::string data = clipDir(text);
    if (!data.empty() && data != clipDir(Mem.FileDir)) {
        if (enterable(data))
            Mem.FileDir = data;
        else
            pathNotFound("The path to the data files cannot be found!\r\n", data,
                         "Check data file path in Preferences\r\n");
    }

    // 6. The word-index directory.
    MasIdxPath = Mem.FileDir;
    int32_t number = 0;
    if (!WSVars(1, 0, number, text)) return failed(r, "the word index settings cannot be read");
    const std::string root = clipDir(wsvarsIndexRoot());
    if (!root.empty() && root != clipDir(MasIdxPath)) {
        if (enterable(root))
            MasIdxPath = root;
        else
            pathNotFound("The path to the word indexing files cannot be found!\r\n", root,
                         "Check word indexing path in Preferences\r\n");
    }

    // 7. Configuration, speed, window positions and list columns: their rows
    // are read in one read transaction (a row that needs writing ends it).
    int16_t x = 0, y = 0, w = 0, h = 0;
    std::vector<int16_t> widths;
    {
        beginReadBatch({&Control});
        struct EndBatch {
            ~EndBatch() { endReadBatch({&Control}); }
        } endBatch;
        if (!Konfig(1, 0, number, text) || !Konfig(6, 0, number, text) || !Konfig(23, 0, number, text))
            return failed(r, "the configuration cannot be read");
        SpeedVal(2, 0);
        if (!WindowPos(1, 0, x, y, w, h) || !WindowPos2(1, 0, x, y, w, h))
            return failed(r, "the window positions cannot be read");
        if (!ListCol(1, 0, widths)) return failed(r, "the list column widths cannot be read");
    }

    // 8. The stored version.
    const int32_t version = konfigNumber(11);
    if (version < ResetBelowVersion) {
        if (r.controlFileExisted) {
            ui().message("Upgrading to version 3.91",
                         "This new version needs new default values! All window positions, window sizes and list "
                         "box column widths will be reset to default!",
                         Icon::Information);
            r.upgraded = true;
        } else if (version == 0) {
            r.firstRun = true;
        }
        WindowPos(5, 0, x, y, w, h);
        WindowPos2(5, 0, x, y, w, h);
        ListCol(5, 0, widths);
        if (!WindowPos(4, 0, x, y, w, h) || !WindowPos2(4, 0, x, y, w, h) || !ListCol(4, 0, widths))
            return failed(r, "the window positions cannot be saved");
    }
    if (version < ProgramVersion) {
        number = ProgramVersion;
        Konfig(2, 11, number, text);
        if (!Konfig(4, 0, number, text)) return failed(r, "the configuration cannot be saved");
    }

    applyDisplaySettings();

    // The database that was active at the last end.
    if (options.openLastDatabase && !unattended()) {
        const int32_t last = konfigNumber(6);
        if (last > 0) selectDatabase(static_cast<uint32_t>(last));
    }

    // 9. Due scheduled tasks.
    if (options.checkTasks) SemaFore(206);

    r.ok = true;
    return r;
}

void applyDisplaySettings() {
    RenderSettings& rs = renderSettings();
    rs.mailTarget = konfigNumber(61);
    rs.forumTarget = konfigNumber(62);
    rs.newsTarget = konfigNumber(63);
    rs.width = konfigNumber(58);
    rs.wrap = konfigNumber(60);
    ReadingPrefs& rp = readingPrefs();
    if (int32_t label = konfigNumber(16); label >= 1 && label <= 5) rp.treeLabel = label;
    rp.searchTiming = konfigNumber(32) != 0;  // the timing option of the preferences
    // The standard search reads as many messages per tick as its speed step says.
    if (int32_t batch = SpeedVal(3, 31); batch > 0) rp.searchBatch = batch;
    std::string name, picture;
    SetDate(name, picture);
    if (!picture.empty()) rp.datePicture = picture;
}

int saveLayout() {
    int32_t number = static_cast<int32_t>(Mem.ForumNumber);
    std::string text;
    Konfig(2, 6, number, text);
    int16_t x = 0, y = 0, w = 0, h = 0;
    std::vector<int16_t> widths;
    int ok = Konfig(4, 0, number, text);
    ok &= Konfig(9, 0, number, text);
    ok &= WindowPos(4, 0, x, y, w, h);
    ok &= WindowPos2(4, 0, x, y, w, h);
    ok &= ListCol(4, 0, widths);
    return ok;
}

} // namespace qb
