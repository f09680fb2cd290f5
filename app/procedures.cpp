#include "app/procedures.h"

#include <QPointer>
#include <QWidget>
#include <map>
#include <set>

#include "app/boundwindows.h"
#include "core/fixedstr.h"
#include "core/globals.h"
#include "core/text.h"
#include "core/ui.h"
#include "tasks/taskmanager.h"

namespace qb {

namespace {
std::map<std::string, ProcedureFactory>& factories() {
    static std::map<std::string, ProcedureFactory> m;
    return m;
}
std::map<std::string, QPointer<QWidget>>& windows() {
    static std::map<std::string, QPointer<QWidget>> m;
    return m;
}
// The procedures that do work on the databases or the configuration: while
// a window of one is open the scheduler starts no task (and a run is refused),
// so that no run meets their half-done work. Reading, browsing and the
// settings windows do not count; a task run closes them.
bool countsAsWork(const std::string& name) {
    static const std::set<std::string> work = {"ImportMeny", "MergeMeny",   "PurgeMess",   "CountMess",
                                               "Duplicates", "MergePersons", "AutoIndex",  "RebuildMeny",
                                               "NextIdCheck", "AddressExport", "Classify"};
    return work.count(name) != 0;
}
} // namespace

bool registerProcedure(const std::string& name, ProcedureFactory factory) {
    factories()[name] = std::move(factory);
    return true;
}

bool procedureAvailable(const std::string& name) { return factories().count(name) != 0; }

QWidget* procedureWindow(const std::string& name) {
    auto it = windows().find(name);
    if (it == windows().end()) return nullptr;
    if (it->second.isNull()) {
        windows().erase(it);
        return nullptr;
    }
    return it->second.data();
}

QWidget* startProcedure(const std::string& name, QWidget* parent) {
    const bool needsDatabase = procedureNeedsDatabase(name);
    if (needsDatabase && Mem.ForumNumber == 0 && procedureAvailable(name)) {
        ui().message("Quillbox", "No database is selected.", Icon::Exclamation);
        return nullptr;
    }
    if (QWidget* w = procedureWindow(name)) {
        const BoundDatabase b = boundDatabase(w);
        if (!needsDatabase || b.id == 0 || b.id == Mem.ForumNumber) {
            w->show();
            w->raise();
            w->activateWindow();
            return w;
        }
    }
    if (needsDatabase) {
        // The tables are opened by number, one file each: the windows of a
        // database that is no longer active go before those of the active
        // one open. A running batch keeps its database until it ends.
        for (const std::string& stayed : closeWindowsOfOtherDatabases()) {
            QWidget* w = procedureWindow(stayed);
            const BoundDatabase b = boundDatabase(w);
            ui().message("Quillbox",
                         "\"" + verbatim(std::string(rtrim(fromUtf8(w->windowTitle().toStdString())))) +
                             "\" is still running on database " + verbatim(b.description) + ".\r\n" +
                             "Windows of database " + verbatim(Mem.Description) + " open when it has ended.",
                         Icon::Exclamation);
            return nullptr;
        }
    }
    auto it = factories().find(name);
    if (it == factories().end()) {
        ui().message("Quillbox", name + " is not available yet.", Icon::Information);
        return nullptr;
    }
    QWidget* w = it->second(parent);
    if (!w) return nullptr;
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->setObjectName(QString::fromStdString(name));
    if (needsDatabase) {
        bindToActiveDatabase(w);
        // The title names the database the window works on.
        const BoundDatabase b = boundDatabase(w);
        const QString db = QString::fromStdString(toUtf8(std::string(rtrim(b.description))));
        if (b.id && !db.isEmpty() && !w->windowTitle().contains(db))
            w->setWindowTitle(w->windowTitle() + QStringLiteral(" [") + db + QStringLiteral("]"));
    }
    windows()[name] = w;
    if (countsAsWork(name)) {
        NextTask(12, 0, nullptr);
        QObject::connect(w, &QObject::destroyed, [] { NextTask(14, 0, nullptr); });
    }
    w->show();
    w->raise();
    return w;
}

std::vector<std::string> openProcedures() {
    std::vector<std::string> out;
    for (auto it = windows().begin(); it != windows().end();) {
        if (it->second.isNull()) it = windows().erase(it);
        else out.push_back((it++)->first);
    }
    return out;
}

void closeAllProcedures() {
    for (auto& [name, w] : windows())
        if (!w.isNull()) w->close();
    windows().clear();
}

} // namespace qb
