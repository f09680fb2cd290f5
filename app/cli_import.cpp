// The import command: one import run of a reader's files, with a progress
// bar on stderr and the totals on stdout.
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <string>
#include <vector>

#include "app/commands.h"
#include "core/access.h"
#include "core/fixedstr.h"
#include "core/readbatch.h"
#include "core/globals.h"
#include "core/registry.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/ui.h"
#include "import/catalogue.h"
#include "import/pipeline.h"
#include "tasks/taskmanager.h"
#include "app/cli_import.h"

namespace qb {

namespace {

const char* const kUsage =
    "import --definition NAME | import --reader NAME [--mail-db NAME] [--forum-db NAME] [--kinds mail,forum,news] [--reimport] "
    "[--create-only] [--topic NAME] [--tree DIR | --dir DIR] [--masks \"*.MBX;*.TXT\"] [FILE...]";

volatile std::sig_atomic_t gInterrupted = 0;
extern "C" void onInterrupt(int) { gInterrupted = 1; }

int fail(const std::string& text) {
    std::fprintf(stderr, "qbox import: %s\n", toUtf8(text).c_str());
    return 1;
}

// FOR:ID of the database of this name and kind (letter case ignored), 0 when none.
uint32_t databaseNamed(const std::string& name, uint8_t kind, int* countOfKind = nullptr, uint32_t* onlyId = nullptr) {
    uint32_t found = 0;
    int count = 0;
    const std::string want = upper(rtrim(name));
    Forums.set(FOR_ForumKey);
    while (Forums.next()) {
        if (FOR.TYPE != kind) continue;
        ++count;
        if (onlyId) *onlyId = FOR.ID;
        if (!want.empty() && upper(FOR.DESCRIPTION.view()) == want) found = FOR.ID;
    }
    if (countOfKind) *countOfKind = count;
    return found;
}

// ID of the topic of this name in the mail database, 0 when none.
uint32_t topicNamed(uint32_t mailDb, const std::string& name) {
    if (!selectDatabase(mailDb)) return 0;
    OP_CLOSE(OpOpenShared, Codes.number());
    Codes.clearBuffer();
    COD.TYPE = 2;
    COD.INDEX.set(name);
    uint32_t id = Codes.get(COD_ClassKey) ? COD.ID : 0;
    OP_CLOSE(OpClose, Codes.number());
    clearActiveDatabase();
    return id;
}

} // namespace

int importSettingsFromArgs(std::vector<std::string>& args, ImportSettings& s) {
    std::string readerOpt, mailOpt, forumOpt, kindsOpt, topicOpt, treeOpt, dirOpt, masksOpt;
    const bool haveReader = takeOption(args, "--reader", readerOpt);
    const bool haveMail = takeOption(args, "--mail-db", mailOpt);
    const bool haveForum = takeOption(args, "--forum-db", forumOpt);
    const bool haveKinds = takeOption(args, "--kinds", kindsOpt);
    const bool haveTopic = takeOption(args, "--topic", topicOpt);
    const bool haveTree = takeOption(args, "--tree", treeOpt);
    const bool haveDir = takeOption(args, "--dir", dirOpt);
    const bool haveMasks = takeOption(args, "--masks", masksOpt);
    const bool reimport = takeFlag(args, "--reimport");
    const bool createOnly = takeFlag(args, "--create-only");
    for (const std::string& a : args)
        if (a.rfind("--", 0) == 0) return fail("unknown option '" + a + "'\nusage: qbox " + kUsage);
    if (!haveReader) return fail(std::string("--reader NAME is required\nusage: qbox ") + kUsage);

    const ReaderEntry* reader = readerByName(fromUtf8(readerOpt));
    if (!reader) return fail("unknown reader '" + fromUtf8(readerOpt) + "'");
    if (!makeParser(reader->name)) return fail("the reader '" + reader->name + "' is not available yet");

    chooseReader(s, *reader);
    if (haveKinds) {
        s.importMail = s.importForum = s.importNews = false;
        std::string list = kindsOpt;
        for (char& ch : list)
            if (ch == ',') ch = ';';
        for (const std::string& k : splitList(list)) {
            if (k == "mail") s.importMail = true;
            else if (k == "forum") s.importForum = true;
            else if (k == "news") s.importNews = true;
            else return fail("unknown message kind '" + k + "' (mail, forum, news)");
        }
    }
    s.allowReimport = reimport;
    s.filter = createOnly ? 2 : 1;

    if ((haveTree ? 1 : 0) + (haveDir ? 1 : 0) + (args.empty() ? 0 : 1) > 1)
        return fail("give either --tree DIR, --dir DIR or files");
    if (haveTree) {
        s.method = 0;
        s.path = treeOpt;
    } else if (haveDir) {
        s.method = 1;
        s.path = dirOpt;
    } else if (!args.empty()) {
        s.method = 2;
        s.path = joinList(args);
    } else {
        return fail("no files given (--tree DIR, --dir DIR or FILE...)");
    }
    if (haveMasks) s.masks = masksOpt;
    if (s.method != 2) {
        std::error_code ec;
        if (!std::filesystem::is_directory(s.path, ec)) return fail("directory '" + s.path + "' does not exist");
    }

    OP_CLOSE(OpOpenShared, Forums.number());
    int mailDbs = 0;
    uint32_t onlyMail = 0;
    uint32_t mailId = databaseNamed(fromUtf8(mailOpt), KindMail, &mailDbs, &onlyMail);
    uint32_t forumId = haveForum ? databaseNamed(fromUtf8(forumOpt), KindForum) : 0;
    OP_CLOSE(OpClose, Forums.number());
    if (haveMail && !mailId) return fail("unknown mail database '" + fromUtf8(mailOpt) + "'");
    if (haveForum && !forumId) return fail("unknown forum database '" + fromUtf8(forumOpt) + "'");
    // With a single mail database there is nothing to choose.
    if (!haveMail && mailDbs == 1) mailId = onlyMail;
    s.mailDb = mailId;
    s.forumDb = reader->takesForumDb() ? forumId : 0;
    if (haveTopic) {
        if (!s.mailDb) return fail("--topic needs a mail database");
        s.mailTopic = topicNamed(s.mailDb, fromUtf8(topicOpt));
        if (!s.mailTopic) return fail("unknown topic '" + fromUtf8(topicOpt) + "'");
    }

    SetupCheck check = checkSettings(s);
    if (!check.ok) return fail(check.text);
    return 0;
}

namespace {

// The import definition of this description (letter case ignored), 0 when none.
uint32_t definitionNamed(const std::string& name) {
    uint32_t id = 0;
    OP_CLOSE(OpOpenShared, Batch.number());
    Batch.set(BAT_IDKEY);
    while (Batch.next())
        if (BAT.TYPE == 1 && upper(BAT.DESCRIPTION.view()) == upper(rtrim(name))) id = BAT.ID;
    OP_CLOSE(OpClose, Batch.number());
    return id;
}

int runImport(CliContext& c) {
    std::vector<std::string>& args = c.args;
    std::string definition;
    ImportSettings s;
    if (takeOption(args, "--definition", definition)) {
        if (!args.empty()) return fail("--definition NAME takes no other options or files");
        const uint32_t id = definitionNamed(fromUtf8(definition));
        if (!id) return fail("no import definition named '" + fromUtf8(definition) + "'");
        SetupCheck check;
        if (!loadDefinition(id, s, check)) return fail(check.text.empty() ? "the definition cannot be read" : check.text);
        if (!makeParser(s.reader)) return fail("the reader '" + s.reader + "' is not available yet");
    } else if (int status = importSettingsFromArgs(args, s)) {
        return status;
    }

    // An import writes its files from end to end and reads the temporary
    // file once, in order: a memory map of them saves nothing and would keep
    // every page read in the process's resident memory.
    setReadMapping(false);
    int status = 1;
    // Ctrl-C stops the run between two batches: what is stored stays, the
    // temporary files and the control record are let go.
    gInterrupted = 0;
    auto previous = std::signal(SIGINT, onInterrupt);
    {
        ImportRun run(s);
        while (run.step()) {
            if (gInterrupted) {
                cliUi().answers.push_front(BtnYes);
                run.requestStop();
                break;
            }
            std::string text = run.progressText();
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
            if (run.importPassRunning()) cliProgress(text, run.recordsDone(), run.totals().tempRecords);
            else cliProgress(text, run.filesDone(), run.fileCount());
        }
        cliProgressEnd();
        std::printf("stored %llu skipped %llu\n", static_cast<unsigned long long>(run.totals().stored),
                    static_cast<unsigned long long>(run.totals().skipped));
        std::fflush(stdout);
        status = run.failed() || run.stopped() ? 1 : 0;
        // A database that keeps a word index is brought up to date.
        if (!run.stopped() && !indexFilledDatabases(run.context().routed, 40)) {
            std::fprintf(stderr, "qbox import: the word index could not be brought up to date\n");
            status = 1;
        }
    }
    std::signal(SIGINT, previous);
    return status;
}

const bool registered = registerCommand("import", kUsage, runImport);

} // namespace

} // namespace qb
