// The window registry: every procedure window is known by its procedure name
// ("BrowseMail", "ImportMeny", ...). The frame's menus start procedures by
// name; a procedure whose window is open is brought to the front instead.
//
// Windows register a factory at load time:
//   static const bool reg = qb::registerProcedure("AutoIndex", [](QWidget* parent) { return new IndexWindow(parent); });
// A window built by a factory is destroyed when it closes
// (Qt::WA_DeleteOnClose is set by startProcedure) and leaves the registry then.
#pragma once
#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace qb {

using ProcedureFactory = std::function<QWidget*(QWidget* parent)>;

bool registerProcedure(const std::string& name, ProcedureFactory factory);
bool procedureAvailable(const std::string& name);

// Starts the procedure in a window of its own, or brings its open window to
// the front. A procedure that is not built yet shows "<name> is not available
// yet." and returns nullptr; so does a factory that returns nullptr.
QWidget* startProcedure(const std::string& name, QWidget* parent = nullptr);

// The open window of a procedure, or nullptr (TmGetId).
QWidget* procedureWindow(const std::string& name);
// Names of the open procedure windows.
std::vector<std::string> openProcedures();
// Closes every open procedure window (TmDestroyGroup of all).
void closeAllProcedures();

} // namespace qb
