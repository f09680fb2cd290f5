#include "app/boundwindows.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <map>

#include "app/procedures.h"
#include "core/globals.h"
#include "core/registry.h"
#include "core/text.h"
#include "core/ui.h"

namespace qb {

namespace {

std::map<const QWidget*, BoundDatabase>& bindings() {
    static std::map<const QWidget*, BoundDatabase> m;
    return m;
}

std::map<const QWidget*, bool>& batches() {
    static std::map<const QWidget*, bool> m;
    return m;
}

BoundDatabase activeDatabase() {
    BoundDatabase b;
    b.id = Mem.ForumNumber;
    b.dirnamn = Mem.Dirnamn;
    b.description = Mem.Description;
    b.type = Mem.ForumType;
    b.check = Mem.ForumCheck;
    b.personId = Mem.PersonID;
    b.needsUpdate = Mem.WordListIndexNeedsUpdate;
    return b;
}

void setActive(const BoundDatabase& b) {
    Mem.ForumNumber = b.id;
    Mem.Dirnamn = b.dirnamn;
    Mem.Description = b.description;
    Mem.ForumType = b.type;
    Mem.ForumCheck = b.check;
    Mem.PersonID = b.personId;
    Mem.WordListIndexNeedsUpdate = b.needsUpdate;
}

void forget(const QWidget* w) {
    bindings().erase(w);
    batches().erase(w);
}

} // namespace

bool procedureNeedsDatabase(const std::string& name) {
    static const char* const kNames[] = {"BrowseMail", "BrowseMsgNmbr", "BrowsePerson", "BrowseTopics",
                                         "PurgeMess",  "Duplicates",    "AddressExport", "SearchWz",
                                         "AutoIndex",  "WordList",      "SearchMail",    "SearchMsg",
                                         "ThreadTree", "SetIndex"};
    for (const char* n : kNames)
        if (name == n) return true;
    return false;
}

void bindToActiveDatabase(QWidget* w) {
    if (!w || Mem.ForumNumber == 0 || bindings().count(w)) return;
    bindings()[w] = activeDatabase();
    QObject::connect(w, &QObject::destroyed, [w] { forget(w); });
}

BoundDatabase boundDatabase(const QWidget* w) {
    for (; w; w = w->parentWidget()) {
        auto it = bindings().find(w);
        if (it != bindings().end()) return it->second;
    }
    return {};
}

DatabaseScope::DatabaseScope(const QWidget* w) : DatabaseScope(boundDatabase(w)) {}

DatabaseScope::DatabaseScope(const BoundDatabase& db) {
    if (db.id == 0 || db.id == Mem.ForumNumber) return;
    saved_ = activeDatabase();
    setActive(db);
    active_ = true;
}

DatabaseScope::~DatabaseScope() {
    if (active_) setActive(saved_);
}

void setBatchRunning(QWidget* w, bool running) {
    if (!w) return;
    if (running) {
        if (!batches().count(w)) QObject::connect(w, &QObject::destroyed, [w] { batches().erase(w); });
        batches()[w] = true;
    } else {
        batches().erase(w);
    }
}

bool batchRunning(const QWidget* w) {
    auto it = batches().find(w);
    return it != batches().end() && it->second;
}

std::vector<std::string> closeWindowsOfOtherDatabases() {
    std::vector<std::string> stayed;
    for (const std::string& name : openProcedures()) {
        QWidget* w = procedureWindow(name);
        if (!w) continue;
        const BoundDatabase b = boundDatabase(w);
        if (b.id == 0 || b.id == Mem.ForumNumber) continue;
        // A running batch is not asked to close (that would cancel it): it
        // goes on with its database until it ends.
        if (batchRunning(w)) {
            stayed.push_back(name);
            continue;
        }
        QPointer<QWidget> guard(w);
        w->close();
        if (guard && guard->isVisible()) {
            stayed.push_back(name);
            continue;
        }
        // Its tables close with it now, before a window of the active
        // database opens the same table numbers.
        if (guard) QCoreApplication::sendPostedEvents(guard, QEvent::DeferredDelete);
    }
    return stayed;
}

bool switchDatabase(uint32_t forumId) {
    ForumsRec row;
    if (!findDatabaseById(forumId, row)) return false;
    if (forumId != Mem.ForumNumber) {
        for (const std::string& name : openProcedures()) {
            QWidget* w = procedureWindow(name);
            const BoundDatabase b = boundDatabase(w);
            if (!w || b.id == 0 || b.id == forumId || !batchRunning(w)) continue;
            std::string title(rtrim(fromUtf8(w->windowTitle().toStdString())));
            if (title.empty()) title = name;
            const std::string text = "\"" + verbatim(title) + "\" is still running on database " +
                                     verbatim(b.description) +
                                     ".\r\nIt goes on with that database until it ends; the other windows of " +
                                     verbatim(b.description) + " are closed.\r\nSelect database " +
                                     verbatim(std::string(rtrim(row.DESCRIPTION.view()))) + " now?";
            if (ui().ask(" Database Selection", text, BtnYes | BtnNo, BtnNo, Icon::Question) != BtnYes) return false;
        }
    }
    if (!selectDatabase(forumId)) return false;
    closeWindowsOfOtherDatabases();
    return true;
}

} // namespace qb
