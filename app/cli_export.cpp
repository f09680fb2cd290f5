// Export, print and address export from the command line.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/cli_export.h"
#include "app/cli_helpers.h"
#include "app/commands.h"
#include "app/gui.h"
#include "core/dates.h"
#include "core/globals.h"
#include "core/kinds.h"
#include "core/text.h"
#include "reading/export.h"
#include "reading/render.h"
#include "reading/topics.h"

namespace qb {

namespace {

using cli::fail;
using cli::parseId;

const char* const kScopeUsage =
    "[--scope current|sender|receiver|thread|partner|section|all|word|topic|search] [--id ID] [--word W] "
    "[--topic NAME] [--from YYYY-MM-DD --to YYYY-MM-DD]";

int boxFail(const BoxText& box) {
    cliUi().message(box.title, box.text, Icon::Exclamation);
    return 1;
}

// The scope options every scope command takes; the database is made active.
struct ScopeArgs {
    uint8_t scope = ScopeAll;
    uint32_t id = 0;
    int32_t from = 0, to = 0;
    bool range = false;
    ScopeChoice choice;
};

int takeScope(CliContext& ctx, ScopeArgs& a) {
    std::string scopeText, idText, word, topic, fromText, toText;
    takeOption(ctx.args, "--scope", scopeText);
    takeOption(ctx.args, "--id", idText);
    takeOption(ctx.args, "--word", word);
    takeOption(ctx.args, "--topic", topic);
    const bool hasFrom = takeOption(ctx.args, "--from", fromText);
    const bool hasTo = takeOption(ctx.args, "--to", toText);
    if (hasFrom || hasTo) {
        a.range = true;
        a.from = isoDay(fromText);
        a.to = isoDay(toText);
        if (auto box = checkDateRange(a.from, a.to)) return boxFail(*box);
    }
    const bool mail = Mem.ForumType == KindMail;
    struct Name {
        const char* name;
        uint8_t scope;
    };
    static const Name names[] = {{"current", ScopeCurrent}, {"sender", ScopeSender}, {"receiver", ScopeReceiver},
                                 {"thread", ScopeThread},   {"partner", ScopeThread}, {"section", ScopeSection},
                                 {"all", ScopeAll},         {"word", ScopeWord},      {"topic", ScopeTopic},
                                 {"search", ScopeSearch}};
    if (!scopeText.empty()) {
        bool found = false;
        for (const Name& n : names)
            if (scopeText == n.name) {
                a.scope = n.scope;
                found = true;
            }
        if (!found) return fail("unknown scope '" + scopeText + "'");
        if (mail && (scopeText == "thread" || scopeText == "section"))
            return fail("a mail database has no " + scopeText + "s; the scope partner takes the mail partner", 2);
        if (!mail && scopeText == "partner") return fail("only a mail database has mail partners", 2);
    }
    if (a.scope >= ScopeCurrent && a.scope <= ScopeSection) {
        if (!parseId(idText, a.id))
            return fail("the scope '" + scopeText + "' needs --id with the number of the current message", 2);
        // A scope around a message that is not there would be empty, and
        // the run would look like a success.
        if (!messageExists(a.id)) return fail("no message " + idText);
    }
    if (a.scope == ScopeWord) {
        if (word.empty()) return fail("the scope word needs --word", 2);
        a.choice.wordId = wordIdByText(fromUtf8(word));
        if (!a.choice.wordId) return fail("the word '" + word + "' is not in the word list", 1);
    }
    if (a.scope == ScopeTopic) {
        if (topic.empty()) return fail("the scope topic needs --topic", 2);
        Entry e;
        if (!findEntry(kTopicEntry, fromUtf8(topic), e)) return fail("no topic named '" + topic + "'", 1);
        a.choice.topicId = e.id;
    }
    return 0;
}

int targetByName(const std::string& s) {
    if (s == "tapcis") return TargetTapcis;
    if (s == "eudora") return TargetEudora;
    if (s == "unix") return TargetUnix;
    if (s == "ozwin2") return TargetOzWin;
    return 0;
}

// Opens the database named first on the line; 0 when done.
int openFirst(CliContext& ctx, const char* usage) {
    if (ctx.args.empty() || ctx.args[0].rfind("--", 0) == 0) return fail(std::string("usage: ") + usage, 2);
    if (!cli::selectNamed(ctx.args[0])) return 1;
    ctx.args.erase(ctx.args.begin());
    return 0;
}

const std::string kExportUsage = std::string("export DB --target eudora|ozwin2|tapcis|unix ") + kScopeUsage +
                                 " [--append] [--file NAME] [--file2 NAME]";

int runExport(CliContext& ctx) {
    if (int rc = openFirst(ctx, kExportUsage.c_str())) return rc;
    std::string targetText, file1, file2;
    takeOption(ctx.args, "--target", targetText);
    const bool hasFile1 = takeOption(ctx.args, "--file", file1);
    const bool hasFile2 = takeOption(ctx.args, "--file2", file2);
    const bool append = takeFlag(ctx.args, "--append");
    const int target = targetByName(targetText);
    if (!target) return fail("usage: " + kExportUsage, 2);
    const uint8_t kind = Mem.ForumType;
    bool offered = false;
    for (int t : targetsOffered(kind)) offered |= t == target;
    if (!offered) return fail(std::string("the target ") + targetName(target) + " is not offered for this database", 1);
    for (const std::string* n : {&file1, &file2})
        if (auto box = checkFileName(*n)) return boxFail(*box);
    ScopeArgs a;
    if (int rc = takeScope(ctx, a)) return rc;
    if (!ctx.args.empty()) return fail("unexpected '" + ctx.args[0] + "'; usage: " + kExportUsage, 2);

    const ExportNames names = defaultExportNames(kind, target, Mem.Description);
    if (!hasFile1) file1 = names.first;
    else file1 = fromUtf8(file1);
    if (!hasFile2) file2 = names.second;
    else file2 = fromUtf8(file2);

    RenderSettings& rs = renderSettings();
    (kind == KindMail ? rs.mailTarget : kind == KindNews ? rs.newsTarget : rs.forumTarget) = target;
    scopeChoice() = a.choice;
    const uint8_t mode = append ? 2 : 1;
    const uint32_t flags = a.range ? static_cast<uint32_t>(ExportDateRange) : 0u;
    uint8_t more = CopyMsg(mode, a.scope, 1, a.id, file1, file2, a.from, a.to, flags);
    while (more) {
        more = CopyMsg(mode, a.scope, 2, a.id, file1, file2, a.from, a.to, flags);
        if (exportStatus().count % 1000 == 0) cliProgress("Exporting messages", exportStatus().count, 0);
    }
    CopyMsg(mode, a.scope, 3, a.id, file1, file2, a.from, a.to, flags);
    cliProgressEnd();
    const ExportStatus& st = exportStatus();
    if (st.failed) return 1;
    for (const std::string& f : st.files) std::printf("%s\n", f.c_str());
    std::printf("exported %llu\n", static_cast<unsigned long long>(st.count));
    return 0;
}

const std::string kPrintUsage = std::string("print DB ") + kScopeUsage + " --pdf FILE";

int runPrint(CliContext& ctx) {
    if (int rc = openFirst(ctx, kPrintUsage.c_str())) return rc;
    std::string pdf;
    takeOption(ctx.args, "--pdf", pdf);
    if (pdf.empty()) return fail("usage: " + kPrintUsage, 2);
    ScopeArgs a;
    if (int rc = takeScope(ctx, a)) return rc;
    if (!ctx.args.empty()) return fail("unexpected '" + ctx.args[0] + "'; usage: " + kPrintUsage, 2);
    const GuiEntries* gui = loadGui();
    if (!gui) return 1;
    scopeChoice() = a.choice;
    PrintRequest r;
    r.scope = a.scope;
    r.messageId = a.id;
    r.fromDate = a.from;
    r.toDate = a.to;
    r.flags = a.range ? static_cast<uint32_t>(ExportDateRange) : 0u;
    const long long n = gui->printPdf(pdf, r);
    if (n < 0) return fail("the report cannot be written to " + pdf);
    std::printf("%s\nprinted %lld\n", pdf.c_str(), n);
    return 0;
}

const char* const kAddressUsage = "addresses DB --target eudora|ozwin2|tapcis|unix [--file NAME]";

int runAddresses(CliContext& ctx) {
    if (int rc = openFirst(ctx, kAddressUsage)) return rc;
    std::string targetText, file;
    takeOption(ctx.args, "--target", targetText);
    const bool hasFile = takeOption(ctx.args, "--file", file);
    const int target = targetByName(targetText);
    if (!target || !ctx.args.empty()) return fail(std::string("usage: ") + kAddressUsage, 2);
    if (auto box = checkFileName(file)) return boxFail(*box);
    file = hasFile ? fromUtf8(file) : defaultAddressFileName(target);
    const long long n = CopyAddress(target, file);
    cliProgressEnd();
    if (n < 0) return 1;
    std::printf("%s\nwritten %lld\n", addressFilePath().c_str(), n);
    return 0;
}

} // namespace

namespace {

// Runs a batch operation over the scope with progress on stderr; prints the
// word and the count at the end.
int runBatch(BatchRequest r, const ScopeArgs& a, const char* doneWord) {
    r.scope = a.scope;
    r.messageId = a.id;
    r.dateRange = a.range;
    r.fromDate = a.from;
    r.toDate = a.to;
    r.choice = a.choice;
    BatchRun run(r);
    if (!run.start()) return 1;
    while (run.tick(400)) cliProgress(BatchRun::workingText(r.operation), run.count(), run.total());
    run.finish();
    cliProgressEnd();
    if (run.failed()) return 1;
    std::printf("%s %llu\n", doneWord, static_cast<unsigned long long>(run.count()));
    return 0;
}

} // namespace

int runClassifyScope(CliContext& ctx) {
    static const std::string usage = std::string("classify DB TOPIC --scope SCOPE ") + kScopeUsage + " [--remove]";
    if (int rc = openFirst(ctx, usage.c_str())) return rc;
    const bool remove = takeFlag(ctx.args, "--remove");
    ScopeArgs a;
    if (int rc = takeScope(ctx, a)) return rc;
    if (ctx.args.size() != 1) return fail("usage: " + usage, 2);
    Entry e;
    if (!findEntry(kTopicEntry, fromUtf8(ctx.args[0]), e)) return fail("no topic named '" + ctx.args[0] + "'", 1);
    BatchRequest r;
    r.operation = remove ? OpRemoveTopic : OpAttachTopic;
    r.topicId = e.id;
    return runBatch(r, a, "classified");
}

int runMarkScope(CliContext& ctx) {
    static const std::string usage =
        std::string("mark DB --scope SCOPE ") + kScopeUsage + " --normal|--keep|--delete";
    const bool normal = takeFlag(ctx.args, "--normal"), keep = takeFlag(ctx.args, "--keep"),
               remove = takeFlag(ctx.args, "--delete");
    if (normal + keep + remove != 1) return fail("usage: " + usage, 2);
    if (int rc = openFirst(ctx, usage.c_str())) return rc;
    ScopeArgs a;
    if (int rc = takeScope(ctx, a)) return rc;
    if (!ctx.args.empty()) return fail("unexpected '" + ctx.args[0] + "'; usage: " + usage, 2);
    BatchRequest r;
    r.operation = normal ? OpStatusNormal : keep ? OpStatusKeep : OpStatusDelete;
    return runBatch(r, a, "marked");
}

namespace {

const bool regExport = registerCommand("export", kExportUsage, runExport);
const bool regPrint = registerCommand("print", kPrintUsage, runPrint);
const bool regAddresses = registerCommand("addresses", kAddressUsage, runAddresses);

} // namespace

} // namespace qb
