// Topics, key words and classification from the command line.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/cli_export.h"
#include "app/cli_reading.h"
#include "app/commands.h"
#include "core/dates.h"
#include "core/globals.h"
#include "core/fixedstr.h"
#include "core/text.h"
#include "reading/topics.h"

namespace qb {

namespace {

const char* const kTopicUsage = "topic add|update|delete DB NAME [--new-name NAME] | topic list DB";
const char* const kKeywordUsage =
    "keyword add DB STRING [--case] [--words] | keyword delete DB STRING | keyword list DB | keyword run DB [STRING]";
const char* const kClassifyUsage = "classify DB TOPIC ID... [--remove] | classify DB TOPIC --scope SCOPE [--id ID] [--word W] [--topic NAME] [--from YYYY-MM-DD --to YYYY-MM-DD] [--remove]";

int fail(const std::string& text, int code = 1) {
    std::fprintf(stderr, "qbox: %s\n", text.c_str());
    return code;
}

int usage(const char* text) { return fail(std::string("usage: ") + text, 2); }

std::string yesNo(bool b) { return b ? "Yes" : "No"; }

void printTopic(const Entry& e) { std::printf("%u\t%s\t%u\n", e.id, toUtf8(e.name).c_str(), e.count); }

void printKeyword(const Entry& e) {
    std::string updated;
    if (e.date) updated = formatDate(e.date, "@D10-") + " " + formatTime(e.time, "@T1");
    std::printf("%u\t%s\t%u\t%s\t%s\t%s\n", e.id, toUtf8(e.name).c_str(), e.count, yesNo(e.matchCase).c_str(),
                yesNo(e.wholeWords).c_str(), updated.c_str());
}

const char* kindName(uint8_t type) { return type == kTopicEntry ? "topic" : "key word"; }

// The reasons an entry command fails, on stderr; 0 on success.
int result(EntryResult r, uint8_t type, const std::string& name) {
    const std::string quoted = "'" + toUtf8(name) + "'";
    switch (r) {
    case EntryResult::Ok: return 0;
    case EntryResult::NameInUse: return fail(std::string("the ") + kindName(type) + " name " + quoted + " is already in use");
    case EntryResult::NotFound: return fail(std::string("no ") + kindName(type) + " " + quoted);
    case EntryResult::Changed: return fail(std::string("the ") + kindName(type) + " " + quoted + " was changed meanwhile");
    case EntryResult::Failed: break;
    }
    return fail(std::string("the ") + kindName(type) + " " + quoted + " cannot be written");
}

// Runs key words to their end with a progress bar; 0 on success.
int runKeywords(std::vector<uint32_t> ids) {
    KeywordRun run(std::move(ids));
    while (run.step()) cliProgress("Key words", run.done(), run.total());
    cliProgressEnd();
    return run.failed() ? fail("the key-word run failed: " + run.error()) : 0;
}

int runTopic(CliContext& ctx) {
    std::string newName;
    const bool renaming = takeOption(ctx.args, "--new-name", newName);
    if (ctx.args.size() < 2) return usage(kTopicUsage);
    const std::string sub = ctx.args[0];
    const bool list = sub == "list";
    if (list ? ctx.args.size() != 2 : ctx.args.size() != 3) return usage(kTopicUsage);
    if (sub != "list" && sub != "add" && sub != "update" && sub != "delete") return usage(kTopicUsage);
    if (renaming != (sub == "update")) return usage(kTopicUsage);
    std::string err;
    if (!openCliDatabase(ctx.args[1], err)) return fail(err);
    if (list) {
        for (const Entry& e : listEntries(kTopicEntry)) printTopic(e);
        return 0;
    }
    const std::string name = fromUtf8(ctx.args[2]);
    if (rtrim(name).empty()) return fail("the topic name is empty", 2);
    if (sub == "add") {
        Entry e;
        if (int rc = result(addEntry(kTopicEntry, name, false, false, &e), kTopicEntry, name)) return rc;
        printTopic(e);
        return 0;
    }
    Entry e;
    if (!findEntry(kTopicEntry, name, e)) return result(EntryResult::NotFound, kTopicEntry, name);
    if (sub == "delete") {
        if (int rc = result(deleteEntry(e), kTopicEntry, name)) return rc;
        printTopic(e);
        return 0;
    }
    Entry after = e;
    after.name = fromUtf8(newName);
    if (rtrim(after.name).empty()) return fail("the new topic name is empty", 2);
    if (int rc = result(updateEntry(e, after), kTopicEntry, after.name)) return rc;
    if (!findEntry(kTopicEntry, after.name, e)) return result(EntryResult::NotFound, kTopicEntry, after.name);
    printTopic(e);
    return 0;
}

int runKeyword(CliContext& ctx) {
    const bool matchCase = takeFlag(ctx.args, "--case");
    const bool words = takeFlag(ctx.args, "--words");
    if (ctx.args.size() < 2) return usage(kKeywordUsage);
    const std::string sub = ctx.args[0];
    const size_t n = ctx.args.size();
    const bool ok = (sub == "add" && n == 3) || (sub == "delete" && n == 3) || (sub == "list" && n == 2) ||
                    (sub == "run" && (n == 2 || n == 3));
    if (!ok || ((matchCase || words) && sub != "add")) return usage(kKeywordUsage);
    std::string err;
    if (!openCliDatabase(ctx.args[1], err)) return fail(err);
    if (sub == "list") {
        for (const Entry& e : listEntries(kKeyWordEntry)) printKeyword(e);
        return 0;
    }
    std::string name;
    if (n == 3) {
        name = fromUtf8(ctx.args[2]);
        if (rtrim(name).empty()) return fail("the key word is empty", 2);
    }
    if (sub == "add") {
        Entry e;
        if (int rc = result(addEntry(kKeyWordEntry, name, matchCase, words, &e), kKeyWordEntry, name)) return rc;
        // A new key word is run over the database at once.
        if (int rc = runKeywords({e.id})) return rc;
        if (findEntryById(e.id, e)) printKeyword(e);
        return 0;
    }
    std::vector<Entry> run;
    if (n == 3) {
        Entry e;
        if (!findEntry(kKeyWordEntry, name, e)) return result(EntryResult::NotFound, kKeyWordEntry, name);
        if (sub == "delete") {
            if (int rc = result(deleteEntry(e), kKeyWordEntry, name)) return rc;
            printKeyword(e);
            return 0;
        }
        run.push_back(e);
    } else {
        run = listEntries(kKeyWordEntry);
    }
    std::vector<uint32_t> ids;
    for (const Entry& e : run) ids.push_back(e.id);
    if (ids.empty()) return 0;
    if (int rc = runKeywords(ids)) return rc;
    for (const Entry& e : run) {
        Entry now;
        if (findEntryById(e.id, now)) printKeyword(now);
    }
    return 0;
}

int runClassify(CliContext& ctx) {
    // The form over a scope of messages belongs to the batch operations.
    if (std::find(ctx.args.begin(), ctx.args.end(), "--scope") != ctx.args.end()) return runClassifyScope(ctx);
    const bool remove = takeFlag(ctx.args, "--remove");
    if (ctx.args.size() < 3) return usage(kClassifyUsage);
    std::vector<uint32_t> ids;
    for (size_t i = 2; i < ctx.args.size(); ++i) {
        const std::string& a = ctx.args[i];
        char* end = nullptr;
        const unsigned long long v = std::strtoull(a.c_str(), &end, 10);
        if (a.empty() || a[0] == '-' || !end || *end || v == 0 || v > 0xFFFFFFFFull)
            return fail("'" + a + "' is not a message ID", 2);
        ids.push_back(static_cast<uint32_t>(v));
    }
    std::string err;
    if (!openCliDatabase(ctx.args[0], err)) return fail(err);
    const std::string name = fromUtf8(ctx.args[1]);
    Entry e;
    if (!findEntry(kTopicEntry, name, e)) return result(EntryResult::NotFound, kTopicEntry, name);
    // Every ID is checked before anything changes. Removing takes any linked
    // ID, also one whose message is gone.
    for (uint32_t id : ids)
        if (!messageExists(id) && !(remove && isLinked(e.id, id)))
            return fail("no message " + std::to_string(id) + " in '" + ctx.args[0] + "'");
    if (int rc = result(attachMessages(e.id, ids, !remove), kTopicEntry, name)) return rc;
    if (findEntryById(e.id, e)) printTopic(e);
    return 0;
}

const bool regTopic = registerCommand("topic", kTopicUsage, runTopic);
const bool regKeyword = registerCommand("keyword", kKeywordUsage, runKeyword);
const bool regClassify = registerCommand("classify", kClassifyUsage, runClassify);

} // namespace

} // namespace qb
