// The import run: the pre-import pass turns the selected files into records
// of the temporary import file, the import pass stores them database by
// database. The run is a step machine; step() does one batch of the current
// state and returns, so a window timer or a command-line loop drives it.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "import/parser.h"

namespace qb {

class KeywordRun;

// Free space check: 0 when the drive of `path` has at least `size` free bytes
// or the user chose to go on; otherwise the number of free bytes (the user
// cancelled, or no question could be asked in an unattended run).
uint64_t CheckSpace(const std::string& path, uint64_t size);

// Free bytes on the drive of path (the largest value when it cannot be told).
uint64_t freeBytes(const std::string& path);

// A number in picture N13: digits grouped by commas, right-aligned in 13.
std::string pictureN13(uint64_t n);

enum class ImportState {
    Start,
    NextFile,
    Convert,
    QueueEmpty,
    NextDatabase,
    ImportRecords,
    CarbonCopies,
    CountPersons,
    CountThreads,
    CountSections,
    KeyWords,
    BuildSavedKeys,
    Finished,
};

struct ImportTotals {
    uint64_t stored = 0;       // messages stored
    uint64_t skipped = 0;      // messages skipped (dropped, refused, duplicates)
    uint64_t tempRecords = 0;  // records in the temporary import file
    uint64_t rowsBefore = 0;   // rows of the current target's message table before the run
};

class ImportRun {
public:
    // The files are the queue of the pre-import pass; empty: built from the
    // settings' selection method at the start.
    explicit ImportRun(ImportSettings settings, std::vector<std::string> files = {});
    ~ImportRun();
    ImportRun(const ImportRun&) = delete;
    ImportRun& operator=(const ImportRun&) = delete;

    // One batch of the current state. False once the run has ended.
    bool step();
    bool finished() const { return state_ == ImportState::Finished; }
    // The run ended with an error (a condition that ended it early). A run
    // stopped by the user is not failed, but stopped() is set.
    bool failed() const { return failed_; }
    bool stopped() const { return stopped_; }

    // The user's stop. During the import pass the question about the counts is
    // asked first; true when the run was stopped.
    bool requestStop();

    ImportState state() const { return state_; }
    const ImportTotals& totals() const { return totals_; }
    const ImportContext& context() const { return ctx_; }

    // What the progress window shows.
    std::string heading() const;        // reader + " Import Processing"
    std::string windowTitle() const;    // "Scheduled import" when unattended
    const std::string& progressText() const { return progressText_; }
    const std::string& importingFrom() const { return from_; }
    const std::string& importingTo() const { return to_; }
    // Fraction of the current file (pre-import) or of the current database's
    // records (import pass), 0..1.
    double currentFraction() const;
    // Fraction of the whole pass: files done (pre-import) or databases done.
    double overallFraction() const;
    // Files of the queue and how many are done.
    size_t fileCount() const { return files_.size(); }
    size_t filesDone() const { return fileIndex_; }
    // Temporary records gone through by the import pass.
    uint64_t recordsDone() const { return dbRecordsDone_; }
    // True while the import pass (from the first database on) is under way.
    bool importPassRunning() const {
        return state_ >= ImportState::NextDatabase && state_ <= ImportState::BuildSavedKeys;
    }
    // "The import process has finished!" or "No messages to import!" once
    // finished (empty before, and when the run ended by an error).
    const std::string& endText() const { return endText_; }
    int64_t elapsedSeconds() const;

    // Called once when the run ends (the main menu's notice).
    std::function<void()> onFinished;
    // Called whenever progressText changes.
    std::function<void(const std::string&)> onProgressText;

private:
    void doStart();
    void doNextFile();
    void doConvert();
    void doQueueEmpty();
    void doNextDatabase();
    void doImportRecords();
    void doCarbonCopies();
    void doCountPersons();
    void doCountThreads();
    void doCountSections();
    void doKeyWords();
    void doBuildSavedKeys();
    bool buildSavedKeys();

    void setText(const std::string& t);
    void finish(bool error);
    void endDatabase();
    void nextDatabase();
    void recountMailTopic();
    bool openDatabaseTables();
    void closeDatabaseTables();
    bool beginTxn();
    bool commitTxn();
    bool diskCheck(bool importPass);
    bool temporaryWritesFailed();
    bool sectionFor(uint32_t& secSysId);
    void releaseControl();
    void updateForumsRow();
    void noteCountMemoryError();

    ImportSettings settings_;
    ImportContext ctx_;
    ImportState state_ = ImportState::Start;
    std::vector<std::string> files_;
    size_t fileIndex_ = 0;
    std::string currentFile_;
    uint64_t currentFileSize_ = 0;
    std::unique_ptr<Parser> parser_;
    ImportTotals totals_;
    bool failed_ = false, stopped_ = false;
    bool controlLocked_ = false, controlOpen_ = false, tempOpen_ = false, savedOpen_ = false,
         forumsOpen_ = false;
    std::string progressText_, from_, to_, endText_;
    std::chrono::steady_clock::time_point started_;
    int32_t startDate_ = 0, startTime_ = 0;
    uint32_t previousDb_ = 0;
    int preBatch_ = 300, importBatch_ = 500;

    // The import pass.
    size_t dbIndex_ = 0;               // entry of ctx_.targets being imported
    std::vector<uint32_t> dbOrder_;    // IDs of the databases to import into
    uint8_t dbKind_ = 0;
    std::vector<int> dbTables_;        // table numbers opened for the database
    std::vector<class Table*> txnTables_;
    bool txnOpen_ = false;
    bool recordsStarted_ = false;
    uint64_t dbRecords_ = 0, dbRecordsDone_ = 0;
    uint64_t sinceCommit_ = 0;
    uint64_t storedAtLastRefresh_ = 0;
    bool lastKeyValid_ = false;
    uint32_t lastMsgNumber_ = 0;
    bool savedAppended_ = false;
    bool countingLost_ = false;
    bool ccStarted_ = false;
    uint32_t lastCcMail_ = 0;
    bool lastCcMailFound_ = false;
    // Sections of the open database: (number, description) -> SEC:SECSYSID.
    std::map<std::pair<uint8_t, std::string>, uint32_t> sections_;
    uint32_t firstSection_ = 0;
    // Count lists of the open database.
    std::map<uint32_t, std::pair<uint32_t, uint32_t>> personCounts_;  // id -> (from, to)
    std::map<uint32_t, uint32_t> threadCounts_;
    std::map<uint32_t, uint32_t> sectionCounts_;
    // Position of the count phases.
    bool countStarted_ = false;
    uint32_t countResume_ = 0;
    // The key words of the database, run over the texts this run stored.
    uint64_t storedBeforeDb_ = 0;
    std::unique_ptr<KeywordRun> keywords_;
};

// True while an import of this process or another one has the temporary
// files (which the database merge shares) in use.
bool temporaryFilesInUse();

enum class ImportOutcome { Done, Failed, Stopped };

// Loads import definition `id` (Batch and FileList rows) and runs it to its
// end, as a scheduled task does. A definition that fails its checks gives
// Failed with the check's text in *failure (shown as a box unless the run is
// unattended).
ImportOutcome runImportDefinition(uint32_t id, ImportTotals* totals = nullptr,
                                  std::string* failure = nullptr);

} // namespace qb
