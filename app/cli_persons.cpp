// Persons from the command line: the person list, rename, aliases and swap,
// merge, and the merging of duplicate persons.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/cli_helpers.h"
#include "app/commands.h"
#include "core/globals.h"
#include "core/registry.h"
#include "core/tables.h"
#include "core/text.h"
#include "maintenance/dedup.h"
#include "maintenance/persons.h"

namespace qb {

namespace {

int fail(const std::string& text, int code = 1) {
    std::fprintf(stderr, "qbox: %s\n", text.c_str());
    return code;
}

using cli::parseId;

std::string field(std::string_view s) {
    std::string r(rtrim(s));
    for (char& c : r)
        if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    return toUtf8(r);
}

void printPerson(const PersonRec& p) {
    std::printf("%u\t%s\t%s\t%s\t%u\t%u\n", p.PERSONID, field(p.LASTNAME.view()).c_str(),
                field(p.FIRSTNAME.view()).c_str(), field(p.ADDRESS.view()).c_str(), p.FROMCOUNT, p.TOCOUNT);
}

int runPersons(CliContext& ctx) {
    std::string by = "name";
    takeOption(ctx.args, "--by", by);
    if (ctx.args.size() != 1 || (by != "name" && by != "address"))
        return fail("usage: persons DB [--by name|address]", 2);
    if (!cli::selectNamed(ctx.args[0])) return 1;
    for (const PersonRec& p : listPersons(by == "address")) printPerson(p);
    return 0;
}

// The person named by the argument, or a message and false.
bool personArg(const std::string& arg, PersonRec& p, int& status) {
    uint32_t id = 0;
    if (!parseId(arg, id)) {
        status = fail("'" + arg + "' is not a person ID", 2);
        return false;
    }
    if (!readPerson(id, p)) {
        status = fail("no person " + arg + " in '" + toUtf8(Mem.Description) + "'");
        return false;
    }
    return true;
}

int runPerson(CliContext& ctx) {
    std::vector<std::string> args = ctx.args;
    const char* usage =
        "usage: person rename DB ID --last NAME [--first NAME] | aliases DB ID | swap DB ID STRING | "
        "merge DB KEEP_ID ID...";
    if (args.empty()) return fail(usage, 2);
    const std::string sub = args[0];
    args.erase(args.begin());
    std::string last, first;
    const bool haveLast = sub == "rename" && takeOption(args, "--last", last);
    const bool haveFirst = sub == "rename" && takeOption(args, "--first", first);
    if (args.size() < 2) return fail(usage, 2);
    if (!cli::selectNamed(args[0])) return 1;
    PersonRec p;
    int status = 0;
    if (!personArg(args[1], p, status)) return status;

    if (sub == "rename") {
        if (args.size() != 2 || !haveLast || rtrim(last).empty()) return fail("usage: person rename DB ID --last NAME [--first NAME]", 2);
        const std::string newFirst = haveFirst ? fromUtf8(first) : p.FIRSTNAME.str();
        if (renamePerson(p, fromUtf8(last), newFirst) != SaveResult::Saved) return 1;
        if (readPerson(p.PERSONID, p)) printPerson(p);
        return 0;
    }
    if (sub == "aliases") {
        if (args.size() != 2) return fail("usage: person aliases DB ID", 2);
        for (const PersonAlias& a : personAliases(p.PERSONID, true)) std::printf("%s\n", field(a.personString).c_str());
        return 0;
    }
    if (sub == "swap") {
        if (args.size() != 3) return fail("usage: person swap DB ID STRING", 2);
        const std::string s = fromUtf8(args[2]);
        if (!swapIdentity(p.PERSONID, s, aliasAddress(s))) return 1;
        if (readPerson(p.PERSONID, p)) printPerson(p);
        return 0;
    }
    if (sub == "merge") {
        if (args.size() < 3) return fail("usage: person merge DB KEEP_ID ID...", 2);
        std::vector<uint32_t> others;
        for (size_t i = 2; i < args.size(); ++i) {
            PersonRec o;
            if (!personArg(args[i], o, status)) return status;
            if (isOwnPerson(o.PERSONID))
                return fail("person " + args[i] + " is the own person of '" + toUtf8(Mem.Description) +
                            "': " + kOwnPersonRefused);
            others.push_back(o.PERSONID);
        }
        const MergeOutcome r = mergePersons(p.PERSONID, others);
        if (readPerson(p.PERSONID, p)) printPerson(p);
        return r.failed || r.refused ? 1 : 0;
    }
    return fail(usage, 2);
}

int runDedup(CliContext& ctx) {
    if (ctx.args.size() != 1) return fail("usage: dedup-persons DB", 2);
    if (!cli::selectNamed(ctx.args[0])) return 1;
    DuplicateMerge run;
    cli::drive(run, [&] { run.stop(); });
    if (!run.ok()) return fail(run.stopped() ? "stopped; run the Count Messages process to correct the counts"
                                             : "the merging of duplicate persons did not finish");
    std::printf("existing %llu removed %llu merged %llu remaining %llu\n",
                static_cast<unsigned long long>(run.existing()), static_cast<unsigned long long>(run.removed()),
                static_cast<unsigned long long>(run.merged()), static_cast<unsigned long long>(run.remaining()));
    return 0;
}

const bool regPersons = registerCommand("persons", "persons DB [--by name|address]  the persons of a database", runPersons);
const bool regPerson = registerCommand(
    "person", "person rename DB ID --last NAME [--first NAME] | aliases DB ID | swap DB ID STRING | merge DB KEEP_ID ID...",
    runPerson);
const bool regDedup = registerCommand("dedup-persons", "dedup-persons DB  merge the persons that share an address", runDedup);

} // namespace

} // namespace qb
