// Helpers shared by the readers of the CompuServe offline programs: the DOS
// character conversion, the splitting of From/To texts into name and address,
// the owner of the run's mail database, dates, and the text clean-up of the
// binary filing files.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "import/linequeue.h"
#include "import/parser.h"
#include "internet/mailheaders.h"

namespace qb::cis {

// The Windows-1252 character of a code page 850 byte; characters without a
// Windows-1252 code (box drawing and the like) become blanks.
unsigned char dosTo1252(unsigned char c);
void dosToWindows(std::string& s);

// Digits, with leading blanks allowed (at least one digit, nothing after them).
bool isNumeric(std::string_view s);
// Value of a numeric text; 0 when it is not numeric or too large for 32 bits.
uint32_t toNumber(std::string_view s);

bool startsWith(std::string_view s, std::string_view prefix);
bool startsWithNoCase(std::string_view s, std::string_view prefix);
// Drops a trailing "@b" (after trailing blanks) from s.
void dropTrailingAtB(std::string& s);
std::string trimRight(std::string_view s);
// The text without a pair of enclosing double quotes.
std::string unquote(std::string_view s);

// Splits a From/To text into address and display name: mode 1 forum style
// (a text without a CompuServe ID is all name), mode 2 mail style.
void splitFromTo(int mode, std::string_view text, std::string& address, std::string& name);
// The forum-style split of a sender or receiver line: a trailing "(X)" is
// dropped first.
void splitForumPerson(std::string_view text, std::string& address, std::string& name);
// The mail-style split: "name >INTERNET:addr" and "name INTERNET addr" first,
// then the general split.
void splitMailPerson(std::string_view text, std::string& address, std::string& name);

// A date written DD-MMM-YY (month names in English or German); 0 when it
// cannot be read. Two-digit years follow the system's year window.
int32_t readDate9(std::string_view s);
// "HH:MM" or "HH:MM:SS" from the start of s; 0 when there is no time.
int32_t readClock(std::string_view s);

// The owner of the run's mail database: its name and its addresses.
class MailOwner {
public:
    // Reads the mail database's Forums row (the FOR buffer is kept as it
    // was). Without a row the name comes from the target list and every
    // address slot is blank.
    void load(const ImportContext& ctx);
    bool loaded() const { return loaded_; }
    const std::string& name() const { return name_; }          // first 40 characters
    const std::string& address() const { return address_; }  // default address as stored
    // True when the address is one of the owner's (letter case ignored; an
    // empty address is never the owner's).
    bool isOwn(std::string_view address) const;
    // Classifies a mail by its sender address: 1 INBOX, 2 OUTBOX. Sets the
    // addresses to store: INBOX: receiver = default address, sender in lower
    // case; OUTBOX: sender = default address, receiver in lower case.
    int classify(std::string& sender, std::string& receiver) const;

private:
    bool loaded_ = false;
    std::string name_;
    std::string address_;
};

// Forum name of the database chosen for the run ("" when none).
std::string runForumName(const ImportContext& ctx);

// Sets the fields that every mail record carries: the mail database's name,
// the message and reference numbers from the private counter, the type and
// the receiver kind. Returns the new ID.
uint32_t startMail(ImportContext& ctx, uint8_t mailType);

// Joins the entries [first, last) of a queue into a memo text: leading empty
// lines skipped, CR LF after each entry that is not continued, removed lines
// left out, at most 64000 characters.
std::string joinBody(const LineQueue& q, size_t first, size_t last);

// The text clean-up of the binary filing files: line feeds become CR LF
// pairs, "@b" soft breaks become line ends, a leading "@l" is dropped, and
// line ends and marks are trimmed from both ends. For mail, a text that
// begins with Internet header lines is converted like an Internet body.
void cleanFilingText(std::string& text, bool mail);

// The prefix removed when s starts with it (letter case ignored).
std::string afterPrefixNoCase(const std::string& s, std::string_view prefix);
// The stored form of an address given apart from its name: without an
// "INTERNET:" prefix, and a CompuServe ID written with a point in comma form.
std::string convertAddress(std::string a);
// A name given apart from its address: without enclosing quotes, and empty
// when it only repeats the address.
std::string personName(const std::string& name, const std::string& address);

struct Receiver {
    std::string name, address, kind;  // kind "TO", "CC" or "BC"
};

// Writes the mail filled in NHR (sender side, dates, text, IDs and type set)
// for its receivers. A received mail is written once with the owner as
// receiver; with several receivers each becomes a carbon copy (of kind "CC"
// when inboxCopiesAsCC, else of its own kind). A sent mail is written once per
// receiver, every one after the first with a new ID. Without receivers the
// mail is written with receiver kind "NN" (a sent one with an empty receiver,
// unless storeEmptyOutbox is false).
void storeMailRecords(ImportContext& ctx, const MailOwner& owner, std::vector<Receiver> rcv, bool storeEmptyOutbox,
                      bool inboxCopiesAsCC);

// Cuts text at CR LF (or LF) into the entries of a line queue.
void textToQueue(std::string_view text, LineQueue& q);

} // namespace qb::cis
