#include "import/parser.h"

#include <map>

#include "core/access.h"
#include "core/fixedstr.h"
#include "core/globals.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/ui.h"

namespace qb {

namespace {
std::map<std::string, ParserFactory>& parserMap() {
    static std::map<std::string, ParserFactory> m;
    return m;
}
} // namespace

bool registerParser(const std::string& reader, ParserFactory factory) {
    parserMap()[upper(reader)] = std::move(factory);
    return true;
}

std::unique_ptr<Parser> makeParser(const std::string& reader) {
    auto it = parserMap().find(upper(rtrim(reader)));
    if (it == parserMap().end()) return nullptr;
    return it->second();
}

std::vector<std::string> registeredParsers() {
    std::vector<std::string> v;
    for (auto& [k, f] : parserMap()) v.push_back(k);
    return v;
}

void ImportContext::loadTargets() {
    targets.clear();
    routed.clear();
    uint32_t highDir = 0;
    Forums.set(FOR_ForumKey);
    while (Forums.next()) {
        TargetDb t;
        t.id = FOR.ID;
        t.description = std::string(FOR.DESCRIPTION.view());
        t.descUpr = upper(t.description);
        t.dirNumber = FOR.DIRNUMBER;
        t.allowImport = FOR.NOIMPORT ? 0 : 1;
        t.forumType = FOR.TYPE;
        if (FOR.DIRNUMBER > highDir) highDir = FOR.DIRNUMBER;
        targets.push_back(std::move(t));
    }
    nextDirNumber = highDir + 1;
}

uint32_t ImportContext::newId() {
    if (nextId < 250000) nextId = 250000;
    return nextId++;
}

const TargetDb* ImportContext::target(uint32_t id) const {
    for (const auto& t : targets)
        if (t.id == id) return &t;
    return nullptr;
}

TargetDb* ImportContext::target(uint32_t id) {
    for (auto& t : targets)
        if (t.id == id) return &t;
    return nullptr;
}

Route ImportContext::route(const std::string& dbName, uint8_t kind) {
    Route r;
    // A kind the run does not take neither creates nor fills a database.
    const bool wanted = (kind == KindMail && settings.importMail) || (kind == KindForum && settings.importForum) ||
                        (kind == KindNews && settings.importNews);
    if (!wanted) return r;
    TargetDb* hit = nullptr;
    if (kind == KindMail) {
        hit = target(settings.mailDb);
    } else if (kind == KindForum && settings.forumDb != 0) {
        hit = target(settings.forumDb);
    } else {
        std::string key = upper(rtrim(dbName));
        if (key.size() > 100) key.resize(100);
        key = std::string(rtrim(key));
        if (key.empty()) return r;
        for (auto& t : targets)
            if (t.descUpr == key) { hit = &t; break; }
        // Names are unique over all kinds: a forum named like a mail database
        // (or a newsgroup like a forum) can neither go there nor be created.
        const uint8_t wantType = kind == KindNews ? 3 : 1;
        if (hit && hit->forumType != wantType) return r;
        if (!hit) {
            TargetDb t;
            t.id = newId();
            t.description = std::string(rtrim(dbName.substr(0, 100)));
            t.descUpr = key;
            t.dirNumber = nextDirNumber++;
            t.newItem = 1;
            t.allowImport = 1;
            t.forumType = kind == KindNews ? 3 : 1;
            targets.push_back(std::move(t));
            hit = &targets.back();
        }
    }
    if (!hit) return r;
    r.found = true;
    r.id = hit->id;
    r.allowImport = hit->allowImport;
    r.type = hit->forumType;
    if (r.allowImport) {
        bool seen = false;
        for (uint32_t id : routed) seen = seen || id == r.id;
        if (!seen) routed.push_back(r.id);
    }
    return r;
}

bool ImportContext::store(uint8_t kind, const Route& rt) {
    bool wanted = (kind == KindMail && settings.importMail) || (kind == KindForum && settings.importForum) ||
                  (kind == KindNews && settings.importNews);
    if (!wanted || !rt.found || !rt.allowImport || settings.filter == 2) {
        ++skipped;
        return false;
    }
    NHR.INTERNAL = rt.id;
    if (kind != KindMail && !settings.allowReimport && alreadySaved && alreadySaved(rt.id, NHR.MSGNUMBER)) {
        ++skipped;
        return false;
    }
    if (NHR_MSGTEXT.size() > NHR_MSGTEXTMax) NHR_MSGTEXT.resize(NHR_MSGTEXTMax);
    if (!NewHR.append()) {
        noteWriteError();
        ++skipped;
        return false;
    }
    ++written;
    return true;
}

bool ImportContext::addCarbonCopy(uint32_t mailId, const std::string& name, const std::string& address,
                                  const std::string& recipType) {
    TempCC.clearBuffer();
    CCT.MAILID = mailId;
    CCT.R_NAME.set(name);
    CCT.R_CISADRESS.set(address);
    CCT.RECIPTYPE.set(recipType);
    if (TempCC.append()) return true;
    noteWriteError();
    return false;
}

bool ImportContext::addMessageId(const std::string& idString, uint32_t msgNumber) {
    TempID.clearBuffer();
    TID.IDSTRING.set(idString);
    TID.MSGNUMBER = msgNumber;
    if (TempID.append()) return true;
    noteWriteError();
    return false;
}

void ImportContext::messageFailed(const std::string& what) {
    ++skipped;
    ++failedMessages;
    if (failureText.empty()) failureText = what.empty() ? std::string("unknown error") : what;
}

void ImportContext::noteWriteError() {
    if (writeFailed) return;
    writeFailed = true;
    writeError = errorText();
}

bool ImportContext::openTemporary() {
    for (Table* t : {&NewHR, &TempCC, &TempID}) {
        OP_CLOSE(OpForceClose, t->number());
        std::string file = tableFileName(t->number());
        t->remove();
        t->create(file);
        if (errorCode() != 0) {
            if (!unattended()) ui().message("Warning!", file + " cannot be opened\r\n" + errorText(), Icon::Exclamation);
            return false;
        }
        OP_CLOSE(OpOpenExclusive, t->number());
        if (!t->isOpen()) return false;
        t->stream();
    }
    return true;
}

bool ImportContext::buildTemporaryKeys(std::string* failedTitle) {
    for (Table* t : {&NewHR, &TempCC, &TempID}) {
        t->flush();
        if (!t->build() && errorCode() != 40) {
            if (failedTitle)
                *failedTitle = t == &NewHR ? "NewHR Key Build Error!" : t == &TempID ? "TempID Key Build Error!"
                                                                                    : "TempCC Key Build Error!";
            return false;
        }
    }
    return true;
}

void ImportContext::closeTemporary() {
    for (Table* t : {&NewHR, &TempCC, &TempID}) {
        if (t->streaming()) t->flush();
        OP_CLOSE(OpForceClose, t->number());
    }
}

} // namespace qb
