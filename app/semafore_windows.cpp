// The library's procedure codes that open a window of the program.
#include "app/procedures.h"
#include "core/settings.h"

namespace qb {
namespace {
const bool registered = [] {
    const struct {
        int code;
        const char* procedure;
    } windows[] = {{201, "ImportMeny"}, {211, "StopList"}, {217, "WordList"}, {218, "AutoIndex"}, {219, "SearchWz"}};
    for (const auto& w : windows) {
        std::string name = w.procedure;
        registerSemaFore(w.code, [name] { return startProcedure(name) ? 1 : 0; });
    }
    return true;
}();
} // namespace
} // namespace qb
