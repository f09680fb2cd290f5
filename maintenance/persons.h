// Person maintenance of the active database: the person list, renaming a
// person (and its alpha copies in the message rows), the alias identity
// strings and the swap of the current one, moving a person's messages to
// another person, and the merge of chosen persons into one.
//
// The functions open the tables they need through OP_CLOSE and close them
// again; those that write do so in transactions of their own, except the
// message recoding, which runs inside the caller's transaction.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/tables.h"

namespace qb {

// "Mail Partners", "Forum Members", "Newsgroup Participants" for a database kind.
std::string personsWord(int kind);
// Singular: "Mail Partner", "Forum Member", "Newsgroup Participant".
std::string personWord(int kind);
// " Mail Partners [" + description + "]" and so on.
std::string personBrowseTitle(int kind, const std::string& description);

// Every person of the active database, by PER:NameKey or PER:AddressKey.
std::vector<PersonRec> listPersons(bool byAddress);
// Reads a person by ID into out; false when there is none.
bool readPerson(uint32_t id, PersonRec& out);
// The own person of the active mail database (Mem.PersonID); false elsewhere.
bool isOwnPerson(uint32_t id);

// A person as message rows refer to it: ID and last name (the alphas are cut from it).
struct PersonRef {
    uint32_t id = 0;
    std::string last;
};

// Moves every reference to `from` in the active database's message headers
// (MsgNmbr sender and receiver; Mail sender, receiver and pair) to `to`,
// alpha copies included. Runs inside the caller's transaction over the
// header table; the header table must be open. Adds the rows changed to
// *changed; false after a write failure (reported, transaction rolled back).
bool recodePersonMessages(const PersonRef& from, const PersonRef& to, uint64_t* changed = nullptr);

// The messages of a person: sent and received, and the date of the latest.
struct PersonMessages {
    uint32_t sent = 0;
    uint32_t received = 0;
    int32_t latest = 0;
};
// Counts the messages of a person by the from and to keys (header table open).
PersonMessages personMessages(const PersonRef& who);
// The IDs of the messages a person sent or received, newest first (header table open).
std::vector<uint32_t> messagesOfPerson(const PersonRef& who);

// ---- Rename ------------------------------------------------------------------
enum class SaveResult { Saved, ChangedByOther, NotFound, Failed };

// Saves a new last and first name for the person `opened` (the copy read when
// the form opened). The row is read again in the transaction; when it differs
// from `opened`: "The record has just been changed by another user!\r\nTry
// again!" and ChangedByOther. A changed last name rewrites the alpha copies of
// the person's messages. Renaming the own person of a mail database renames
// the database (first name + " " + last name).
SaveResult renamePerson(const PersonRec& opened, const std::string& last, const std::string& first);

// ---- Aliases and swap ----------------------------------------------------------
struct PersonAlias {
    std::string personString;  // the alias identity string
    std::string address;       // what follows its last blank, in lower case
};
// The PLINK rows of the person whose address differs (letter case ignored)
// from the person's current address; with all, every PLINK row of the person.
std::vector<PersonAlias> personAliases(uint32_t id, bool all = false);
// The address part of an identity string: what follows its last blank, lower case.
std::string aliasAddress(const std::string& personString);

// Makes `newString` (one of the person's alias strings) its current identity
// with `newAddress`; the alias row then holds the previous string. Refused for
// the own person of a mail database ("You are not allowed to change the mail
// default address!"). False after a message.
bool swapIdentity(uint32_t id, const std::string& newString, const std::string& newAddress);

// ---- Merge ---------------------------------------------------------------------
struct MergeOutcome {
    int merged = 0;   // persons moved into the kept one and removed
    int refused = 0;  // own person of a mail database, or not found
    bool failed = false;
};
// Merges every person of `others` into `keepId`, one transaction each: the
// messages move, the person's aliases and its own identity string point to
// the kept person, the person is deleted. The kept person is recounted at the end.
MergeOutcome mergePersons(uint32_t keepId, const std::vector<uint32_t>& others);

// Points the PLINK rows of person fromId, and fromString itself, to toId
// (inside the caller's transaction over PLINK). False after a write failure.
bool pointAliasesTo(uint32_t fromId, const std::string& fromString, uint32_t toId);

// Sets the sent/received counts of the person in PER from its messages (the
// shared counting; never deletes it). Header table open. True when the
// person has messages (or is the own person of a mail database).
bool recountCurrentPerson(bool* changed);

// The warning text given whenever the own person of a mail database would change.
extern const char* const kOwnPersonRefused;

} // namespace qb
