// Browse views over the tables of the active database: which rows each tab of
// the mail and message browses lists, a cursor that reads them page by page in
// key order from any row, the person and thread steps, the status commands,
// the viewer's paging and the search source over a view.
//
// The cursor reads through the table's shared record buffer but leaves the
// buffer as it found it; rows are handed out as copies.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/storage.h"
#include "core/tables.h"
#include "wordsearch/textsearch.h"

namespace qb {

// One row of a view: its place in the file and a copy of its record.
struct ViewRow {
    Position pos = 0;
    std::vector<char> rec;
    template <class T>
    T as() const {
        T v;
        std::memcpy(static_cast<void*>(&v), rec.data(), sizeof(T));
        return v;
    }
};

// Reads the rows of one table in the order of one key, optionally only the
// rows whose first limitComps key components equal those of a limit record.
class ViewCursor {
public:
    ViewCursor() = default;
    ViewCursor(Table* table, int key, int limitComps = 0, const void* limitRec = nullptr);

    Table* table() const { return table_; }
    int key() const { return key_; }
    bool valid() const { return table_ != nullptr && table_->isOpen(); }

    // Up to n rows, in view order.
    std::vector<ViewRow> first(size_t n);
    std::vector<ViewRow> last(size_t n);
    std::vector<ViewRow> after(const ViewRow& row, size_t n);
    std::vector<ViewRow> before(const ViewRow& row, size_t n);
    // From the first row at or after the key values of rec (a record of the table).
    std::vector<ViewRow> seek(const void* rec, size_t n);
    // Is this record within the limit?
    bool inView(const void* rec) const;

private:
    std::vector<ViewRow> forward(size_t n, bool haveFirst);
    bool positionAt(const ViewRow& row, bool& onSuccessor);
    ViewRow current() const;
    void fillTrailing(bool high);

    Table* table_ = nullptr;
    int key_ = 0;
    int limitComps_ = 0;
    std::vector<char> limit_;
};

// Compares the components [from, to) of key k between two records of t; 0 when equal.
int compareKeyComps(const Table& t, int key, const void* a, const void* b, size_t from, size_t to);
// Sets the components [from, to) of key k in rec to their first (high=false)
// or last (high=true) possible value in key order.
void setKeyBound(const Table& t, int key, void* rec, size_t from, size_t to, bool high);

// ---- tabs -----------------------------------------------------------------

// What a browse window has chosen to limit its views.
struct BrowseChoice {
    uint32_t partnerId = 0;  std::string partnerAlpha;   // 25 characters of the last name
    uint32_t senderId = 0;   std::string senderAlpha;    // 10 characters
    uint32_t receiverId = 0; std::string receiverAlpha;  // 10 characters
    uint32_t threadId = 0;   std::string threadAlpha;    // THR:ALPHA
    uint32_t sectionId = 0;
    uint32_t wordId = 0;     // key word of the key-word tab; 0: the tab shows nothing
    uint32_t topicId = 0;    // topic (Codes ID) of the topic tab; 0: the tab shows nothing
};

// One tab: the table it lists, its key, its limit and whether its rows only
// carry the ID of a header row.
struct ViewSpec {
    Table* table = nullptr;
    int key = 0;
    int limitComps = 0;
    std::vector<char> limitRec;
    bool indirect = false;  // MasIdx, SIndex, Search rows: the header is read by ID
    bool nothing = false;   // the tab shows no rows
    ViewCursor cursor() const;
    // The message ID a row stands for.
    uint32_t idOf(const ViewRow& row) const;
};

constexpr int kMailTabs = 8;
constexpr int kMessageTabs = 9;
ViewSpec mailView(int tab, const BrowseChoice& c);     // tabs 1-8
ViewSpec messageView(int tab, const BrowseChoice& c);  // tabs 1-9
extern const char* const kMailTabHints[kMailTabs];
extern const char* const kMessageTabHints[kMessageTabs];
std::string mailLocatorCaption(int tab);
std::string messageLocatorCaption(int tab);

// The tables a browse of the active database keeps open (the word index is
// opened only when the key-word tab is used).
std::vector<int> browseTables(bool mail);

// ---- person and thread steps -------------------------------------------------

// The person after (or before) the given one in the order of a person key of
// Mail (MAI_PairKey, MAI_FromKey, MAI_ToKey) or MsgNmbr (MSG_FromKey,
// MSG_ToKey). Nothing when there is none or its Person row cannot be read.
struct PersonStep {
    uint32_t id = 0;
    std::string alpha;       // the key's alpha text of the new person's rows
    std::string lastName, firstName;
    uint32_t count = 0;      // FROMCOUNT, TOCOUNT, or their sum for a partner
};
std::optional<PersonStep> stepPerson(Table& headers, int key, const std::string& alpha, uint32_t id, bool forward);

struct ThreadStep {
    uint32_t id = 0;
    std::string alpha;       // THR:ALPHA
    std::string heading;     // 50 characters, clipped
    uint32_t count = 0;      // THR:MSGCOUNT; 0 within a section
    uint32_t sectionId = 0;
};
// The thread after (or before) the given one in THR:AlphaKey order, or in
// THR:SecKey order within a section when sectionId is not 0.
std::optional<ThreadStep> stepThread(uint32_t threadId, uint32_t sectionId, bool forward);

// ---- status -----------------------------------------------------------------

enum class StatusTarget { Message, Person, Thread, Section, Database };
// Writes 0 normal, 1 keep or 2 delete into the row (held, through UppDat in
// the reporting mode). False, the row unchanged, when it failed.
bool setStatus(StatusTarget what, uint32_t id, uint8_t status);

// ---- viewer -----------------------------------------------------------------

// The text the viewer shows for a message, cut into pages.
std::vector<std::string> viewerPages(const std::string& memo, const std::string* subject = nullptr);

// ---- standard search over a view ----------------------------------------------

// Steps through a view from a starting row; mail rows give their subject,
// forum and newsgroup rows their thread heading.
class ViewSearchSource : public SearchSource {
public:
    ViewSearchSource(ViewSpec spec, bool mail, std::optional<ViewRow> start);
    bool step(bool newer, SearchItem& item) override;
    std::string body(uint32_t id) override;
    // The view row of the last item handed out.
    const ViewRow& lastRow() const { return last_; }

private:
    bool fill(bool forward);
    ViewSpec spec_;
    ViewCursor cursor_;
    bool mail_;
    std::optional<ViewRow> start_;
    bool begun_ = false;
    bool dir_ = true;
    std::vector<ViewRow> ahead_;
    size_t next_ = 0;
    ViewRow last_;
    uint32_t headThread_ = 0;
    std::string headHeading_;
};

// Reads the header record of a message of the active database by its ID into
// out (MailRec or MsgNmbrRec); false when it is not there.
bool readMailHeader(uint32_t id, MailRec& out);
bool readMessageHeader(uint32_t id, MsgNmbrRec& out);
std::string threadHeading(uint32_t threadId);

} // namespace qb
