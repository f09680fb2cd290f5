// The purge of the active database as a step machine: duplicate mail is
// marked (mail databases), aged threads are marked (forum and newsgroup
// databases, on request), everything with status delete is removed with its
// text and its word index rows, the rows that referred to removed ones are
// repaired, and the database is recounted. A database with status delete is
// emptied of everything not kept and removed when the user agrees.
//
// Every batch is one transaction or several: a message, its text and its
// word index rows go together, so a purge killed at any point leaves the
// tables as after the last commit, and the next purge finishes the job. The
// word counts of the removed index rows are written once, after the
// deletions; until then the word list carries the recount mark of
// wordcounts.h, and the next purge or count recounts it.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/fixedstr.h"
#include "core/tables.h"
#include "maintenance/batchtxn.h"
#include "maintenance/counting.h"
#include "maintenance/wordcounts.h"

namespace qb {

// One mail of the duplicate candidate list.
struct MailCandidate {
    uint32_t mailId = 0;
    std::string subject;  // upper case, 50
    int32_t date = 0, time = 0;
    uint32_t fromId = 0, toId = 0;
    uint8_t status = 0;
    std::string initStr;  // the first 30 characters of the text, blank without one
    bool duplicate = false;
};

// Sorts the candidates (stable: entries that agree in every field keep their
// order) and marks the duplicates; sameText(a, b) compares two mails' full
// texts. The number marked.
size_t markDuplicateMail(std::vector<MailCandidate>& list, const std::function<bool(uint32_t, uint32_t)>& sameText);

class Purge {
public:
    enum class Stage {
        Start,
        DupTimes, DupIdentify, DupCompare, DupMark,
        AgedCollect, AgedMark,
        ObsoleteThreads, ObsoleteMessages, ObsoleteSections,
        ObsoletePersons, ObsoleteMail, WordCounts, CarbonCopies,
        SearchIndexes, KeyWordCounts, OrphanAliases, WordList,
        Counting, RemoveDatabase, Done, Failed
    };

    // ageWeeks: the age rule for threads (0 none); batch: rows per step, 0
    // takes the speed setting. The database is the active one at start.
    explicit Purge(int ageWeeks = 0, int batch = 0);
    ~Purge();
    Purge(const Purge&) = delete;
    Purge& operator=(const Purge&) = delete;

    // One batch. False when the purge is over (see result()).
    bool step();
    // Ends between batches, keeping what is committed.
    void stop();

    Stage stage() const { return stage_; }
    bool finished() const { return stage_ == Stage::Done || stage_ == Stage::Failed; }
    int result() const { return stage_ == Stage::Done ? 1 : stage_ == Stage::Failed ? 2 : 0; }
    const std::string& status() const { return status_; }
    // The reason of a failed purge, for the command line ("" when unknown).
    const std::string& reason() const { return reason_; }
    long long done() const { return done_; }
    long long total() const { return total_; }

    uint64_t before() const { return before_; }
    uint64_t deleted() const { return deleted_; }
    uint64_t after() const { return after_; }
    uint64_t duplicatesMarked() const { return dupMarked_; }
    uint64_t agedThreads() const { return agedMarked_; }
    bool databaseRemoved() const { return databaseRemoved_; }
    const CountTotals& counts() const;
    // True for the steps of the count (the window shows the count labels then).
    bool counting() const { return stage_ == Stage::Counting; }

private:
    struct ThreadRef {
        uint32_t number;
        Str<10> alpha;
    };

    void enter(Stage s);
    void next();
    void fail(const std::string& why = {});
    void openTables();
    void closeTables();
    bool spaceFor(uint64_t bytes);
    bool beginBatch();
    bool endBatch();
    bool scanBatch(Table& t, const std::function<int()>& row, const char* failure);
    bool deleteCurrentMessage();
    bool markBeforeFirstIndexRow();
    bool messageExists(uint32_t number);

    bool stepStart();
    bool stepDupTimes();
    bool stepDupIdentify();
    bool stepDupCompare();
    bool stepDupMark();
    bool stepAgedCollect();
    bool stepAgedMark();
    bool stepThreadList();
    bool stepObsoleteMessages();
    bool stepObsoletePersons();
    bool stepCarbonCopies();
    bool stepSearchIndexes();
    bool stepKeyWordCounts();
    bool stepOrphanAliases();
    bool stepWordCounts();
    bool stepWordList();
    bool stepCounting();
    bool stepRemoveDatabase();

    int ageWeeks_;
    int batch_;
    uint8_t kind_ = 0;
    uint32_t forumId_ = 0;
    bool removeAll_ = false;       // the database has status delete and the user agreed
    bool indexed_ = false;         // the database has a word index
    bool opened_ = false;
    Stage stage_ = Stage::Start;
    std::vector<Stage> plan_;
    size_t planIndex_ = 0;
    std::string status_, reason_;
    long long done_ = 0, total_ = 0;
    uint64_t before_ = 0, deleted_ = 0, after_ = 0, dupMarked_ = 0, agedMarked_ = 0;
    uint64_t indexedDeleted_ = 0;  // deleted messages that had word index rows
    bool databaseRemoved_ = false;
    BatchTxn txn_;

    // Per stage
    int64_t position_ = 0;
    bool resume_ = false;
    std::vector<ThreadRef> threads_;
    std::vector<uint32_t> ids_;
    size_t index_ = 0;
    std::unordered_set<uint32_t> seen_;
    std::vector<MailCandidate> candidates_;
    MailCandidate previous_;
    bool previousAdded_ = false;
    MailRec lastMail_{};
    std::unordered_map<int32_t, int32_t> wordAdjust_;  // word ID -> index rows removed
    bool wordsMarked_ = false;     // this purge has set the recount mark
    bool wordsRecount_ = false;    // the mark of an earlier run was found
    std::unique_ptr<WordCountWriter> wordWriter_;
    std::unordered_set<uint32_t> codeIds_;
    std::map<uint32_t, uint32_t> codeCounts_;
    uint32_t lastChecked_ = 0;
    bool lastExists_ = false;
    bool lastPersonKnown_ = false;
    std::unique_ptr<Recount> recount_;
};

} // namespace qb
