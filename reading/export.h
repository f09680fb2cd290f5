// Giving messages back to other programs: the export of a set of messages
// into the files of another reader (CopyMsg), the printed report of them
// (PrintMsg, drawn by the program through a ReportSink), the status and topic
// operations of the batch window over the same sets, the export dialog's
// remembered settings (Context, MailContext) and the address books
// (CopyAddress).
//
// A set of messages is a scope relative to the current message of a browse:
//   0 the current message to the clipboard (the program does that itself)
//   1 the current message alone (plain layout for forum and newsgroup messages)
//   2 its sender, 3 its receiver, 4 its thread (mail: its partner),
//   5 its section (forum and newsgroup), 6 the whole database,
//   7 a key word, 8 a topic, 9 the last search result.
// Files go to the temporary directory (Mem.TempDir); text is Windows-1252
// with CR LF line ends.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/tables.h"
#include "reading/render.h"

namespace qb {

enum Scope : uint8_t {
    ScopeClipboard = 0,
    ScopeCurrent = 1,
    ScopeSender = 2,
    ScopeReceiver = 3,
    ScopeThread = 4,  // mail: the partner
    ScopeSection = 5,
    ScopeAll = 6,
    ScopeWord = 7,
    ScopeTopic = 8,
    ScopeSearch = 9,
};

// Flags of CopyMsg and PrintMsg.
enum ExportFlag : uint32_t { ExportDateRange = 1 };

// A box to show: its title and text.
struct BoxText {
    std::string title, text;
};

// ---- checks of the batch dialog (also used by the command line) -------------

// A file name that names a directory too ("Filename error").
bool fileNameHasPath(std::string_view name);
std::optional<BoxText> checkFileName(std::string_view name);
// from and to are day numbers, 0 when not valid ("Date range filter error").
std::optional<BoxText> checkDateRange(int32_t from, int32_t to);
// A day number from a date written YYYY-MM-DD; 0 when it is not a valid date.
int32_t isoDay(const std::string& text);
// Inbox and outbox names that are the same file ("File name conflict").
bool sameFileName(std::string_view a, std::string_view b);

// ---- export files ---------------------------------------------------------------

// The names the dialog proposes for a database kind (1 forum, 2 mail, 3
// newsgroup) and target: the first (received mail, forum and newsgroup
// messages) and the second (sent mail; empty when all goes to the first).
struct ExportNames {
    std::string first, second;
};
ExportNames defaultExportNames(uint8_t kind, int target, std::string_view databaseName);
// The OzWin II forum file: the first 8 characters of the database name
// without trailing blanks, and ".SAV".
std::string ozwinForumFileName(std::string_view databaseName);
// Windows-1252 to the DOS code page 850 of TAPCIS.
unsigned char toCp850(unsigned char c);
std::string toCp850(std::string_view s);
// The targets offered for a database kind, in the dialog's order.
std::vector<int> targetsOffered(uint8_t kind);
const char* targetName(int target);  // "TAPCIS", "Eudora", "Unix RFC822", "OzWin II"

// ---- the set of messages ---------------------------------------------------------

// What the scopes 7 and 8 take: the key word and the topic chosen in the
// browse. Set by the caller before step 1.
struct ScopeChoice {
    uint32_t wordId = 0;
    uint32_t topicId = 0;
};
ScopeChoice& scopeChoice();

// The IDs of the messages of a scope of the active database, oldest first
// (mail by date, forum and newsgroup messages by number; the thread in
// thread order). The tables must be open (ScopeTables). Empty when the
// current message is not there (scopes 1-5).
std::vector<uint32_t> scopeMessages(uint8_t scope, uint32_t currentId, const ScopeChoice& choice);

// Opens the tables a walk over a scope reads (closed again by the destructor).
struct ScopeTables {
    std::vector<int> numbers;
    explicit ScopeTables(uint8_t scope);
    ~ScopeTables();
    ScopeTables(const ScopeTables&) = delete;
    ScopeTables& operator=(const ScopeTables&) = delete;
};

// Does the message's date lie in the range? (inclusive)
bool inDateRange(const RenderInput& in, int32_t from, int32_t to);

// A walk over the messages of a scope, each loaded for rendering, passing
// over those outside the date range when it is on. Holds the scope's tables
// open from start to stop.
class ScopeWalk {
public:
    // The key word and topic of scopes 7 and 8 come from scopeChoice().
    void start(uint8_t scope, uint32_t currentId, int32_t from, int32_t to, bool range);
    bool next(RenderInput& in);   // false at the end
    bool more() const { return next_ < ids_.size(); }
    size_t total() const { return ids_.size(); }
    size_t done() const { return next_; }
    void stop();
    bool active() const { return tables_ != nullptr; }
    // For walks that only read (export, print): the messages are read a run
    // of a few hundred at a time in one read transaction. Set before start.
    void readInRuns(bool on) { runs_ = on; }

private:
    bool load(uint32_t id, RenderInput& in);
    const PersonRec& person(uint32_t id);
    std::unique_ptr<ScopeTables> tables_;
    std::unordered_map<uint32_t, PersonRec> persons_;
    std::vector<uint32_t> ids_;
    size_t next_ = 0;
    int32_t from_ = 0, to_ = 0;
    bool range_ = false;
    bool runs_ = false;
    std::vector<Table*> runTables_;  // the tables of the open run; empty when none is open
    int runReads_ = 0;
    void endRun();
};

// ---- CopyMsg and PrintMsg ------------------------------------------------------

// fileMode 1 creates the files anew, 2 appends (creating missing files).
// step 1 opens the files, finds the scope and writes the first message; step 2
// the next one; step 3 closes. The result is 1 while the scope has more
// messages, 0 when it is exhausted or the export ended (see exportStatus).
uint8_t CopyMsg(uint8_t fileMode, uint8_t scope, uint8_t step, uint32_t messageId, const std::string& firstName,
                const std::string& secondName, int32_t fromDate, int32_t toDate, uint32_t flags);

struct ExportStatus {
    uint64_t count = 0;               // messages written (or printed)
    std::vector<std::string> files;   // the files opened, full paths
    bool failed = false;              // a file could not be opened or written
};
const ExportStatus& exportStatus();

// One message of the printed report.
struct ReportEntry {
    std::string number;   // "1234", forum replies "1234  (reply to 1200)"
    std::string date;     // in the user's date format
    std::string subject, from, to, text;
};
// Where PrintMsg puts the report; the program draws it on a printer or into
// a PDF file. begin and add return false when the device failed.
class ReportSink {
public:
    virtual ~ReportSink() = default;
    virtual bool begin(const std::string& title) = 0;
    virtual bool add(const ReportEntry& entry) = 0;
    virtual bool end() = 0;
};
void setReportSink(ReportSink* sink);
// "Messages from the Quillbox Message Archiver Database" or "Mail from ...".
std::string reportTitle(bool mail);
ReportEntry reportEntry(const RenderInput& in, const std::string& datePicture);

uint8_t PrintMsg(uint8_t fileMode, uint8_t scope, uint8_t step, uint32_t messageId, int32_t fromDate, int32_t toDate,
                 uint32_t flags);
const ExportStatus& printStatus();

// ---- status and topics over a scope -------------------------------------------------

// The row a status set over the scope writes to: the message itself for scope
// 1; without a date range the thread, section, partner or database for scopes
// 4, 5, 6 (partner for mail scope 4); otherwise nothing (every message of the
// scope is written). id is that row's ID.
struct StatusRow {
    bool single = false;
    int what = 0;  // a StatusTarget of browseview.h
    uint32_t id = 0;
};
StatusRow statusRowOfScope(uint8_t scope, uint32_t currentId, bool dateRange);

// The ID of the indexed word, 0 when it is not in the word list.
uint32_t wordIdByText(const std::string& word);

// ---- the batch window's operations ------------------------------------------------

// Operation codes: 1 export into new files, 2 export appending, 3 print, 4
// attach a topic, 5 remove a topic, 6, 7, 8 set the status normal, keep,
// delete (the status is the code minus 6).
enum BatchOperation : int {
    OpExportNew = 1,
    OpExportAppend = 2,
    OpPrint = 3,
    OpAttachTopic = 4,
    OpRemoveTopic = 5,
    OpStatusNormal = 6,
    OpStatusKeep = 7,
    OpStatusDelete = 8,
};

struct BatchRequest {
    int operation = OpExportNew;
    uint8_t scope = ScopeAll;
    uint32_t messageId = 0;
    std::string firstName, secondName;  // export
    bool dateRange = false;
    int32_t fromDate = 0, toDate = 0;
    uint32_t topicId = 0;               // topics
    ScopeChoice choice;                 // scopes 7 and 8
};

// One run of an operation over a scope, a batch of messages at a time. Print
// draws on the report sink set with setReportSink.
class BatchRun {
public:
    explicit BatchRun(BatchRequest r) : r_(std::move(r)) {}
    ~BatchRun() { finish(); }
    // False (after a message where there is one) when the run cannot start.
    bool start();
    // Works on at most n messages; false once the run has ended.
    bool tick(int n);
    // Ends the run (also after an abort); what was done stays.
    void finish();
    void abort() { aborted_ = true; }
    bool aborted() const { return aborted_; }
    bool failed() const { return failed_; }
    uint64_t count() const { return count_; }
    size_t total() const { return walk_.total(); }
    const BatchRequest& request() const { return r_; }
    // "Exporting messages ... please wait!" and the others.
    static std::string workingText(int operation);
    // "Messages exported!" and the others.
    static std::string doneText(int operation);

private:
    bool exporting() const { return r_.operation == OpExportNew || r_.operation == OpExportAppend; }
    uint8_t step(uint8_t no);
    BatchRequest r_;
    ScopeWalk walk_;
    bool started_ = false, ended_ = false, aborted_ = false, failed_ = false;
    uint64_t count_ = 0;
};

// ---- Context and MailContext ---------------------------------------------------------

// The export dialog's last settings: mode 2 keeps the caller's record, mode 3
// gives it back (zeros before the first mode 2). Forum and newsgroup
// databases use 63 bytes, mail databases 74. 1 done, 0 for another mode or
// length.
#pragma pack(push, 1)
struct ContextHead {
    uint8_t operation;   // 1-8, as the batch window's operation codes
    uint8_t scope;
    uint8_t target;
    uint8_t dateRange;
    int32_t fromDate;
    int32_t toDate;
    uint8_t status;
    uint8_t removeTopic;
    uint32_t topicId;
};
struct DialogContext {       // forum and newsgroup databases
    ContextHead head;
    char firstName[45];
};
struct MailDialogContext {   // mail databases
    ContextHead head;
    char firstName[28];      // inbox
    char secondName[28];     // outbox
};
#pragma pack(pop)
static_assert(sizeof(DialogContext) == 63 && sizeof(MailDialogContext) == 74);
constexpr int kContextLength = 63;
constexpr int kMailContextLength = 74;
int Context(int mode, int length, void* buffer);
int MailContext(int mode, int length, void* buffer);

// ---- address export -------------------------------------------------------------------

// The file name the dialog proposes: "Address.Ab" for OzWin II, else "Address.Txt".
std::string defaultAddressFileName(int target);
// The entry of one person for a target; nothing when the person is skipped
// (no address). Already in the file's form (code page 850 for TAPCIS, the
// binary record for OzWin II).
std::optional<std::string> addressEntry(const PersonRec& p, int target, const std::string& cisDomain);
// Writes every person of the active database to the file in the temporary
// directory; the number written, or -1 when the file could not be made
// (after a message).
long long CopyAddress(int target, const std::string& fileName);
// The path of the last address file written.
const std::string& addressFilePath();

} // namespace qb
