// Command line of the database registry: db add-forum/add-mail/list/select/
// remove, rebuild and next-id-check.
#include <cstdio>
#include <string>
#include <vector>

#include "app/commands.h"
#include "core/access.h"
#include "core/globals.h"
#include "core/registry.h"
#include "core/settings.h"
#include "core/tables.h"
#include "core/text.h"
#include "core/ui.h"

#include "tasks/taskmanager.h"

namespace qb {

namespace {

int fail(const std::string& text) {
    std::fprintf(stderr, "qbox: %s\n", text.c_str());
    return 1;
}

void printRow(const ForumsRec& r) {
    std::printf("%u\t%s\t%s\t%s\t%u\n", r.ID, kindWord(r.TYPE), toUtf8(r.DESCRIPTION.view()).c_str(),
                databaseDirName(r.DIRNUMBER).c_str(), r.MSGCOUNT);
}

// The row of `db list`: the database row and whether it keeps a word index.
void printListRow(const ForumsRec& r) {
    std::printf("%u\t%s\t%s\t%s\t%u\t%s\n", r.ID, kindWord(r.TYPE), toUtf8(r.DESCRIPTION.view()).c_str(),
                databaseDirName(r.DIRNUMBER).c_str(), r.MSGCOUNT, r.INDEXTYPE == 1 ? "index" : "-");
}

// The single name argument of a subcommand.
bool oneName(const std::vector<std::string>& args, std::string& name) {
    if (args.size() != 1 || args[0].empty() || args[0].rfind("--", 0) == 0) return false;
    name = fromUtf8(args[0]);
    return true;
}

// Remembers the active database for the next start.
void rememberActive(uint32_t id);

int dbCommand(CliContext& ctx) {
    std::vector<std::string> args = ctx.args;
    if (args.empty()) return fail("db: missing subcommand (add-forum, add-mail, list, select, remove)");
    const std::string sub = args[0];
    args.erase(args.begin());

    if (sub == "list") {
        if (!args.empty()) return fail("db list: unexpected argument " + args[0]);
        for (const ForumsRec& r : listDatabases(0)) printListRow(r);
        return 0;
    }
    if (sub == "add-forum") {
        std::string name;
        if (!oneName(args, name)) return fail("usage: db add-forum NAME");
        if (addForumDatabase(name) == 0) return 1;
        printRow(FOR);
        return 0;
    }
    if (sub == "add-mail") {
        std::string address;
        if (!takeOption(args, "--address", address) || address.empty())
            return fail("usage: db add-mail NAME --address ADDR [--alt ADDR]...");
        std::vector<std::string> alts = takeOptions(args, "--alt");
        std::string name;
        if (!oneName(args, name)) return fail("usage: db add-mail NAME --address ADDR [--alt ADDR]...");
        NewDatabase db;
        db.kind = KindMail;
        db.name = name;
        db.address = fromUtf8(address);
        for (const std::string& a : alts) db.altAddresses.push_back(fromUtf8(a));
        if (addDatabase(db) == 0) return 1;
        printRow(FOR);
        return 0;
    }
    if (sub == "select" || sub == "remove") {
        std::string name;
        if (!oneName(args, name)) return fail("usage: db " + sub + " NAME");
        ForumsRec row;
        if (!findDatabaseByName(name, row)) return fail("no database named " + toUtf8(name));
        if (sub == "select") {
            if (!selectDatabase(row.ID)) return fail("cannot select database " + toUtf8(name));
            rememberActive(row.ID);
            printRow(row);
            return 0;
        }
        if (!removeDatabase(row.ID)) return 1;
        if (!removeDatabaseFiles(row.DIRNUMBER))
            return fail("some files of " + databaseDirectory(row.DIRNUMBER) + " were not removed");
        printRow(row);
        return 0;
    }
    if (sub == "index") {
        // Whether the database keeps a word index (brought up to date after imports).
        const std::string onOff = args.empty() ? "" : args[0];
        if (!args.empty()) args.erase(args.begin());
        std::string name;
        if ((onOff != "on" && onOff != "off") || !oneName(args, name)) return fail("usage: db index on|off NAME");
        ForumsRec row;
        if (!findDatabaseByName(name, row)) return fail("no database named " + toUtf8(name));
        if (!setKeepsIndex(row.ID, onOff == "on")) return fail("the database row cannot be written");
        std::printf("%u\t%s\tindex %s\n", row.ID, toUtf8(row.DESCRIPTION.view()).c_str(), onOff.c_str());
        return 0;
    }
    return fail("db: unknown subcommand " + sub);
}

int rebuildCommand(CliContext& ctx) {
    std::vector<std::string> args = ctx.args;
    const bool yes = takeFlag(args, "--yes");
    if (!args.empty()) return fail("rebuild: unexpected argument " + args[0]);
    Rebuild rebuild;
    // Rows are dropped from the database list only when the user said so.
    rebuild.keepRowsToDrop(!yes);
    while (rebuild.step()) cliProgress(rebuild.status(), static_cast<uint64_t>(rebuild.done()),
                                       static_cast<uint64_t>(rebuild.total()));
    cliProgressEnd();
    std::printf("log\t%s\n", rebuildLogPath().c_str());
    if (rebuild.aborted()) return fail("rebuild aborted: " + rebuild.status());
    for (const std::string& kept : rebuild.rowsKept()) std::printf("would-remove\t%s\n", toUtf8(kept).c_str());
    if (!rebuild.rowsKept().empty())
        std::fprintf(stderr, "qbox: %zu database(s) kept in the list; run rebuild --yes to remove them\n",
                     rebuild.rowsKept().size());
    std::printf("removed\t%d\nrenamed\t%d\nattached\t%d\n", rebuild.removedRows(), rebuild.renamedRows(),
                rebuild.attachedDirs());
    if (rebuild.nextId() == 0) return fail("the next-ID check failed");
    std::printf("nextid\t%u\n", rebuild.nextId());
    return 0;
}

int nextIdCommand(CliContext& ctx) {
    if (!ctx.args.empty()) return fail("next-id-check: unexpected argument " + ctx.args[0]);
    NextIdCheck check;
    while (check.step()) cliProgress(check.status(), static_cast<uint64_t>(check.done()),
                                     static_cast<uint64_t>(check.total()));
    cliProgressEnd();
    if (!check.ok()) return fail("the next-ID check failed");
    std::printf("nextid\t%u\n", check.highestId() + 1);
    return 0;
}

void rememberActive(uint32_t id) {
    int32_t number = static_cast<int32_t>(id);
    std::string text;
    if (!Konfig(2, 6, number, text) || !Konfig(4, 0, number, text))
        std::fprintf(stderr, "qbox: the active database could not be remembered\n");
}

const bool registered = [] {
    registerCommand("db",
                    "db add-forum NAME | db add-mail NAME --address ADDR [--alt ADDR]... | db list | "
                    "db select NAME | db remove NAME | db index on|off NAME",
                    dbCommand);
    registerCommand("rebuild", "rebuild [--yes]  verify the database list against the directories", rebuildCommand);
    registerCommand("next-id-check", "next-id-check  recount the databases and reset the next ID", nextIdCommand);
    return true;
}();

} // namespace

} // namespace qb
