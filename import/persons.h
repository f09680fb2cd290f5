// Persons and names: splitting From/To texts into name and address, splitting
// names into last and first name, finding or making the person of a (name,
// address) pair in the active database, the owner of a mail database and the
// direction of a mail.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qb {

// Splits a display name into last name and first name, cut at the given lengths.
// "Mary Ann Jones" -> "Jones" / "Mary Ann"; "John Smith III" -> "Smith III" / "John".
void ParseName(std::string_view name, std::string& last, std::string& first, size_t lastLen = 25,
               size_t firstLen = 25);

// The identity string of a person: name without trailing blanks, one blank, the
// address, in capitals, at most 100 characters.
std::string personString(std::string_view name, std::string_view address);

// Finds or makes the person for (name, address) in the Person table of the active
// database. 0: the person's row is current in PER. 1: failure, the transaction has
// been rolled back (a failed ID draw or add). Call inside a transaction covering
// Person, PLINK and Control.
int AddPers(std::string_view address, std::string_view name);

// Splits a From/To text into address and display name. Mode 1 forum style (a text
// without a CompuServe ID is all name), mode 2 mail style (such a text is split at
// its last blank, the address after it).
void FindCISAdress(int mode, std::string_view text, std::string& address, std::string& name,
                   size_t addressLen = 100, size_t nameLen = 100);

// ---- Owner of a mail database --------------------------------------------------
enum MailDirMode : int { MailDirTest = 1, MailDirLoad = 2, MailDirClassify = 3 };
enum MailKind : int { MailInbox = 1, MailOutbox = 2 };

// Mode 2: loads the owner's addresses of mail database forumId from its Forums row
// (empty slots and owner 0 when the row cannot be read); result 1 when loaded, 0 not.
// Mode 3: classifies (sender, receiver): 1 INBOX (receiver := the owner's default
// address, sender lower-cased) or 2 OUTBOX (sender := the default address,
// receiver lower-cased).
// Mode 1: tests the address in sender: 0 it is one of the owner's, 1 it is not.
// An empty address is never the owner's.
int MailDirection(int mode, uint32_t forumId, std::string& sender, std::string& receiver);

// Convenience forms of MailDirection.
bool loadMailOwner(uint32_t forumId);                   // mode 2
int classifyMail(std::string& sender, std::string& receiver);  // mode 3
bool isOwnerAddress(std::string_view address);          // mode 1 gives 0

// What mode 2 cached.
struct MailOwner {
    uint32_t forumId = 0;
    uint32_t personId = 0;     // FOR:PERSONID
    std::string name;          // first 40 characters of FOR:DESCRIPTION
    std::string address;       // FOR:MAILADDRESS as stored
};
const MailOwner& mailOwner();

// The owner person used for alpha copies of the store step during one run: its
// ID and last name (25). Emptied by MailDirection mode 2 and by resetStoreRun.
struct OwnerAlpha {
    uint32_t personId = 0;
    std::string lastName;
    bool known() const { return personId != 0; }
};
OwnerAlpha& ownerAlphaCache();

// Makes the owner person current in the run's cache: the first call reads the
// owner person of the loaded mail settings (FOR:PERSONID) from Person, or, when
// it is not there, finds or makes it by AddPers(address, name). False when
// AddPers failed (the transaction has been rolled back).
bool ownerPerson(std::string_view address, std::string_view name);

// Recounts the mail of the person current in PER (Mail open). 0 counts unchanged;
// 2 PER:FROMCOUNT/PER:TOCOUNT were set (the caller writes the row); 3 the person
// has no mail at all (mode 0 only; mode 1 then sets both counts to 0 and gives 2).
int CFromToMail(int mode);

// True for a CompuServe user ID in comma form ("12345,678").
bool isCompuServeId(std::string_view address);

} // namespace qb
