// qbox config list | get NAME | set NAME VALUE
#include "app/commands.h"
#include "app/config.h"

#include <cstdio>

namespace qb {
namespace {

int fail(const std::string& text, int code = 1) {
    std::fprintf(stderr, "qbox: %s\n", text.c_str());
    return code;
}

const char* kUsage = "config list | config get NAME | config set NAME VALUE";

int runConfig(CliContext& ctx) {
    std::vector<std::string>& a = ctx.args;
    if (a.empty()) return fail(std::string("usage: ") + kUsage, 2);
    if (a[0] == "list" && a.size() == 1) {
        for (const SettingDef& d : settingDefs())
            std::printf("%s\t%s\t%s\n", d.name, settingValue(d).c_str(), settingDefault(d).c_str());
        return 0;
    }
    if ((a[0] == "get" && a.size() == 2) || (a[0] == "set" && a.size() == 3)) {
        const SettingDef* d = findSetting(a[1]);
        if (!d) return fail("unknown setting '" + a[1] + "' (config list shows them all)");
        if (a[0] == "get") {
            std::printf("%s\n", settingValue(*d).c_str());
            return 0;
        }
        std::string error;
        if (!setSetting(*d, a[2], error)) return fail(error);
        if (!saveSettingGroup(d->group)) return fail("the setting could not be saved");
        return 0;
    }
    return fail(std::string("usage: ") + kUsage, 2);
}

const bool registered = registerCommand("config", kUsage, runConfig);

} // namespace
} // namespace qb
