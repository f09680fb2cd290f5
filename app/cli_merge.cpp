// The merge command: every message of one database into another of the same
// kind, with a progress bar on stderr and the totals on stdout.
#include <csignal>
#include <cstdio>
#include <string>

#include "app/commands.h"
#include "core/registry.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/ui.h"
#include "import/merge.h"

namespace qb {

namespace {

const char* const kUsage = "merge SOURCE TARGET";

volatile std::sig_atomic_t gInterrupted = 0;
extern "C" void onMergeInterrupt(int) { gInterrupted = 1; }

int fail(const std::string& text) {
    std::fprintf(stderr, "qbox merge: %s\n", toUtf8(text).c_str());
    return 1;
}

int runMerge(CliContext& c) {
    if (c.args.size() != 2) return fail(std::string("usage: qbox ") + kUsage);
    ForumsRec source{}, target{};
    if (!findDatabaseByName(fromUtf8(c.args[0]), source)) return fail("unknown database '" + fromUtf8(c.args[0]) + "'");
    if (!findDatabaseByName(fromUtf8(c.args[1]), target)) return fail("unknown database '" + fromUtf8(c.args[1]) + "'");
    const MergeCheck check = checkMerge(source.ID, target.ID);
    if (!check.ok) return fail(check.text);

    int status = 1;
    gInterrupted = 0;
    auto previous = std::signal(SIGINT, onMergeInterrupt);
    {
        MergeRun run(source.ID, target.ID);
        while (run.step()) {
            if (gInterrupted) {
                cliUi().answers.push_front(BtnYes);
                run.requestStop();
                break;
            }
            std::string text = run.progressText();
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
            if (run.mergePassRunning()) cliProgress(text, run.recordsDone(), run.totals().tempRecords);
            else cliProgress(text, static_cast<uint64_t>(run.currentFraction() * 1000), 1000);
        }
        cliProgressEnd();
        if (run.endText() == "No messages to merge!") std::printf("%s\n", run.endText().c_str());
        std::printf("stored %llu skipped %llu\n", static_cast<unsigned long long>(run.totals().stored),
                    static_cast<unsigned long long>(run.totals().skipped));
        std::fflush(stdout);
        status = run.failed() || run.stopped() ? 1 : 0;
    }
    std::signal(SIGINT, previous);
    return status;
}

const bool registered = registerCommand("merge", kUsage, runMerge);

} // namespace

} // namespace qb
