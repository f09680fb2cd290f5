#include "wordsearch/indexer.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "core/access.h"
#include "core/bulkappend.h"
#include "core/globals.h"
#include "core/readbatch.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"

namespace qb {

// The text of data/stopwords.txt, compiled in.
extern const char kShippedStopWords[];

namespace {

void tell(const std::string& title, const std::string& text) {
    if (!unattended()) ui().message(title, text, Icon::Exclamation);
}

// Above this many buffered pairs the buffer is written out (32 MB).
constexpr size_t kPairFlush = 4000000;
// Moved words whose rows are below this share of MasIdx are deleted word by word.
constexpr double kDeleteShare = 0.005;

} // namespace

void sortPairs(std::vector<uint64_t>& pairs) {
    size_t begin = 0;
    for (size_t i = 1; i <= pairs.size(); ++i) {
        if (i < pairs.size() && pairs[i] >> 32 == pairs[begin] >> 32) continue;
        if (i < pairs.size() && pairs[i] >> 32 < pairs[begin] >> 32) {
            std::sort(pairs.begin(), pairs.end());
            return;
        }
        std::sort(pairs.begin() + static_cast<std::ptrdiff_t>(begin), pairs.begin() + static_cast<std::ptrdiff_t>(i));
        begin = i;
    }
}

namespace {
// The messages of pairs [begin, end) (sorted message by message) that are
// not the last one of out already, added in order.
void addMessagesOf(const uint64_t* begin, const uint64_t* end, std::vector<uint32_t>& out) {
    for (const uint64_t* p = begin; p != end; ++p)
        if (out.empty() || out.back() != static_cast<uint32_t>(*p >> 32)) out.push_back(static_cast<uint32_t>(*p >> 32));
}
} // namespace

// ---------------------------------------------------------------- ignore list data

std::vector<std::string> shippedStopWords() {
    std::vector<std::string> words;
    std::string_view all(kShippedStopWords);
    while (!all.empty()) {
        size_t nl = all.find('\n');
        std::string_view line = all.substr(0, nl);
        all = nl == std::string_view::npos ? std::string_view() : all.substr(nl + 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
        size_t b = line.find_first_not_of(" \t");
        if (b == std::string_view::npos || line[b] == '#') continue;
        std::string w(line.substr(b));
        if (w.size() > 40) w.resize(40);
        for (auto& ch : w) ch = static_cast<char>(kUpper1252[static_cast<unsigned char>(ch)]);
        words.push_back(w);
    }
    return words;
}

int seedStopWords() {
    OP_CLOSE(OpOpenShared, StopWords.number());
    int added = 0;
    if (StopWords.records() == 0) {
        StopWords.stream();
        for (const std::string& w : shippedStopWords()) {
            StopWords.clearBuffer();
            STO.THEWORD = w;
            if (StopWords.add()) ++added;
        }
        StopWords.flush();
    }
    OP_CLOSE(OpClose, StopWords.number());
    return added;
}

// ---------------------------------------------------------------- word rule version

std::string wordRuleVersionFile() {
    return (std::filesystem::path(tableFileName(MasIdx.number())).parent_path() / "WORDRULE.VER").string();
}

int storedWordRuleVersion() {
    std::ifstream in(wordRuleVersionFile());
    int v = 0;
    if (in >> v && v > 0) return v;
    return 1;  // indexes built before the version was kept
}

bool storeWordRuleVersion() {
    const std::string path = wordRuleVersionFile();
    std::ofstream out(path, std::ios::trunc);
    out << kWordRuleVersion << "\n";
    out.close();
    if (out) return true;
    tell("Unexpected Error", "Unable to write " + path + "|The next indexing run builds the index again.");
    return false;
}

// ---------------------------------------------------------------- recommendation

std::string adviceText(uint8_t advice) {
    switch (advice) {
    case AdvicePartial:
    case AdviceCleanup: return "Partial indexing recommended!";
    case AdviceFull: return "Full indexing needed!";
    default: return "No indexing needed!";
    }
}

int WSIndexFixup(uint8_t& result, int /*positionLength*/, uint32_t& position, uint32_t& indexedCount, int first,
                 int second) {
    OP_CLOSE(OpOpenShared, MsgText.number(), MasIdx.number(), WordPurge.number());
    MsgText.skipMemo(true);
    auto done = [&](uint8_t r) {
        MsgText.skipMemo(false);
        OP_CLOSE(OpClose, MsgText.number(), MasIdx.number(), WordPurge.number());
        result = r;
        return 1;
    };
    const int64_t texts = MsgText.records();
    if (texts == 0) {
        position = kBlankPosition;
        indexedCount = 0;
        return done(AdviceNone);
    }
    if (MasIdx.records() == 0) {
        position = kBlankPosition;
        indexedCount = 0;
        return done(AdviceFull);
    }
    if (storedWordRuleVersion() < kWordRuleVersion) {
        // Built under older word rules: only a full run makes it right.
        position = kBlankPosition;
        indexedCount = 0;
        return done(AdviceFull);
    }
    const bool pending = WordPurge.records() > 0;
    const bool quick = !(first == 0 && second == 1);
    if (!positionBlank(position) && quick && MsgText.reget(position, true) &&
        static_cast<int64_t>(indexedCount) * 2 >= texts) {
        MsgText.setRecord(static_cast<Position>(position) + 1);
        bool follows = MsgText.next();
        if (!follows) return done(pending ? AdviceCleanup : AdviceNone);
        return done(AdvicePartial);
    }
    // Recompute from the master index: the last row whose message still has a text.
    Position found = 0;
    uint32_t lastChecked = 0;
    bool checkedAny = false;
    MasIdx.setFile();
    while (MasIdx.previous()) {
        if (checkedAny && MAS.SYSID == lastChecked) continue;
        checkedAny = true;
        lastChecked = MAS.SYSID;
        MsgText.clearBuffer();
        TXT.MSGNUMBER = MAS.SYSID;
        if (MsgText.get(TXT_IdKey)) {
            found = MsgText.position();
            break;
        }
    }
    if (found == 0) {
        position = kBlankPosition;
        indexedCount = 0;
        return done(AdviceFull);
    }
    int64_t after = 0;
    MsgText.setRecord(found + 1);
    while (MsgText.next()) ++after;
    position = static_cast<uint32_t>(found);
    indexedCount = static_cast<uint32_t>(texts - after);
    if (after > 0) return done(AdvicePartial);
    return done(pending ? AdviceCleanup : AdviceNone);
}

// ---------------------------------------------------------------- the run

WordIndexer::WordIndexer(int mode, int batch, uint32_t& position, uint32_t forumId, uint8_t kind, int32_t& needsUpdate,
                         uint32_t& indexedCount)
    : mode_(mode), batch_(batch < 1 ? 1 : batch), position_(position), forumId_(forumId), kind_(kind),
      needsUpdate_(needsUpdate), indexedCount_(indexedCount) {}

WordIndexer::~WordIndexer() {
    if (started_) {
        StartWordHash[94] = savedCircumflex_;
        circumflexOutsideRun = 0xFF;
        IndexingInProgress = false;
    }
    closeTables();
}

std::string WordIndexer::title() const {
    return std::string(unattended() ? " Scheduled PRO Word Indexing [" : " PRO Word Indexing [") + Mem.Description + "]";
}

void WordIndexer::setPhase(Phase p, const std::string& text) {
    phase_ = p;
    if (!text.empty()) status_ = text;
}

void WordIndexer::openTables() {
    if (tablesOpen_) return;
    // The texts are read once from start to end: page by page, not through
    // a map of the whole file that would stay in memory to the end of the run.
    const bool mapped = readMappingOn();
    setReadMapping(false);
    OP_CLOSE(OpOpenShared, MsgText.number());
    setReadMapping(mapped);
    OP_CLOSE(OpOpenShared, WordList.number(), MasIdx.number(), WordPurge.number(), StopWords.number());
    if (kind_ == 2) OP_CLOSE(OpOpenShared, Mail.number());
    else OP_CLOSE(OpOpenShared, MsgNmbr.number(), Threads.number());
    tablesOpen_ = true;
}

// The tables a purge or deletion rewrites are locked as a whole meanwhile,
// so that no other process writes into them (the pending-deletion table
// serves as the scratch copy of the master index).
bool WordIndexer::lockForRemoval() {
    if (removalLocked_) return true;
    if (!MasIdx.lock(5)) return false;
    if (!WordList.lock(5)) {
        MasIdx.unlock();
        return false;
    }
    removalLocked_ = true;
    return true;
}

void WordIndexer::unlockRemoval() {
    if (!removalLocked_) return;
    MasIdx.unlock();
    WordList.unlock();
    removalLocked_ = false;
}

void WordIndexer::closeTables() {
    if (!tablesOpen_) return;
    unlockRemoval();
    if (purgeTableLocked_) WordPurge.unlock();
    purgeTableLocked_ = false;
    for (Table* t : {&WordList, &MasIdx, &WordPurge, &StopWords})
        if (t->streaming()) t->flush();
    OP_CLOSE(OpClose, MsgText.number(), WordList.number(), MasIdx.number(), WordPurge.number(), StopWords.number());
    if (kind_ == 2) OP_CLOSE(OpClose, Mail.number());
    else OP_CLOSE(OpClose, MsgNmbr.number(), Threads.number());
    tablesOpen_ = false;
}

void WordIndexer::fail() {
    failed_ = true;
    phase_ = Phase::Done;
}

bool WordIndexer::start() {
    if (IndexingInProgress) return false;  // one run at a time
    if (!readWordIndexSettings(settings_)) {
        tell("Index Problem", "Unable to read configuration file.|Indexing Skipped");
        return false;
    }
    openTables();
    // The pending-deletion table is the run's for its whole length: marks
    // of the word list are not written into it meanwhile.
    if (!WordPurge.lock(5)) {
        tell("Index Problem", "The word index is in use by another user.|Indexing Skipped");
        closeTables();
        return false;
    }
    purgeTableLocked_ = true;
    if (mode_ == ModeFull && !unattended() && indexedCount_ != 0 && (WordList.records() > 0 || MasIdx.records() > 0)) {
        unsigned a = ui().ask("Warning",
                              "This will DELETE the current Wordlist & Master Index.|All messages in the file will be "
                              "indexed.|Are you SURE you want to continue?",
                              BtnYes | BtnNo, BtnNo, Icon::Question);
        if (a != BtnYes) {
            closeTables();
            return false;
        }
    }
    // An index built under older word rules is built again from nothing,
    // whatever mode was asked for.
    if (mode_ != ModeFull && MasIdx.records() > 0 && storedWordRuleVersion() < kWordRuleVersion) mode_ = ModeFull;
    started_ = true;
    IndexingInProgress = true;
    // Until the count key is rebuilt at the end, the database says so.
    needsUpdate_ = 1;
    savedCircumflex_ = StartWordHash[94];
    circumflexOutsideRun = savedCircumflex_;
    StartWordHash[94] = 1;
    switch (kind_) {
    case 1: autoStop_ = settings_.autoStopForum == 1; dropFooter_ = settings_.indexForumFooters == 0; break;
    case 2: autoStop_ = settings_.autoStopMail == 1; dropFooter_ = false; break;
    default: autoStop_ = settings_.autoStopNews == 1; dropFooter_ = settings_.indexNewsFooters == 0; break;
    }
    if (WordPurge.records() > 0) {
        setPhase(Phase::Cleanup, "Moving deleted index words to Ignore list");
    } else {
        if (mode_ == ModeFull) {
            resetToFullBuild();
            renewMasterIndexFile();
        }
        setPhase(mode_ == ModeCleanupOnly ? Phase::Done : Phase::Prepare, "Preparing for Word Indexing");
    }
    return true;
}

void WordIndexer::resetToFullBuild() {
    WordList.empty();
    MasIdx.empty();
    WordPurge.empty();
    WordList.build();
    MasIdx.build();
    cache_.clear();
    pairs_.clear();
    mode_ = ModeFull;
}

// The emptied master index is made anew, so that one kept in an earlier
// layout (with row IDs and one more key on disk) takes the current one. Only
// when no one else, in this process or another, has it open; otherwise it
// stays as it is and works as before.
void WordIndexer::renewMasterIndexFile() {
    if (openCount(MasIdx.number()) != 1 || MasIdx.records() != 0) return;
    const std::string path = MasIdx.path();
    OP_CLOSE(OpClose, MasIdx.number());
    MasIdx.open(path, OpenMode::Exclusive);
    if (MasIdx.isOpen()) {
        MasIdx.close();
        MasIdx.create(path);
    }
    OP_CLOSE(OpOpenShared, MasIdx.number());
}

// A file error in the middle of the work: the user is told, and the index
// is built again from nothing.
void WordIndexer::restartAsFullBuild(const std::string& operation) {
    tell("Unexpected Error", "Unexpected file error:" + operation + "|" + errorText());
    resetToFullBuild();
    setPhase(Phase::Prepare, "Preparing for Word Indexing");
}

bool WordIndexer::step() {
    if (!started_) return false;
    switch (phase_) {
    case Phase::Cleanup: return stepCleanup();
    case Phase::RemoveByWord: return stepRemoveByWord();
    case Phase::PurgeCopy: return stepPurgeCopy();
    case Phase::PurgeBack: return stepPurgeBack();
    case Phase::PurgeKeys: return stepPurgeKeys();
    case Phase::DeleteWordRows: return stepDeleteWordRows();
    case Phase::Prepare: return stepPrepare();
    case Phase::Index: return stepIndex();
    case Phase::FlushPairs: return stepFlushPairs(false);
    case Phase::FlushKeys: return stepFlushKeys();
    case Phase::FlushWords: return stepFlushWords(false);
    case Phase::Done: return false;
    }
    return false;
}

// ---- word-delete cleanup and removal of index rows

bool WordIndexer::stepCleanup() {
    if (!lockForRemoval()) {
        tell("Index Problem", "The word index is in use by another user.|Indexing Skipped");
        fail();
        return false;
    }
    int64_t sum = 0;
    std::vector<int32_t> ids;
    WordPurge.setFile();
    while (WordPurge.next()) ids.push_back(PUR.WORDID);
    for (int32_t id : ids) {
        WordList.clearBuffer();
        WOR.WORDID = id;
        if (!WordList.get(WOR_by_WordId)) continue;
        sum += WOR.WORDCOUNT;
        if (movedSet_.insert(static_cast<uint32_t>(id)).second) moved_.push_back(id);
        std::string word = WOR.THEWORD.str();
        StopWords.clearBuffer();
        STO.THEWORD = word;
        if (!StopWords.get(STO_BY_THEWORD)) {
            StopWords.clearBuffer();
            STO.THEWORD = word;
            StopWords.add();
        }
    }
    WordPurge.empty();
    if (mode_ == ModeFull) {
        // A full build starts from an empty index whatever was pending.
        resetToFullBuild();
        moved_.clear();
        movedSet_.clear();
        setPhase(Phase::Prepare, "Preparing for Word Indexing");
        return true;
    }
    if (sum == 0 || MasIdx.records() == 0) {
        afterRemoval_ = mode_ == ModeCleanupOnly ? Phase::Done : Phase::Prepare;
        setPhase(moved_.empty() ? afterRemoval_ : Phase::DeleteWordRows, "Deleting index words");
        removeAt_ = 0;
        return phase_ != Phase::Done;
    }
    beginRemoval(sum, mode_ == ModeCleanupOnly ? Phase::Done : Phase::Prepare);
    return true;
}

void WordIndexer::beginRemoval(int64_t rowsToRemove, Phase after) {
    if (!lockForRemoval()) {
        tell("Index Problem", "The word index is in use by another user.|Indexing Skipped");
        fail();
        return;
    }
    afterRemoval_ = after;
    removeAt_ = 0;
    scanPos_ = 0;
    const int64_t rows = MasIdx.records();
    if (rows == 0) {
        setPhase(Phase::DeleteWordRows, "Deleting index words");
        return;
    }
    if (static_cast<double>(rowsToRemove) <= kDeleteShare * static_cast<double>(rows)) {
        setPhase(Phase::RemoveByWord, "Deleting orphaned word indexes");
    } else {
        WordPurge.empty();
        total_ = rows;
        done_ = 0;
        setPhase(Phase::PurgeCopy, "Purging orphaned word indexes");
    }
}

bool WordIndexer::stepRemoveByWord() {
    size_t end = std::min(moved_.size(), removeAt_ + static_cast<size_t>(batch_) * 10);
    MasIdx.stream();
    for (; removeAt_ < end; ++removeAt_) {
        const uint32_t id = static_cast<uint32_t>(moved_[removeAt_]);
        std::vector<Position> rows;
        MasIdx.clearBuffer();
        MAS.WORDID = id;
        MasIdx.setFrom(MAS_by_WordId);
        while (MasIdx.next() && MAS.WORDID == id) rows.push_back(MasIdx.position());
        for (Position p : rows) {
            if (!MasIdx.reget(p) || !MasIdx.erase()) {
                MasIdx.flush();
                restartAsFullBuild("MASIDX(Delete)");
                moved_.clear();
                movedSet_.clear();
                return true;
            }
        }
    }
    MasIdx.flush();
    if (removeAt_ >= moved_.size()) {
        removeAt_ = 0;
        setPhase(Phase::DeleteWordRows, "Deleting index words");
    }
    return true;
}

bool WordIndexer::stepPurgeCopy() {
    const int chunk = 2000 * batch_;
    MasIdx.setRecord(scanPos_ + 1);
    WordPurge.stream();
    int n = 0;
    bool more = true;
    while (n < chunk) {
        if (!MasIdx.next()) { more = false; break; }
        scanPos_ = MasIdx.position();
        ++n;
        ++done_;
        if (movedSet_.count(MAS.WORDID)) continue;
        WordPurge.clearBuffer();
        PUR.SYSID = static_cast<int32_t>(MAS.SYSID);
        PUR.WORDID = static_cast<int32_t>(MAS.WORDID);
        if (!WordPurge.add()) {
            WordPurge.flush();
            restartAsFullBuild("WordPurge(Add)");
            moved_.clear();
            movedSet_.clear();
            return true;
        }
    }
    WordPurge.flush();
    if (!more) {
        if (!MasIdx.empty()) {
            restartAsFullBuild("MASIDX(Empty)");
            return true;
        }
        scanPos_ = 0;
        done_ = 0;
        total_ = WordPurge.records();
        setPhase(Phase::PurgeBack, "Purging orphaned word indexes");
    }
    return true;
}

bool WordIndexer::stepPurgeBack() {
    const int chunk = 2000 * batch_;
    WordPurge.setRecord(scanPos_ + 1);
    MasIdx.stream();
    int n = 0;
    bool more = true;
    std::vector<std::pair<uint32_t, uint32_t>> rows;
    while (n < chunk) {
        if (!WordPurge.next()) { more = false; break; }
        scanPos_ = WordPurge.position();
        rows.emplace_back(static_cast<uint32_t>(PUR.SYSID), static_cast<uint32_t>(PUR.WORDID));
        ++n;
    }
    for (auto& [sys, word] : rows) {
        MAS.SYSID = sys;
        MAS.WORDID = word;
        if (!MasIdx.append()) {
            MasIdx.flush();
            restartAsFullBuild("MASIDX(Append)");
            return true;
        }
        ++done_;
    }
    MasIdx.flush();
    if (!more) setPhase(Phase::PurgeKeys, "Rebuilding index keys");
    return true;
}

bool WordIndexer::stepPurgeKeys() {
    if (!MasIdx.build()) {
        restartAsFullBuild("MASIDX(Build)");
        return true;
    }
    WordPurge.empty();
    removeAt_ = 0;
    setPhase(Phase::DeleteWordRows, "Deleting index words");
    return true;
}

bool WordIndexer::stepDeleteWordRows() {
    size_t end = std::min(moved_.size(), removeAt_ + 1000);
    WordList.stream();
    for (; removeAt_ < end; ++removeAt_) {
        WordList.clearBuffer();
        WOR.WORDID = moved_[removeAt_];
        if (WordList.get(WOR_by_WordId)) WordList.erase();
    }
    WordList.flush();
    if (removeAt_ < moved_.size()) return true;
    moved_.clear();
    movedSet_.clear();
    movedRows_ = 0;
    unlockRemoval();
    endIndexChange();
    setPhase(afterRemoval_, afterRemoval_ == Phase::Index ? "Indexing messages" : "Preparing for Word Indexing");
    return phase_ != Phase::Done;
}

// ---- preparing and indexing

bool WordIndexer::stepPrepare() {
    unlockRemoval();
    status_ = "Preparing for Word Indexing";
    cache_.clear();
    cache_.reserve(1 << 17);
    StopWords.setFile();
    if (StopWords.records() == 0) {
        OP_CLOSE(OpClose, StopWords.number());
        seedStopWords();
        OP_CLOSE(OpOpenShared, StopWords.number());
        StopWords.setFile();
    }
    while (StopWords.next()) {
        Entry e;
        e.status = 3;
        cache_.emplace(STO.THEWORD.str(), e);
    }
    if (mode_ == ModeFull) {
        position_ = kBlankPosition;
        indexedCount_ = 0;
    }
    // An empty index is built under the current rules from here on.
    if (MasIdx.records() == 0) storeWordRuleVersion();
    count_ = indexedCount_;
    const int64_t texts = MsgText.records();
    lastPos_ = 0;
    if (!positionBlank(position_) && MsgText.reget(position_, true)) {
        lastPos_ = position_;
        textsToDo_ = texts - static_cast<int64_t>(count_);
        if (textsToDo_ < 0) textsToDo_ = 0;
    } else {
        count_ = 0;
        textsToDo_ = texts;
    }
    flushedPos_ = lastPos_;
    flushedCount_ = count_;
    savedPosition_ = false;
    nextWordId_ = 1;
    WordList.setFile();
    WordList.set(WOR_by_WordId);
    if (WordList.previous()) nextWordId_ = WOR.WORDID + 1;
    wordRows_ = WordList.records();
    wordListHadRows_ = wordRows_ > 0;
    masHadRows_ = MasIdx.records() > 0;
    needsUpdate_ = 1;
    prepared_ = true;
    done_ = 0;
    total_ = textsToDo_;
    endOfTexts_ = false;
    setPhase(Phase::Index, "Indexing messages");
    return true;
}

std::string WordIndexer::headingOf(uint32_t threadNumber) {
    auto it = headings_.find(threadNumber);
    if (it != headings_.end()) return it->second;
    std::string h;
    Threads.clearBuffer();
    THR.THREADNUMBER = threadNumber;
    if (Threads.get(THR_ThreadKey)) h = std::string(rtrim(THR.heading()));
    if (headings_.size() > 100000) headings_.clear();
    headings_.emplace(threadNumber, h);
    return h;
}

void WordIndexer::moveToIgnoreList(std::string_view word, Entry& e) {
    status_ = "Moving Word to Stop List...";
    StopWords.clearBuffer();
    STO.THEWORD = word;
    StopWords.add();
    if (e.id != 0 && movedSet_.insert(static_cast<uint32_t>(e.id)).second && e.status == 1) {
        // Rows already in MasIdx; a new word's pairs are only in memory.
        moved_.push_back(e.id);
        movedRows_ += e.stored;
    }
    e.status = 3;
    e.dirty = false;
    ++movedTotal_;
}

void WordIndexer::onWord(std::string_view word, uint64_t hash) {
    Words::Index at = cache_.indexOf(word, hash);
    if (at == Words::npos) {
        Entry e;
        if (wordListHadRows_) {
            WordList.clearBuffer();
            WOR.THEWORD = word;
            if (WordList.get(WOR_by_theWord)) {
                e.status = 1;
                e.id = WOR.WORDID;
                e.count = e.stored = WOR.WORDCOUNT;
            } else if (errorCode() == ErrRecordNotFound) {
                e.status = 2;
            } else {
                tell("Unexpected Error", "Unexpected file error:Wordlist(Get)|" + errorText() + "|on Message#" +
                                             std::to_string(currentMsg_) + "|Word=" + std::string(word));
                tell("Corrupt Data", "There is unwritten data in memory.|The data set is corrupt.|Please restore from "
                                     "a backup.");
                fail();
                return;
            }
        } else {
            e.status = 2;
        }
        if (e.status == 2) {
            e.id = 0;
            e.count = 0;
        }
        at = cache_.emplace(word, e, hash).first;
    }
    Entry& e = cache_.value(at);
    if (e.status == 3) return;
    if (autoStop_ && count_ > 10000 && e.count > static_cast<int32_t>(count_ / 4)) {
        moveToIgnoreList(cache_.word(at), e);
        return;
    }
    bool created = false;
    if (e.id == 0) {
        e.id = nextWordId_++;
        e.count = 1;
        created = true;
    }
    if (e.lastText != textSeq_) {
        e.lastText = textSeq_;
        pairs_.push_back(static_cast<uint64_t>(currentMsg_) << 32 | static_cast<uint32_t>(e.id));
        if (!created) ++e.count;
        e.dirty = true;
    }
}

void WordIndexer::breakText(BatchText& t, bool numbers) {
    const WordHash hash;
    auto gather = [&](const char* w, size_t len, size_t) {
        batchWordAt_.push_back({static_cast<uint32_t>(batchWords_.size()), static_cast<uint32_t>(len),
                                hash(std::string_view(w, len))});
        batchWords_.append(w, len);
    };
    t.firstWord = batchWordAt_.size();
    breakWords(rtrim(t.heading), true, numbers, gather);
    if (t.bodyEnd > t.bodyBegin)
        breakWords(std::string_view(t.body).substr(t.bodyBegin, t.bodyEnd - t.bodyBegin), true, numbers, gather);
    t.endWord = batchWordAt_.size();
}

void WordIndexer::lookUpWords(size_t texts) {
    // The words of the batch are looked up in text order; the slot of a word
    // some places ahead, and a little later its entry, are fetched meanwhile
    // (most lookups would otherwise wait for memory twice).
    constexpr size_t kSlotAhead = 16, kEntryAhead = 8;
    const size_t n = batchWordAt_.size();
    for (size_t i = 0; i < n && i < kSlotAhead; ++i) cache_.prefetchSlot(batchWordAt_[i].hash);
    for (size_t k = 0; k < texts && !failed_; ++k) {
        const BatchText& t = batchTexts_[k];
        ++textSeq_;
        currentMsg_ = t.msg;
        for (size_t i = t.firstWord; i < t.endWord && !failed_; ++i) {
            if (i + kSlotAhead < n) cache_.prefetchSlot(batchWordAt_[i + kSlotAhead].hash);
            if (i + kEntryAhead < n) cache_.prefetchEntry(batchWordAt_[i + kEntryAhead].hash);
            const TextWord& w = batchWordAt_[i];
            onWord(std::string_view(batchWords_.data() + w.at, w.length), w.hash);
        }
        if (failed_) break;
        ++count_;
        ++indexedRun_;
    }
}

bool WordIndexer::stepIndex() {
    if (cancelled_) {
        phase_ = Phase::Done;
        return false;
    }
    // Room for the pairs up to the next flush at once: the buffer is not
    // copied as it grows, and only the part used takes memory.
    if (pairs_.capacity() < kPairFlush) pairs_.reserve(kPairFlush + kPairFlush / 8);
    // The texts of the batch are read first, in one read transaction of each file.
    std::vector<Table*> reads{&MsgText, &WordList, &MasIdx};
    if (kind_ == 2) reads.push_back(&Mail);
    else reads.insert(reads.end(), {&MsgNmbr, &Threads});
    beginReadBatch(reads);
    if (lastPos_ > 0) MsgText.setRecord(lastPos_ + 1);
    else MsgText.setFile();
    size_t texts = 0;
    for (int i = 0; i < batch_; ++i) {
        if (!MsgText.next()) {
            endOfTexts_ = true;
            break;
        }
        lastPos_ = MsgText.position();
        ++done_;
        if (done_ % 50 == 0) ui().progress(status_, done_, total_);
        const uint32_t msg = TXT.MSGNUMBER;
        if (masHadRows_) {
            MasIdx.clearBuffer();
            MAS.SYSID = msg;
            MAS.WORDID = 0;
            MasIdx.setFrom(MAS_by_SysID);
            if (MasIdx.next() && MAS.SYSID == msg) continue;
        }
        if (batchTexts_.size() <= texts) batchTexts_.resize(texts + 1);
        BatchText& t = batchTexts_[texts];
        t.msg = msg;
        // The memo is read with the row; taken over before reading other tables.
        t.body = std::move(TXT_MsgText);
        if (kind_ == 2) {
            Mail.clearBuffer();
            MAI.MAILID = msg;
            if (!Mail.get(MAI_IdKey)) continue;
            t.heading.assign(MAI.SUBJECT.view());
            if (!mailBodyRange(t.body, t.bodyBegin, t.bodyEnd)) t.bodyBegin = t.bodyEnd = 0;
        } else {
            MsgNmbr.clearBuffer();
            MSG.MSGNUMBER = msg;
            if (!MsgNmbr.get(MSG_IdKey)) continue;
            t.heading = headingOf(MSG.THREADNUMBER);
            const std::string_view bv = rtrim(t.body);
            t.bodyBegin = 0;
            t.bodyEnd = dropFooter_ ? bodyEndWithoutFooter(bv) : bv.size();
        }
        ++texts;
    }
    endReadBatch(reads);
    const bool numbers = settings_.indexNumbers != 0;
    batchWords_.clear();
    batchWordAt_.clear();
    for (size_t k = 0; k < texts; ++k) breakText(batchTexts_[k], numbers);
    lookUpWords(texts);
    if (failed_) return false;
    const long long remaining = total_ - done_;
    // Words moved to the ignore list wait for the next flush: their pairs in
    // memory are dropped then, and their stored rows removed.
    const bool pending =
        endOfTexts_ && (!pairs_.empty() || !moved_.empty() || !movedSet_.empty() || anyDirty());
    if ((pairs_.size() > kPairFlush && remaining > 50) || pending) {
        pairAt_ = 0;
        setPhase(Phase::FlushPairs, "Flushing Buffers/Building Indexes");
        return true;
    }
    if (endOfTexts_) {
        ui().progress(status_, done_, total_);
        phase_ = Phase::Done;
        return false;
    }
    return true;
}

// ---- flushing

bool WordIndexer::anyDirty() const {
    for (Words::Index i = 0; i < cache_.size(); ++i)
        if (cache_.value(i).dirty) return true;
    return false;
}

bool WordIndexer::stepFlushPairs(bool all) {
    if (pairAt_ == 0) {
        if (!movedSet_.empty()) {
            std::vector<bool> moved(static_cast<size_t>(std::max(nextWordId_, 1)));
            for (uint32_t id : movedSet_)
                if (id < moved.size()) moved[id] = true;
            pairs_.erase(std::remove_if(pairs_.begin(), pairs_.end(),
                                        [&](uint64_t p) {
                                            const uint32_t id = static_cast<uint32_t>(p);
                                            return id < moved.size() && moved[id];
                                        }),
                         pairs_.end());
        }
        sortPairs(pairs_);
        beginIndexChange();
        firstPairPos_ = 0;
        pairsThisFlush_ = 0;
        // Into a large index the few new rows go with their keys; otherwise
        // they are appended and the keys built once.
        pairsAppend_ = MasIdx.records() < static_cast<int64_t>(pairs_.size()) * 4;
        wordsHandled_.clear();
    }
    const size_t chunk = all ? pairs_.size() : static_cast<size_t>(batch_) * 1000;
    const size_t end = std::min(pairs_.size(), pairAt_ + chunk);
    MasIdx.stream();
    // The pairs of this step go in together, or none of them.
    Position first = 0;
    if (end > pairAt_ && !appendNumberPairs(MasIdx, pairs_.data() + pairAt_, end - pairAt_, pairsAppend_, first)) {
        const std::string err = errorText();
        MasIdx.flush();
        const uint32_t msg = static_cast<uint32_t>(pairs_[pairAt_] >> 32);
        tell("Unexpected Error", "Unexpected file error:MASIDX(Append)|" + err + "|on Message#" + std::to_string(msg));
        if (rollbackPairs()) endIndexChange();
        else flushNotTakenBack("MASIDX", msg);
        fail();
        return false;
    }
    if (end > pairAt_ && firstPairPos_ == 0) {
        // A master index that keeps its rows in key order gives each row
        // its key as its position.
        firstPairPos_ = first;
        pairPositionsAreKeys_ = static_cast<uint64_t>(firstPairPos_) == pairs_[pairAt_];
    }
    pairsThisFlush_ += static_cast<uint32_t>(end - pairAt_);
    pairAt_ = end;
    MasIdx.flush();
    if (pairAt_ >= pairs_.size()) {
        // The pairs are written: what a later failure of this flush takes out
        // again is known by their messages, and the memory goes before the
        // keys are built.
        flushMessages_.clear();
        addMessagesOf(pairs_.data(), pairs_.data() + pairs_.size(), flushMessages_);
        pairs_.clear();
        pairs_.shrink_to_fit();
        setPhase(Phase::FlushKeys, "Flushing Buffers/Building Indexes");
    }
    return true;
}

bool WordIndexer::rollbackPairs() {
    if (firstPairPos_ == 0) return true;
    bool ok = true;
    MasIdx.stream();
    if (pairPositionsAreKeys_) {
        // Rows kept in key order: the rows of this flush are not those after
        // its first one in the file. They are the rows of its messages (a
        // message with rows already is not indexed again).
        std::vector<uint32_t> messages = flushMessages_;
        addMessagesOf(pairs_.data(), pairs_.data() + std::min(pairAt_, pairs_.size()), messages);
        for (size_t m = 0; m < messages.size() && ok; ++m) {
            std::vector<Position> rows;
            MasIdx.clearBuffer();
            MAS.SYSID = messages[m];
            MAS.WORDID = 0;
            MasIdx.setFrom(MAS_by_SysID);
            while (MasIdx.next() && MAS.SYSID == messages[m]) rows.push_back(MasIdx.position());
            for (size_t i = 0; i < rows.size() && ok; ++i) ok = MasIdx.reget(rows[i]) && MasIdx.erase();
        }
        flushMessages_.clear();
    } else {
        std::vector<Position> rows;
        MasIdx.setRecord(firstPairPos_);
        while (MasIdx.next()) rows.push_back(MasIdx.position());
        for (auto it = rows.rbegin(); it != rows.rend() && ok; ++it) ok = MasIdx.reget(*it) && MasIdx.erase();
    }
    MasIdx.flush();
    ok = ok && MasIdx.build();
    firstPairPos_ = 0;
    return ok;
}

bool WordIndexer::stepFlushKeys() {
    // The keys are built as the rows were written: without waiting for the
    // disk at the commit.
    bool built = true;
    std::string err;
    if (pairsAppend_ && pairsThisFlush_ > 0) {
        MasIdx.stream();
        built = MasIdx.build();
        if (!built) err = errorText();
        MasIdx.flush();
    }
    if (!built) {
        tell("Unexpected Error", "Unexpected file error:MASIDX(Build)|" + err + "|on Message#" + std::to_string(currentMsg_));
        tell("Rollback", "Will try to rollback changes.");
        if (rollbackPairs()) {
            endIndexChange();
            tell("Rollback Complete", "Rollback was sucessfull.");
        } else {
            flushNotTakenBack("MASIDX", currentMsg_);
        }
        fail();
        return false;
    }
    pairsWritten_ += pairsThisFlush_;
    flushWordKeys_.clear();
    for (Words::Index i = 0; i < cache_.size(); ++i) {
        const Entry& e = cache_.value(i);
        if (e.dirty && (e.status == 1 || e.status == 2)) flushWordKeys_.push_back(i);
    }
    std::sort(flushWordKeys_.begin(), flushWordKeys_.end(),
              [this](Words::Index a, Words::Index b) { return cache_.word(a) < cache_.word(b); });
    wordAt_ = 0;
    // Into an empty list the words are appended and its keys built once.
    wordsAppend_ = WordList.records() == 0;
    setPhase(Phase::FlushWords, "Flushing Buffers/Building Indexes");
    return true;
}

void WordIndexer::flushNotTakenBack(const std::string& table, uint32_t msg) {
    tell("Unexpected Error", "Unexpected file error:" + table + "||on Message#" + std::to_string(msg));
    tell("Corrupt Data", "Unable to rollback changes.|The data set is corrupt.|Please restore from a backup.");
    flushedPos_ = 0;
    flushedCount_ = 0;
    savedPosition_ = true;
}

void WordIndexer::rollbackWords() {
    if (wordsAppend_) {
        // Appended without keys: the words of this flush are found in one pass.
        std::unordered_set<int32_t> ids;
        for (auto& [w, e] : wordsHandled_) ids.insert(e.id);
        std::vector<Position> rows;
        WordList.setFile();
        while (WordList.next())
            if (ids.count(WOR.WORDID)) rows.push_back(WordList.position());
        WordList.stream();
        for (Position p : rows)
            if (WordList.reget(p)) WordList.erase();
        WordList.flush();
        WordList.build();
        return;
    }
    // Words added in this flush go; words updated get their former count back.
    WordList.stream();
    for (auto& [w, e] : wordsHandled_) {
        WordList.clearBuffer();
        WOR.WORDID = e.id;
        if (!WordList.get(WOR_by_WordId)) continue;
        if (e.status == 2) {
            WordList.erase();
        } else {
            WOR.WORDCOUNT = e.stored;
            WordList.put();
        }
    }
    WordList.flush();
}

// The word list's row of a new word, in the record buffer.
void WordIndexer::newWordRow(Words::Index at) {
    const Entry& e = cache_.value(at);
    WordList.clearBuffer();
    WOR.WORDID = e.id;
    WOR.THEWORD = cache_.word(at);
    WOR.WORDCOUNT = e.count;
}

bool WordIndexer::stepFlushWords(bool all) {
    // A word list write that fails takes the whole flush back.
    auto failedFlush = [this](const std::string& what) {
        tell("Unexpected Error", "Unexpected file error:" + what);
        rollbackWords();
        if (rollbackPairs()) {
            endIndexChange();
            flushedPos_ = 0;
            flushedCount_ = 0;
            savedPosition_ = true;
        } else {
            flushNotTakenBack("Wordlist", currentMsg_);
        }
        fail();
        return false;
    };
    const size_t chunk = all ? flushWordKeys_.size() : static_cast<size_t>(batch_) * 250;
    const size_t end = std::min(flushWordKeys_.size(), wordAt_ + chunk);
    WordList.stream();
    // New words for an empty list are appended together, or none of them.
    std::vector<Words::Index> appended;
    for (; wordAt_ < end; ++wordAt_) {
        const Words::Index at = flushWordKeys_[wordAt_];
        Entry& e = cache_.value(at);
        if (!e.dirty || e.status == 3) continue;
        if (wordsAppend_ && e.status != 1) {
            appended.push_back(at);
            continue;
        }
        bool ok;
        if (e.status == 1) {
            WordList.clearBuffer();
            WOR.WORDID = e.id;
            ok = WordList.get(WOR_by_WordId);
            if (ok) {
                WOR.WORDCOUNT = e.count;
                ok = WordList.put();
            }
        } else {
            newWordRow(at);
            ok = WordList.add();
        }
        if (!ok) {
            const std::string err = errorText();
            WordList.flush();
            return failedFlush("Wordlist(Put)|" + err + "|on Message#" + std::to_string(currentMsg_) + "|Word=" +
                               std::string(cache_.word(at)));
        }
        wordsHandled_.emplace_back(at, e);
    }
    Position first = 0;
    if (!appended.empty() &&
        !appendRows(WordList, appended.size(), true, first, [&](size_t i) { newWordRow(appended[i]); })) {
        const std::string err = errorText();
        WordList.flush();
        return failedFlush("Wordlist(Put)|" + err + "|on Message#" + std::to_string(currentMsg_) + "|Word=" +
                           std::string(cache_.word(appended.front())));
    }
    for (Words::Index at : appended) wordsHandled_.emplace_back(at, cache_.value(at));
    if (wordAt_ < flushWordKeys_.size()) {
        WordList.flush();
        return true;
    }
    bool built = true;
    std::string err;
    if (wordsAppend_) {
        built = WordList.build();
        if (!built) err = errorText();
    }
    WordList.flush();
    if (!built) return failedFlush("Wordlist(Build)|" + err + "|on Message#" + std::to_string(currentMsg_));
    afterFlush();
    return phase_ != Phase::Done;
}

// The rows of a flush are written in several commits and over two tables: a
// run that stops before its flush is done (the process killed) leaves an
// index whose words and pairs do not agree. Meanwhile the index carries no
// word rule version, so that the next run builds it again from nothing.
void WordIndexer::beginIndexChange() {
    if (indexChanging_) return;
    std::error_code ec;
    std::filesystem::remove(wordRuleVersionFile(), ec);
    indexChanging_ = true;
}

void WordIndexer::endIndexChange() {
    if (!indexChanging_) return;
    indexChanging_ = false;
    storeWordRuleVersion();
}

void WordIndexer::afterFlush() {
    flushMessages_.clear();
    for (auto& handled : wordsHandled_) {
        Entry& e = cache_.value(handled.first);
        if (e.status == 2) ++wordRows_;
        e.status = 1;
        e.stored = e.count;
        e.dirty = false;
    }
    wordsHandled_.clear();
    flushWordKeys_.clear();
    masHadRows_ = masHadRows_ || pairsWritten_ > 0;
    wordListHadRows_ = true;
    flushedPos_ = lastPos_;
    flushedCount_ = count_;
    savedPosition_ = true;
    const Phase next = endOfTexts_ || cancelled_ ? Phase::Done : Phase::Index;
    if (!moved_.empty()) {
        wordRows_ -= static_cast<int64_t>(moved_.size());
        beginRemoval(movedRows_, next);
    } else {
        movedSet_.clear();
        endIndexChange();
        setPhase(next, "Indexing messages");
    }
}

int WordIndexer::finish() {
    if (!started_) {
        closeTables();
        return 2;
    }
    // Whatever is in memory is written out, also after Cancel.
    if (!failed_ && (!pairs_.empty() || !moved_.empty() || !movedSet_.empty() || anyDirty())) {
        endOfTexts_ = true;
        pairAt_ = 0;
        setPhase(Phase::FlushPairs, "Flushing Buffers/Building Indexes");
        while (!failed_ && phase_ != Phase::Done) {
            bool more = true;
            switch (phase_) {
            case Phase::FlushPairs: more = stepFlushPairs(true); break;
            case Phase::FlushKeys: more = stepFlushKeys(); break;
            case Phase::FlushWords: more = stepFlushWords(true); break;
            default: more = step(); break;
            }
            if (!more) break;
        }
    }
    status_ = "Indexing finished!";
    if (!failed_ && prepared_ && lastPos_ > 0) {
        // Everything read is written: the run ends where it read last.
        flushedPos_ = lastPos_;
        flushedCount_ = count_;
        savedPosition_ = true;
    }
    if (savedPosition_) {
        position_ = flushedPos_ > 0 ? static_cast<uint32_t>(flushedPos_) : kBlankPosition;
        indexedCount_ = flushedCount_;
    }
    int result = 2;
    if (!failed_) {
        if (WordList.buildKey(WOR_by_WordCount)) {
            needsUpdate_ = 0;
            result = 1;
        }
    }
    cache_.clear();
    headings_.clear();
    StartWordHash[94] = savedCircumflex_;
    circumflexOutsideRun = 0xFF;
    IndexingInProgress = false;
    started_ = false;
    closeTables();
    return result;
}

int INDEXFILE1(int mode, int batch, int /*positionLength*/, uint32_t& position, uint32_t forumId, uint8_t kind,
               int32_t& needsUpdate, uint32_t& indexedCount) {
    WordIndexer run(mode, batch, position, forumId, kind, needsUpdate, indexedCount);
    if (!run.start()) return run.finish();
    while (run.step()) {
        if (run.phase() != WordIndexer::Phase::Index) ui().progress(run.status(), run.done(), run.total());
    }
    return run.finish();
}

} // namespace qb

namespace qb {

bool readIndexFields(uint32_t& position, uint32_t& count, int32_t& needsUpdate) {
    OP_CLOSE(OpOpenShared, Forums.number());
    Forums.clearBuffer();
    FOR.ID = Mem.ForumNumber;
    bool ok = Forums.get(FOR_ForumKey);
    if (ok) {
        position = FOR.LASTMSGID;
        count = FOR.RECSLASTTIME;
        needsUpdate = FOR.WORDLISTINDEXNEEDSUPDATE;
    }
    OP_CLOSE(OpClose, Forums.number());
    return ok;
}

bool writeIndexFields(uint32_t position, uint32_t count, int32_t needsUpdate) {
    OP_CLOSE(OpOpenShared, Forums.number());
    Forums.clearBuffer();
    FOR.ID = Mem.ForumNumber;
    bool ok = Forums.get(FOR_ForumKey) && Forums.hold();
    if (ok) {
        FOR.LASTMSGID = position;
        FOR.RECSLASTTIME = count;
        FOR.WORDLISTINDEXNEEDSUPDATE = needsUpdate;
        ok = Forums.put();
        Forums.release();
    }
    if (ok) Mem.WordListIndexNeedsUpdate = needsUpdate;
    OP_CLOSE(OpClose, Forums.number());
    return ok;
}

bool indexActiveDatabase(bool full, int batch, IndexSummary& summary) {
    uint32_t position = 0, count = 0;
    int32_t needsUpdate = 0;
    if (!readIndexFields(position, count, needsUpdate)) {
        tell("Disk Error", "Unable to read forum data!|Indexing not possible now.");
        return false;
    }
    uint8_t advice = AdviceNone;
    WSIndexFixup(advice, 4, position, count, 1, 0);
    summary.advice = advice;
    int mode = full ? ModeFull : advice == AdviceNone ? -1 : advice;
    summary.mode = mode;
    if (mode < 0) {
        OP_CLOSE(OpOpenShared, WordList.number());
        summary.words = WordList.records();
        OP_CLOSE(OpClose, WordList.number());
        return writeIndexFields(position, count, needsUpdate);
    }
    WordIndexer run(mode, batch, position, Mem.ForumNumber, Mem.ForumType, needsUpdate, count);
    if (run.start()) {
        writeIndexFields(position, count, needsUpdate);
        while (run.step()) {
            if (run.phase() != WordIndexer::Phase::Index) ui().progress(run.status(), run.done(), run.total());
        }
    }
    summary.messages = run.indexedThisRun();
    summary.result = run.finish();
    OP_CLOSE(OpOpenShared, WordList.number());
    summary.words = WordList.records();
    OP_CLOSE(OpClose, WordList.number());
    return writeIndexFields(position, count, needsUpdate);
}

} // namespace qb
