#include "core/registry.h"

#include <cstdio>
#include <vector>

#include "core/access.h"
#include "core/globals.h"
#include "core/storage.h"
#include "core/tables.h"

namespace qb {

namespace {
std::vector<std::function<void()>>& listeners() {
    static std::vector<std::function<void()>> v;
    return v;
}
void notify() {
    for (auto& f : listeners()) f();
}
} // namespace

void onActiveDatabaseChanged(std::function<void()> listener) { listeners().push_back(std::move(listener)); }

bool selectDatabase(uint32_t forumId) {
    bool opened = false;
    if (!Forums.isOpen()) {
        OP_CLOSE(OpOpenShared, Forums.number());
        if (!Forums.isOpen()) return false;
        opened = true;
    }
    ForumsRec saved = FOR;
    Forums.clearBuffer();
    FOR.ID = forumId;
    bool found = Forums.get(FOR_ForumKey);
    if (found) {
        Mem.ForumNumber = FOR.ID;
        Mem.Description = std::string(FOR.DESCRIPTION.view());
        char dir[24];
        std::snprintf(dir, sizeof dir, "F%u", FOR.DIRNUMBER);
        Mem.Dirnamn = dir;
        Mem.ForumType = FOR.TYPE;
        Mem.ForumCheck = FOR.DUMMY;
        Mem.PersonID = FOR.PERSONID;
        Mem.WordListIndexNeedsUpdate = FOR.WORDLISTINDEXNEEDSUPDATE;
    } else {
        FOR = saved;
    }
    if (opened) OP_CLOSE(OpClose, Forums.number());
    if (found) notify();
    return found;
}

void clearActiveDatabase() {
    Mem.ForumNumber = 0;
    Mem.Description.clear();
    Mem.Dirnamn.clear();
    Mem.ForumType = 0;
    Mem.ForumCheck = 0;
    Mem.PersonID = 0;
    Mem.WordListIndexNeedsUpdate = 0;
    notify();
}

} // namespace qb
