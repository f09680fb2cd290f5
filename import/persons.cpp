#include "import/persons.h"

#include <algorithm>
#include <array>
#include <climits>

#include "core/access.h"
#include "core/globals.h"
#include "core/settings.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/ui.h"

namespace qb {

namespace {

std::string cut(std::string_view s, size_t n) { return std::string(s.substr(0, s.size() < n ? s.size() : n)); }

bool isSeparator(char c) { return c == ' ' || static_cast<unsigned char>(c) == 179; }

// Digits, with leading blanks allowed; at least one digit.
bool numeric(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    if (i == s.size()) return false;
    for (; i < s.size(); ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

// Strips trailing '>', blanks and code-179 characters.
std::string stripNameEnd(std::string_view s, bool with179) {
    size_t n = s.size();
    while (n > 0 && (s[n - 1] == '>' || s[n - 1] == ' ' || (with179 && static_cast<unsigned char>(s[n - 1]) == 179)))
        --n;
    return std::string(s.substr(0, n));
}

std::string ltrim(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    return std::string(s.substr(i));
}

bool isGenerationSuffix(std::string_view s) {
    static constexpr std::array<std::string_view, 9> suffixes = {"I", "II", "III", "IV", "V", "l", "ll", "lll", "lV"};
    for (auto x : suffixes)
        if (s == x) return true;
    return false;
}

// The owner's addresses: slot 0 the default address, 1-10 the alternatives, all
// in lower case without trailing blanks.
std::array<std::string, 11> ownerSlots;
MailOwner owner;
OwnerAlpha alphaCache;

} // namespace

// ---- ParseName -----------------------------------------------------------------

void ParseName(std::string_view name, std::string& last, std::string& first, size_t lastLen, size_t firstLen) {
    const std::string_view n = rtrim(name);
    const size_t len = n.size();
    last.clear();
    first.clear();
    // Rightmost blank at 0-based index 1..len-1 (positions 2..L).
    auto blankBefore = [&](size_t from, size_t lowest) -> long {
        for (long i = static_cast<long>(from); i >= static_cast<long>(lowest); --i)
            if (n[static_cast<size_t>(i)] == ' ') return i;
        return -1;
    };
    long p = len >= 2 ? blankBefore(len - 1, 1) : -1;
    if (p < 0) {
        last = cut(n, lastLen);
        return;
    }
    std::string_view l = n.substr(static_cast<size_t>(p) + 1);
    std::string_view f = n.substr(0, static_cast<size_t>(p));
    if (isGenerationSuffix(rtrim(l))) {
        long q = p >= 1 ? blankBefore(static_cast<size_t>(p) - 1, 0) : -1;
        if (q >= 1) {
            l = n.substr(static_cast<size_t>(q) + 1);
            f = n.substr(0, static_cast<size_t>(q));
        } else {
            l = n;
            f = {};
        }
    }
    last = cut(l, lastLen);
    first = std::string(rtrim(cut(f, firstLen)));
}

// ---- Identity and AddPers ------------------------------------------------------

std::string personString(std::string_view name, std::string_view address) {
    std::string s(rtrim(name));
    s += ' ';
    s += rtrim(address);
    return std::string(rtrim(cut(upper(s), 100)));
}

int AddPers(std::string_view address, std::string_view name) {
    const std::string ident = personString(name, address);
    Person.clearBuffer();
    PER.PERSONSTRING = ident;
    if (Person.get(PER_StringKey)) return 0;

    bool staleAlias = false;
    PLINK.clearBuffer();
    PLI.PERSONSTRING = ident;
    if (PLINK.get(PLI_StringKey)) {
        const uint32_t id = PLI.PERSONID;
        Person.clearBuffer();
        PER.PERSONID = id;
        if (Person.get(PER_PersonKey)) return 0;
        staleAlias = true;
    }

    Person.clearBuffer();
    const uint32_t id = NextNr();
    if (id == 0) {
        if (!unattended())
            ui().message(Person.path(), "A new person ID could not be generated \r\nThe last transaction is rolled back.",
                         Icon::Exclamation);
        rollbackTransaction();
        return 1;
    }
    Person.clearBuffer();
    PER.PERSONID = id;
    PER.PERSONSTRING = ident;
    PER.ADDRESS = cut(rtrim(address), 60);
    std::string last, first;
    ParseName(name, last, first, 25, 25);
    PER.LASTNAME = last;
    PER.FIRSTNAME = first;
    PER.FROMCOUNT = 0;
    PER.TOCOUNT = 0;
    PER.LASTDATE = 0;
    PER.DUMMY = 0;
    if (!UppDat(Person, UppAdd, ModeReportRollback)) return 1;
    if (staleAlias) {
        // The alias pointed at a person that is gone; the identity string has its
        // own person now. A delete that fails leaves a harmless alias behind.
        PLINK.clearBuffer();
        PLI.PERSONSTRING = ident;
        if (PLINK.get(PLI_StringKey)) UppDat(PLINK, UppDelete, 0);
    }
    return 0;
}

// ---- FindCISAdress -------------------------------------------------------------

void FindCISAdress(int mode, std::string_view text, std::string& address, std::string& name, size_t addressLen,
                   size_t nameLen) {
    std::string t(rtrim(text));
    std::string addr, nm;
    auto finish = [&] {
        address = cut(addr, addressLen);
        name = std::string(rtrim(cut(nm, nameLen)));
    };

    // 1. A mail text naming the CompuServe Internet gateway.
    if (mode == 2) {
        size_t p = t.find("CSINET");
        if (p != std::string::npos) {
            size_t after = p + 6;
            if (after < t.size() && t[after] == ':') ++after;
            addr = after < t.size() ? ltrim(std::string_view(t).substr(after)) : std::string();
            nm = p >= 1 ? t.substr(0, p) : std::string();
            std::string a(rtrim(addr));
            size_t at = a.find('@');
            if (a.size() >= 5 && at != std::string::npos && at >= 1) addr = a.substr(0, at);
            finish();
            return;
        }
    }

    // 2. A CompuServe ID at the end of the text.
    size_t len = t.size();
    bool commaFound = false;
    if (len > 3) {
        long k = -1;
        for (long i = static_cast<long>(len) - 3; i >= 1; --i)
            if (t[static_cast<size_t>(i)] == ',' || t[static_cast<size_t>(i)] == '.') { k = i; break; }
        if (k >= 0) {
            commaFound = true;
            const bool bracketed = t.back() == ']';
            size_t e = bracketed ? len - 1 : len;  // end (exclusive) of the ID
            size_t kk = static_cast<size_t>(k);
            bool tailNumeric = numeric(std::string_view(t).substr(kk + 1, e - kk - 1));
            if (tailNumeric) {
                t[kk] = ',';
                if (kk + 1 < e && t[kk + 1] == ' ' && kk + 1 < e - 2) {
                    t.erase(kk + 1, 1);
                    --e;
                    --len;
                }
                long b = -1;
                for (long i = k - 1; i >= 0; --i)
                    if (isSeparator(t[static_cast<size_t>(i)])) { b = i; break; }
                size_t headStart = b >= 0 ? static_cast<size_t>(b) + 1 : 0;
                if (bracketed && headStart < kk && t[headStart] == '[') ++headStart;
                std::string_view head = std::string_view(t).substr(headStart, kk - headStart);
                if (numeric(head)) {
                    addr = ltrim(t.substr(headStart, e - headStart));
                    nm = b >= 0 ? stripNameEnd(std::string_view(t).substr(0, static_cast<size_t>(b)), true)
                                : std::string();
                    finish();
                    return;
                }
            }
            t.resize(e);
            len = e;
        }
    }

    // 3. Mail style without any comma or point: the address follows the last blank.
    if (!commaFound && mode == 2) {
        long b = -1;
        for (long i = static_cast<long>(len) - 1; i >= 1; --i)
            if (isSeparator(t[static_cast<size_t>(i)])) { b = i; break; }
        if (b >= 0) {
            addr = t.substr(static_cast<size_t>(b) + 1);
            nm = stripNameEnd(std::string_view(t).substr(0, static_cast<size_t>(b)), false);
            size_t colon = addr.find(':');
            if (colon != std::string::npos && colon + 1 < addr.size()) addr = addr.substr(colon + 1);
        } else {
            addr = t;
        }
        finish();
        return;
    }

    // 4. Fallback.
    if (mode == 1) {
        nm = t;
    } else {
        long b = -1;
        for (long i = static_cast<long>(len) - 1; i >= 1; --i)
            if (isSeparator(t[static_cast<size_t>(i)])) { b = i; break; }
        if (b >= 1) {
            addr = t.substr(static_cast<size_t>(b) + 1);
            nm = t.substr(0, static_cast<size_t>(b));
        } else {
            addr = t;
        }
    }
    finish();
}

// ---- MailDirection -------------------------------------------------------------

namespace {
bool matchesOwner(std::string_view address) {
    const std::string a = lower(rtrim(address));
    if (a.empty()) return false;  // an unknown address is never the owner's
    for (const std::string& slot : ownerSlots)
        if (!slot.empty() && slot == a) return true;
    return false;
}
} // namespace

int MailDirection(int mode, uint32_t forumId, std::string& sender, std::string& receiver) {
    switch (mode) {
    case MailDirLoad: {
        for (auto& s : ownerSlots) s.clear();
        owner = MailOwner{};
        alphaCache = OwnerAlpha{};
        bool opened = false;
        if (!Forums.isOpen()) {
            OP_CLOSE(OpOpenShared, Forums.number());
            if (!Forums.isOpen()) return 0;
            opened = true;
        }
        const ForumsRec saved = FOR;
        Forums.clearBuffer();
        FOR.ID = forumId;
        bool found = forumId != 0 && Forums.get(FOR_ForumKey);
        if (found) {
            ownerSlots[0] = lower(FOR.MAILADDRESS.view());
            for (int i = 0; i < 10; ++i) ownerSlots[static_cast<size_t>(i) + 1] = lower(FOR.ALTADDRESS[i].view());
            owner.forumId = forumId;
            owner.personId = FOR.PERSONID;
            owner.name = cut(FOR.DESCRIPTION.view(), 40);
            owner.address = FOR.MAILADDRESS.str();
        }
        FOR = saved;
        if (opened) OP_CLOSE(OpClose, Forums.number());
        return found ? 1 : 0;
    }
    case MailDirClassify:
        if (matchesOwner(sender)) {
            receiver = lower(rtrim(receiver));
            sender = owner.address;
            return MailOutbox;
        }
        receiver = owner.address;
        sender = lower(rtrim(sender));
        return MailInbox;
    case MailDirTest:
        return matchesOwner(sender) ? 0 : 1;
    default:
        return 0;
    }
}

bool loadMailOwner(uint32_t forumId) {
    std::string s, r;
    return MailDirection(MailDirLoad, forumId, s, r) == 1;
}

int classifyMail(std::string& sender, std::string& receiver) {
    return MailDirection(MailDirClassify, 0, sender, receiver);
}

bool isOwnerAddress(std::string_view address) {
    std::string s(address), r;
    return MailDirection(MailDirTest, 0, s, r) == 0;
}

const MailOwner& mailOwner() { return owner; }

OwnerAlpha& ownerAlphaCache() { return alphaCache; }

bool ownerPerson(std::string_view address, std::string_view name) {
    if (alphaCache.known()) return true;
    bool found = false;
    if (owner.personId != 0) {
        Person.clearBuffer();
        PER.PERSONID = owner.personId;
        found = Person.get(PER_PersonKey);
    }
    if (!found && AddPers(address, name) != 0) return false;
    alphaCache.personId = PER.PERSONID;
    alphaCache.lastName = PER.LASTNAME.str();
    return true;
}

// ---- CFromToMail ---------------------------------------------------------------

namespace {
uint32_t countMail(int key, bool from, const Str<10>& alpha, uint32_t id) {
    Mail.clearBuffer();
    if (from) {
        MAI.FROMALPHA = alpha.view();
        MAI.FROMID = id;
    } else {
        MAI.TOALPHA = alpha.view();
        MAI.TOID = id;
    }
    MAI.DATE = INT32_MAX;
    MAI.TIME = INT32_MAX;
    MAI.MAILID = UINT32_MAX;
    Mail.setFrom(key);
    uint32_t n = 0;
    while (Mail.next()) {
        const Str<10>& a = from ? MAI.FROMALPHA : MAI.TOALPHA;
        const uint32_t rowId = from ? MAI.FROMID : MAI.TOID;
        if (compare1252(a.view(), alpha.view(), true) != 0 || rowId != id) break;
        ++n;
    }
    return n;
}
} // namespace

int CFromToMail(int mode) {
    const Str<10> alpha(PER.LASTNAME.view().substr(0, std::min<size_t>(10, PER.LASTNAME.view().size())));
    const PersonRec person = PER;
    const uint32_t fromCount = countMail(MAI_FromKey, true, alpha, person.PERSONID);
    const uint32_t toCount = countMail(MAI_ToKey, false, alpha, person.PERSONID);
    PER = person;
    if (fromCount == 0 && toCount == 0) {
        if (mode == 0) return 3;
        if (mode == 1) {
            PER.FROMCOUNT = 0;
            PER.TOCOUNT = 0;
            return 2;
        }
        return 0;
    }
    if (fromCount == PER.FROMCOUNT && toCount == PER.TOCOUNT) return 0;
    PER.FROMCOUNT = fromCount;
    PER.TOCOUNT = toCount;
    return 2;
}

bool isCompuServeId(std::string_view address) {
    address = rtrim(address);
    size_t c = address.find(',');
    if (c == std::string_view::npos || c == 0 || c + 1 >= address.size()) return false;
    for (size_t i = 0; i < address.size(); ++i)
        if (i != c && (address[i] < '0' || address[i] > '9')) return false;
    return true;
}

} // namespace qb
