// The word indexer: the word list (WordList) and the master index of
// (message, word) pairs (MasIdx) of the active database, built incrementally
// from the message texts by a step machine, one batch per call.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "wordsearch/wordbreak.h"
#include "wordsearch/wordtable.h"

namespace qb {

// Recommendations of WSIndexFixup.
enum IndexAdvice : uint8_t { AdvicePartial = 0, AdviceFull = 1, AdviceCleanup = 2, AdviceNone = 99 };
// Modes of an indexing run.
enum IndexMode : int { ModePartial = 0, ModeFull = 1, ModeCleanupOnly = 2 };

// FOR:LASTMSGID: the MsgText position of the last indexed message; blank
// (four spaces) or 0 when nothing is indexed.
constexpr uint32_t kBlankPosition = 0x20202020u;
inline bool positionBlank(uint32_t p) { return p == 0 || p == kBlankPosition; }

// The recommended action for the active database. quickCheck is skipped
// when first is 0 and second is 1 ("Recount"). May correct position and count.
int WSIndexFixup(uint8_t& result, int positionLength, uint32_t& position, uint32_t& indexedCount, int first,
                 int second);

// Advice shown by the indexing window.
std::string adviceText(uint8_t advice);

// The version of the word rules (kWordRuleVersion) under which the active
// database's word index was built, kept in a file beside its master index;
// 1 when there is no such file.
std::string wordRuleVersionFile();
int storedWordRuleVersion();
// Stores the current version; false (after a message) when the file cannot be written.
bool storeWordRuleVersion();

// Words of the shipped ignore list (compiled into the library).
std::vector<std::string> shippedStopWords();
// Fills the ignore list from the shipped list when it holds no word.
// Opens and closes StopWords itself. The number of words added.
int seedStopWords();

// Sorts (message << 32 | word) pairs gathered message by message: each
// message's run on its own while the messages come in ascending order (as
// the texts are read), all of them at once when they do not.
void sortPairs(std::vector<uint64_t>& pairs);

class WordIndexer {
public:
    enum class Phase {
        Cleanup, RemoveByWord, PurgeCopy, PurgeBack, PurgeKeys, DeleteWordRows,
        Prepare, Index, FlushPairs, FlushKeys, FlushWords, Done
    };

    // The arguments are those of INDEXFILE1; position, needsUpdate and
    // indexedCount are the caller's FOR fields, updated in place by finish().
    WordIndexer(int mode, int batch, uint32_t& position, uint32_t forumId, uint8_t kind, int32_t& needsUpdate,
                uint32_t& indexedCount);
    ~WordIndexer();
    WordIndexer(const WordIndexer&) = delete;
    WordIndexer& operator=(const WordIndexer&) = delete;

    // Set-up: settings, the warning of a full run, tables. False when the run
    // ends at once (finish() then gives 2).
    bool start();
    // One batch. False when the run has nothing more to do.
    bool step();
    // Cancel: honoured between batches of indexing.
    void cancel() { cancelled_ = true; }
    // The end of the run: final flush, position and count, the count key.
    // 1 when the run ended without error and the count key was rebuilt, else 2.
    int finish();

    Phase phase() const { return phase_; }
    const std::string& status() const { return status_; }
    long long done() const { return done_; }
    long long total() const { return total_; }
    bool failed() const { return failed_; }
    uint32_t indexedThisRun() const { return indexedRun_; }
    uint32_t movedWords() const { return movedTotal_; }
    uint32_t pairsWritten() const { return pairsWritten_; }
    int64_t wordCount() const { return wordRows_; }
    std::string title() const;

private:
    struct Entry {
        int32_t id = 0;
        int32_t count = 0;
        int32_t stored = 0;   // count as written to WordList
        uint32_t lastText = 0;
        uint8_t status = 0;   // 1 in WordList, 2 new, 3 ignored
        bool dirty = false;
    };

    void setPhase(Phase p, const std::string& text);
    void fail();
    void openTables();
    void closeTables();
    bool lockForRemoval();
    void unlockRemoval();
    void beginRemoval(int64_t rowsToRemove, Phase after);
    bool stepCleanup();
    bool stepRemoveByWord();
    bool stepPurgeCopy();
    bool stepPurgeBack();
    bool stepPurgeKeys();
    bool stepDeleteWordRows();
    bool stepPrepare();
    bool stepIndex();
    bool stepFlushPairs(bool all);
    bool stepFlushKeys();
    bool stepFlushWords(bool all);
    void afterFlush();
    void beginIndexChange();
    void endIndexChange();
    bool anyDirty() const;
    struct BatchText;
    void breakText(BatchText& t, bool numbers);
    void lookUpWords(size_t texts);
    void onWord(std::string_view word, uint64_t hash);
    void moveToIgnoreList(std::string_view word, Entry& e);
    bool rollbackPairs();
    void rollbackWords();
    // A flush that could not be taken back: says so, and the next run starts
    // over from the last saved position.
    void flushNotTakenBack(const std::string& table, uint32_t msg);
    void resetToFullBuild();
    void renewMasterIndexFile();
    void restartAsFullBuild(const std::string& operation);
    std::string headingOf(uint32_t threadNumber);

    int mode_, batch_;
    uint32_t& position_;
    uint32_t forumId_;
    uint8_t kind_;
    int32_t& needsUpdate_;
    uint32_t& indexedCount_;

    WordIndexSettings settings_;
    bool autoStop_ = true, dropFooter_ = false;
    Phase phase_ = Phase::Prepare, afterRemoval_ = Phase::Prepare;
    std::string status_;
    long long done_ = 0, total_ = 0;
    bool started_ = false, tablesOpen_ = false, cancelled_ = false, failed_ = false, endOfTexts_ = false;
    bool removalLocked_ = false, purgeTableLocked_ = false;
    bool prepared_ = false, wordListHadRows_ = false, masHadRows_ = false, savedPosition_ = false;
    bool indexChanging_ = false;  // a flush has begun and the index is not whole until it ends
    uint8_t savedCircumflex_ = 0;

    // Position of the text last read, and the position and count as of the last flush.
    int64_t lastPos_ = 0;
    uint32_t count_ = 0;            // cumulative indexed count
    int64_t flushedPos_ = 0;
    uint32_t flushedCount_ = 0;
    uint32_t textSeq_ = 0, indexedRun_ = 0, movedTotal_ = 0, pairsWritten_ = 0;
    uint32_t currentMsg_ = 0;
    long long textsToDo_ = 0;
    int32_t nextWordId_ = 1;
    int64_t wordRows_ = 0;

    using Words = WordTable<Entry>;
    void newWordRow(Words::Index at);
    Words cache_;
    std::unordered_map<uint32_t, std::string> headings_;
    // The texts read by a batch, and their words once broken: upper-cased
    // one after another, and where each lies among them with its hash.
    struct BatchText {
        uint32_t msg = 0;
        std::string heading, body;
        size_t bodyBegin = 0, bodyEnd = 0;
        size_t firstWord = 0, endWord = 0;  // its words in batchWordAt_
    };
    struct TextWord {
        uint32_t at, length;
        uint64_t hash;
    };
    std::vector<BatchText> batchTexts_;
    std::string batchWords_;
    std::vector<TextWord> batchWordAt_;
    std::vector<uint64_t> pairs_;
    size_t pairAt_ = 0;
    bool pairsAppend_ = true;
    bool pairPositionsAreKeys_ = false;
    std::vector<uint32_t> flushMessages_;  // messages of the pairs written by this flush
    int64_t firstPairPos_ = 0;
    uint32_t pairsThisFlush_ = 0;
    std::vector<Words::Index> flushWordKeys_;  // in word order
    size_t wordAt_ = 0;
    bool wordsAppend_ = false;
    std::vector<std::pair<Words::Index, Entry>> wordsHandled_;  // as they were before the flush

    // Words whose index rows are to be removed.
    std::vector<int32_t> moved_;
    std::unordered_set<uint32_t> movedSet_;
    int64_t movedRows_ = 0;
    size_t removeAt_ = 0;
    int64_t scanPos_ = 0;
};

// Runs a whole indexing of the active database (command line and scheduled
// tasks; the window drives WordIndexer itself). Returns 1 or 2 as finish().
int INDEXFILE1(int mode, int batch, int positionLength, uint32_t& position, uint32_t forumId, uint8_t kind,
               int32_t& needsUpdate, uint32_t& indexedCount);

} // namespace qb

namespace qb {

// What indexActiveDatabase did.
struct IndexSummary {
    uint8_t advice = AdviceNone;  // the recommendation before the run
    int mode = -1;                // the mode run; -1 none
    int result = 0;               // INDEXFILE1's result; 0 when nothing ran
    uint32_t messages = 0;        // messages indexed in this run
    int64_t words = 0;            // rows of the word list afterwards
};

// Reads the active database's Forums row, takes the recommendation (or a full
// run when full is set), runs the indexer and writes the row back (held).
// False when the database row cannot be read or written.
bool indexActiveDatabase(bool full, int batch, IndexSummary& summary);

// Reads and writes back the indexer's fields of the active database's row.
bool readIndexFields(uint32_t& position, uint32_t& count, int32_t& needsUpdate);
bool writeIndexFields(uint32_t position, uint32_t count, int32_t needsUpdate);

} // namespace qb
