#include "app/commands.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <stdexcept>

#include "app/startup.h"
#include "core/globals.h"
#include "core/storage.h"

namespace qb {

namespace {
struct Entry {
    std::string usage;
    CommandFn fn;
};
std::map<std::string, Entry>& commandMap() {
    static std::map<std::string, Entry> m;
    return m;
}
} // namespace

bool registerCommand(const std::string& name, const std::string& usage, CommandFn fn) {
    commandMap()[name] = Entry{usage, std::move(fn)};
    return true;
}

const CommandFn* findCommand(const std::string& name) {
    auto it = commandMap().find(name);
    return it == commandMap().end() ? nullptr : &it->second.fn;
}

std::string commandUsage() {
    std::string out;
    for (auto& [name, e] : commandMap()) out += "  " + e.usage + "\n";
    return out;
}

void startHeadless(const std::string& home) {
    // The same start-up as the main window, without the last database and
    // without the due-task check.
    StartupResult r = startUp(home, StartupOptions{});
    if (!r.ok) throw std::runtime_error(r.failure);
}

bool takeOption(std::vector<std::string>& args, const std::string& name, std::string& value) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == name && i + 1 < args.size()) {
            value = args[i + 1];
            args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
            return true;
        }
        if (args[i].rfind(name + "=", 0) == 0) {
            value = args[i].substr(name.size() + 1);
            args.erase(args.begin() + static_cast<long>(i));
            return true;
        }
    }
    return false;
}

std::vector<std::string> takeOptions(std::vector<std::string>& args, const std::string& name) {
    std::vector<std::string> out;
    std::string v;
    while (takeOption(args, name, v)) out.push_back(v);
    return out;
}

bool takeFlag(std::vector<std::string>& args, const std::string& name) {
    for (size_t i = 0; i < args.size(); ++i)
        if (args[i] == name) {
            args.erase(args.begin() + static_cast<long>(i));
            return true;
        }
    return false;
}

namespace {
std::chrono::steady_clock::time_point lastDraw;
bool drawn = false;
// Without a terminal: the step last named and the tenth of it last told.
std::string loggedText;
int loggedTenth = -1;

bool stderrIsTerminal() {
    static const bool tty = isatty(STDERR_FILENO) != 0;
    return tty;
}
} // namespace

void cliProgress(const std::string& text, uint64_t done, uint64_t total) {
    if (!stderrIsTerminal()) {
        // A log piped to a file gets a line when a step starts and one for
        // each tenth of a step whose size is known.
        const int tenth = total ? static_cast<int>(10 * std::min<uint64_t>(done, total) / total) : 0;
        if (text == loggedText && tenth <= loggedTenth) return;
        if (total)
            std::fprintf(stderr, "%s %llu/%llu\n", text.c_str(), static_cast<unsigned long long>(done),
                         static_cast<unsigned long long>(total));
        else
            std::fprintf(stderr, "%s\n", text.c_str());
        loggedText = text;
        loggedTenth = tenth;
        return;
    }
    auto now = std::chrono::steady_clock::now();
    if (drawn && now - lastDraw < std::chrono::milliseconds(100) && done < total) return;
    lastDraw = now;
    drawn = true;
    const int width = 30;
    int fill = total ? static_cast<int>(width * std::min<uint64_t>(done, total) / total) : 0;
    std::string bar(static_cast<size_t>(fill), '#');
    bar.resize(width, '.');
    if (total)
        std::fprintf(stderr, "\r%-32.32s [%s] %llu/%llu", text.c_str(), bar.c_str(),
                     static_cast<unsigned long long>(done), static_cast<unsigned long long>(total));
    else
        std::fprintf(stderr, "\r%-32.32s %llu", text.c_str(), static_cast<unsigned long long>(done));
    std::fflush(stderr);
}

void cliProgressEnd() {
    if (drawn) std::fprintf(stderr, "\n");
    drawn = false;
    loggedText.clear();
    loggedTenth = -1;
}

void CliUi::message(const std::string& title, const std::string& text, Icon icon) {
    cliProgressEnd();
    HeadlessUi::message(title, text, icon);
}

unsigned CliUi::ask(const std::string& title, const std::string& text, unsigned buttons, unsigned defaultButton,
                    Icon icon) {
    cliProgressEnd();
    return HeadlessUi::ask(title, text, buttons, defaultButton, icon);
}

void CliUi::progress(const std::string& text, long long done, long long total) {
    cliProgress(text, static_cast<uint64_t>(done < 0 ? 0 : done), static_cast<uint64_t>(total < 0 ? 0 : total));
}

CliUi& cliUi() {
    static CliUi ui;
    return ui;
}

} // namespace qb
