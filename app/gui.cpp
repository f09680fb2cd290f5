#include "app/gui.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace qb {

GuiEntries& guiEntries() {
    static GuiEntries e;
    return e;
}

namespace {
// The directory of the running program, with its trailing slash ("" when unknown).
std::string programDirectory() {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    std::string p(buf, static_cast<size_t>(n));
    const size_t slash = p.rfind('/');
    return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}
} // namespace

const GuiEntries* loadGui() {
    GuiEntries& e = guiEntries();
    if (e.runMainWindow && e.printPdf) return &e;
    // Next to the program first, then wherever the loader looks.
    const std::string beside = programDirectory() + "libqbgui.so";
    void* lib = ::dlopen(beside.c_str(), RTLD_NOW | RTLD_GLOBAL);
    std::string why = lib ? std::string() : std::string(::dlerror());
    if (!lib) lib = ::dlopen("libqbgui.so", RTLD_NOW | RTLD_GLOBAL);
    if (!lib) {
        std::fprintf(stderr, "qbox: the window library cannot be loaded: %s\n", why.c_str());
        return nullptr;
    }
    // Its start-up code has filled the entries.
    if (!e.runMainWindow || !e.printPdf) {
        std::fprintf(stderr, "qbox: %s is not the window library of this program\n", beside.c_str());
        return nullptr;
    }
    return &e;
}

} // namespace qb
