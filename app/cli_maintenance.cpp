// Command line of the maintenance procedures: marking messages, the purge and
// the count.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <algorithm>
#include <string>
#include <vector>

#include "app/cli_export.h"
#include "app/cli_helpers.h"
#include "app/commands.h"
#include "core/access.h"
#include "core/globals.h"
#include "core/kinds.h"
#include "core/registry.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/text.h"
#include "maintenance/counting.h"
#include "maintenance/purge.h"

namespace qb {
namespace {

using cli::drive;
using cli::interrupted;
using cli::parseId;
using cli::selectNamed;

const char* const kMarkUsage =
    "mark DB ID... --normal|--keep|--delete | mark DB --scope SCOPE [--id ID] [--word W] [--topic NAME] "
    "[--from YYYY-MM-DD --to YYYY-MM-DD] --normal|--keep|--delete";

int runMark(CliContext& ctx) {
    // The form over a scope of messages belongs to the batch operations.
    if (std::find(ctx.args.begin(), ctx.args.end(), "--scope") != ctx.args.end()) return runMarkScope(ctx);
    const bool normal = takeFlag(ctx.args, "--normal"), keep = takeFlag(ctx.args, "--keep"),
               remove = takeFlag(ctx.args, "--delete");
    if (normal + keep + remove != 1 || ctx.args.size() < 2) {
        std::fprintf(stderr, "usage: qbox %s\n", kMarkUsage);
        return 2;
    }
    if (!selectNamed(ctx.args[0])) return 1;
    const uint8_t status = normal ? 0 : keep ? 1 : 2;
    const bool mail = Mem.ForumType == KindMail;
    Table& t = mail ? Mail : MsgNmbr;
    OP_CLOSE(OpOpenShared, t.number());
    int unknown = 0, marked = 0;
    bool failed = false;
    beginTransaction({&t});
    if (transactionCheck() != 0) {
        OP_CLOSE(OpClose, t.number());
        return 1;
    }
    for (size_t i = 1; i < ctx.args.size() && !failed; ++i) {
        uint32_t id = 0;
        if (!parseId(ctx.args[i], id)) {
            std::fprintf(stderr, "qbox: no message %s\n", ctx.args[i].c_str());
            ++unknown;
            continue;
        }
        t.clearBuffer();
        if (mail) MAI.MAILID = id;
        else MSG.MSGNUMBER = id;
        if (!t.get(mail ? MAI_IdKey : MSG_IdKey)) {
            std::fprintf(stderr, "qbox: no message %s\n", ctx.args[i].c_str());
            ++unknown;
            continue;
        }
        uint8_t& dummy = mail ? MAI.DUMMY : MSG.DUMMY;
        if (dummy == status) {
            ++marked;
            continue;
        }
        dummy = status;
        if (UppDat(t, UppPut, ModeReportRollback) != 1) failed = true;
        else ++marked;
    }
    if (!failed && !commitTransaction()) {
        std::fprintf(stderr, "qbox: %s\n", errorText().c_str());
        rollbackTransaction();
        failed = true;
    }
    OP_CLOSE(OpClose, t.number());
    if (failed) return 1;
    std::printf("marked %d\n", marked);
    return unknown ? 1 : 0;
}

int runPurge(CliContext& ctx) {
    std::string weeksText;
    const bool weeksGiven = takeOption(ctx.args, "--age-weeks", weeksText);
    const bool yes = takeFlag(ctx.args, "--yes");
    int weeks = 0;
    if (weeksGiven) {
        char* end = nullptr;
        errno = 0;
        const long v = std::strtol(weeksText.c_str(), &end, 10);
        if (weeksText.empty() || *end != '\0' || errno || v < 1 || v > 100000) {
            std::fprintf(stderr, "qbox: --age-weeks wants a number of weeks from 1\n");
            return 2;
        }
        weeks = static_cast<int>(v);
    }
    if (ctx.args.size() != 1) {
        std::fprintf(stderr, "usage: qbox purge DB [--age-weeks N] [--yes]\n");
        return 2;
    }
    if (!selectNamed(ctx.args[0])) return 1;
    const bool marked = Mem.ForumCheck == 2;
    if (marked) cliUi().answers.push_back(yes ? BtnYes : BtnNo);
    Purge p(weeks);
    drive(p, [&] { p.stop(); });
    if (marked && !yes)
        std::fprintf(stderr, "qbox: the database is marked for deletion; it is emptied and removed only with --yes\n");
    if (p.result() != 1) {
        std::fprintf(stderr, "qbox: the purge ended with an error%s%s\n", p.reason().empty() ? "" : ": ",
                     p.reason().c_str());
        if (p.deleted() > 0)
            std::fprintf(stderr, "qbox: %llu messages were deleted before the end; purge again to finish\n",
                         static_cast<unsigned long long>(p.deleted()));
        return 1;
    }
    std::printf("before %llu deleted %llu after %llu\n", static_cast<unsigned long long>(p.before()),
                static_cast<unsigned long long>(p.deleted()), static_cast<unsigned long long>(p.after()));
    if (p.databaseRemoved()) std::fprintf(stderr, "qbox: the database has been removed\n");
    return 0;
}

int runCount(CliContext& ctx) {
    if (ctx.args.size() != 1) {
        std::fprintf(stderr, "usage: qbox count DB\n");
        return 2;
    }
    if (!selectNamed(ctx.args[0])) return 1;
    Recount r;
    drive(r, [&] { r.stop(); });
    if (r.result() != 1) {
        std::fprintf(stderr, "qbox: the count ended with an error%s\n", interrupted ? ": stopped" : "");
        return 1;
    }
    const CountTotals& t = r.totals();
    if (Mem.ForumType == KindMail)
        std::printf("messages %llu partners %llu persons %llu\n", static_cast<unsigned long long>(t.messages),
                    static_cast<unsigned long long>(t.partners), static_cast<unsigned long long>(t.persons));
    else
        std::printf("messages %llu threads %llu persons %llu\n", static_cast<unsigned long long>(t.messages),
                    static_cast<unsigned long long>(t.threads), static_cast<unsigned long long>(t.persons));
    return 0;
}

const bool registered = [] {
    registerCommand("mark", kMarkUsage, runMark);
    registerCommand("purge", "purge DB [--age-weeks N] [--yes]", runPurge);
    registerCommand("count", "count DB", runCount);
    return true;
}();

} // namespace
} // namespace qb
