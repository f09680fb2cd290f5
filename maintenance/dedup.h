// The merging of duplicate persons of the active database: persons that
// share an address (letter case ignored) are merged into one keeper, the
// others' identity strings become its aliases, and the persons are counted
// again. A step machine: step() runs one batch of the current pass.
#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qb {

class Table;
class Recount;

class DuplicateMerge {
public:
    // Passes 1-8; Done and Failed after the end.
    enum Pass : int {
        NotStarted = 0,
        CorrectAddresses = 1,
        FindSuspects = 2,
        CountSuspects = 3,
        ChooseKeepers = 4,
        RecodeMessages = 5,
        RemoveDuplicates = 6,
        Recount = 7,
        Finish = 8,
        Done = 9,
        Failed = 10,
    };

    DuplicateMerge();
    ~DuplicateMerge();
    DuplicateMerge(const DuplicateMerge&) = delete;
    DuplicateMerge& operator=(const DuplicateMerge&) = delete;

    // One batch; false when the work is over (see ok()).
    bool step();
    Pass pass() const { return pass_; }
    bool finished() const { return pass_ == Done || pass_ == Failed; }
    bool ok() const { return pass_ == Done; }
    // The text of the pass under way ("Correcting non wellformed CIS addresses", ...).
    std::string status() const;
    long long done() const { return static_cast<long long>(index_); }
    long long total() const { return static_cast<long long>(total_); }

    // Stopping during passes 5-7 leaves counts wrong: the window asks first.
    bool stopNeedsQuestion() const { return pass_ >= RecodeMessages && pass_ <= Recount; }
    // Ends the run: what is committed stays, the open batch is committed.
    void stop();
    bool stopped() const { return stopped_; }

    // Counts of the window and of the command line.
    uint64_t existing() const { return existing_; }       // persons before
    uint64_t removed() const { return removed_; }         // persons without messages removed
    uint64_t merged() const { return merged_; }           // duplicates merged into a keeper
    uint64_t remaining() const { return remaining_; }     // persons after
    double seconds() const;

    // Changed rows per transaction batch (a commit and a free-space check
    // each), as in every long batch procedure.
    static constexpr int kCommitEvery = 400;
    // Bytes that must be free in the data directory at each commit.
    static constexpr uint64_t kFreeSpace = 5000000;

private:
    struct Suspect {
        std::string address;  // upper case
        uint32_t id = 0;
        std::string last;
        uint32_t count = 0;
        int32_t latest = 0;
    };
    struct Merge {
        uint32_t id = 0;
        uint32_t count = 0;
        std::string last;
        uint32_t keeperId = 0;
        std::string keeperLast;
    };

    bool begin(std::vector<Table*> tables);
    bool commitBatch(bool reopen);
    bool noteChanged(uint64_t rows);
    void fail();
    void next(Pass p);

    void doCorrect();
    void doSuspects();
    void doCount();
    void doKeepers();
    void doRecode();
    void doRemove();
    void doRecount();
    void doFinish();

    Pass pass_ = NotStarted;
    bool mail_ = false;
    bool txn_ = false;
    bool stopped_ = false;
    bool opened_ = false;
    uint32_t forumId_ = 0;
    uint32_t ownId_ = 0;
    int batch_ = 200;
    uint64_t sinceCommit_ = 0;
    std::vector<Table*> txnTables_;     // the tables the pass under way changes
    size_t index_ = 0, total_ = 0;
    std::vector<uint32_t> ids_;        // persons of the pass under way
    std::vector<Suspect> suspects_;
    std::vector<Merge> merges_;
    std::unique_ptr<qb::Recount> recount_;  // pass 7 of a forum or newsgroup database
    uint64_t existing_ = 0, removed_ = 0, merged_ = 0, remaining_ = 0;
    std::chrono::steady_clock::time_point started_;
    double seconds_ = 0;
};

} // namespace qb
