#include "app/procedures.h"

#include <QPointer>
#include <QWidget>
#include <map>

#include "core/ui.h"

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
    if (QWidget* w = procedureWindow(name)) {
        w->show();
        w->raise();
        w->activateWindow();
        return w;
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
    windows()[name] = w;
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
