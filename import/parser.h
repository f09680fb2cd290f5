// What a reader's parser sees of an import run: the run's settings, the
// target-database list with its routing lookup, the private ID counter and the
// temporary files it appends to.
//
// A parser is made per file by makeParser(reader name). The pipeline calls
// begin() once and then step() on every tick until it reports Done. For each
// message it recognises, the parser clears NHR (NewHR.clearBuffer()), fills the
// fields and NHR_MSGTEXT, routes the message with route() and calls
// ImportContext::store(); a message it drops is counted with skip().
#pragma once
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/kinds.h"

namespace qb {

// Message kinds: KindForum, KindMail, KindNews (core/kinds.h).

struct ImportSettings {
    std::string reader;            // reader name exactly as in the catalogue
    uint8_t messageKind = KindMail;   // the kind a reader of several kinds delivers in this run
    uint32_t mailDb = 0;           // FOR:ID of the target mail database
    bool importMail = true, importForum = true, importNews = true;
    uint8_t filter = 1;            // 1 import all messages, 2 database creation only
    bool allowReimport = false;    // "Update existing messages"
    uint32_t mailTopic = 0;        // Codes ID attached to every imported mail
    uint8_t method = 2;            // 0 tree, 1 directory with masks, 2 selected files
    std::string path;              // the top directory, the directory, or the files (";"-separated)
    std::string masks;             // ";"-separated masks for methods 0 and 1
    uint32_t forumDb = 0;          // FOR:ID of the forum database chosen for a reader whose files do
                                   // not name their forum; 0 for readers that name it
};

struct TargetDb {
    uint32_t id = 0;
    std::string description;
    std::string descUpr;           // description in capitals (Windows-1252)
    uint32_t dirNumber = 0;
    uint8_t newItem = 0;           // 1: created in this run
    uint8_t allowImport = 1;       // 0: FOR:NOIMPORT set
    uint8_t forumType = 1;         // 1 forum, 2 mail, 3 newsgroup
};

struct Route {
    bool found = false;
    uint32_t id = 0;
    uint8_t allowImport = 0;
    uint8_t type = 0;
};

class ImportContext {
public:
    ImportSettings settings;
    std::vector<TargetDb> targets;   // every database of the run
    std::vector<uint32_t> routed;    // IDs of the databases that at least one message was routed to
    uint32_t nextId = 0;             // the private ID counter (new mail IDs and new database IDs)
    uint32_t nextDirNumber = 1;      // directory number of the next new database
    // The forum of the run for a reader whose files name their forum, taken by
    // the messages that name none (settings.forumDb is 0 then).
    uint32_t fallbackForumDb = 0;
    uint64_t progress = 0;           // bytes of the current file done (parsers keep it current)
    uint64_t written = 0;            // temporary records written
    uint64_t skipped = 0;            // messages dropped or refused
    // A record that could not be written to a temporary file (a full disk, a
    // lost file): the run must not go on as if the message had been dropped.
    bool writeFailed = false;
    std::string writeError;          // the storage error of the first failed write

    // The saved-message test of condition (d): true when (database, number)
    // was stored before. The pipeline sets it; unset means "never stored".
    std::function<bool(uint32_t db, uint32_t msgNumber)> alreadySaved;

    // Fills the list from the Forums rows (Forums must be open) and sets
    // nextDirNumber one above the highest directory number.
    void loadTargets();

    // The routing lookup: the database of this name (letter case ignored).
    // Forum and newsgroup names not in the list become new entries with an ID
    // from the private counter. Mail (kind 2) goes to the run's mail database
    // whatever the name; so does a forum message when the run has a chosen
    // forum database (settings.forumDb). The database enters `routed` when
    // import is allowed.
    Route route(const std::string& dbName, uint8_t kind);

    // A new ID from the private counter (never 0).
    uint32_t newId();

    // Writes the current NHR record (and NHR_MSGTEXT) to the temporary import
    // file when it may be (conditions (a)-(d) of the run); otherwise counts it
    // as skipped. NHR.INTERNAL must hold the routed database. True when written.
    bool store(uint8_t kind, const Route& route);

    // One carbon-copy record (mail parsers, per copy recipient).
    bool addCarbonCopy(uint32_t mailId, const std::string& name, const std::string& address,
                       const std::string& recipType);
    // One message-identifier record (newsgroup parsers).
    bool addMessageId(const std::string& idString, uint32_t msgNumber);

    void skip() { ++skipped; }
    void noteWriteError();

    // A message that a reader could not parse (an exception while reading it):
    // it is counted as skipped and its error kept for the report of the file.
    uint64_t failedMessages = 0;
    std::string failureText;         // the error of the first such message since the last report
    void messageFailed(const std::string& what);
    // Runs the reading of one message; an exception it throws fails that
    // message only (messageFailed) and the reader goes on with the next.
    template <class F>
    void oneMessage(F&& f) {
        try {
            f();
        } catch (const std::exception& e) {
            messageFailed(e.what());
        }
    }

    const TargetDb* target(uint32_t id) const;
    TargetDb* target(uint32_t id);

    // Creates the temporary tables (NewHR, TempCC, TempID) empty in the
    // temporary directory, opens them and puts them in stream mode. False
    // (after a message) when that fails.
    bool openTemporary();
    // Flushes the temporary tables and builds their keys; leaves them open.
    // The error text of a failed key build is left in errorText().
    bool buildTemporaryKeys(std::string* failedTitle = nullptr);
    void closeTemporary();
};

enum class ParseStatus {
    More,           // call step() again
    Done,           // the file is done
    NotThisReader,  // the file is not one of this reader (message in failText())
    Failed,         // the file cannot be read any further (message in failText())
};

class Parser {
public:
    virtual ~Parser() = default;
    // Opens the file. More when messages may follow.
    virtual ParseStatus begin(const std::string& path, ImportContext& ctx) = 0;
    // Parses at most `batch` messages.
    virtual ParseStatus step(ImportContext& ctx, int batch) = 0;
    // Text of the message box for NotThisReader or Failed ("" for none).
    virtual std::string failText() const { return failText_; }
    // Progress text of the current pass ("Pre-import message conversion" or
    // "Pre-import first pass").
    virtual std::string passText() const { return "Pre-import message conversion"; }

protected:
    std::string failText_;
};

using ParserFactory = std::function<std::unique_ptr<Parser>()>;

// Readers register their parser under the catalogue name at load time:
//   static const bool reg = qb::registerParser("Unix Mail", [] { return std::make_unique<X>(); });
bool registerParser(const std::string& reader, ParserFactory factory);
std::unique_ptr<Parser> makeParser(const std::string& reader);
std::vector<std::string> registeredParsers();

} // namespace qb
