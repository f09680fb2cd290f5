// Reading from the command line: list the messages of a database, show one
// rendered, run the standard text search.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unordered_map>

#include "app/cli_reading.h"
#include "app/commands.h"
#include "core/access.h"
#include "core/dates.h"
#include "core/globals.h"
#include "core/registry.h"
#include "core/tables.h"
#include "core/text.h"
#include "reading/browseview.h"
#include "reading/render.h"
#include "reading/topics.h"
#include "wordsearch/textsearch.h"

namespace qb {

// Makes the database of this name (letter case ignored) the active one.
bool openCliDatabase(const std::string& name, std::string& error) {
    ForumsRec row;
    if (!findDatabaseByName(fromUtf8(name), row)) {
        error = "no database named '" + name + "'";
        return false;
    }
    if (!selectDatabase(row.ID)) {
        error = "the database '" + name + "' cannot be selected";
        return false;
    }
    return true;
}

namespace {

int fail(const std::string& text, int code = 1) {
    std::fprintf(stderr, "qbox: %s\n", text.c_str());
    return code;
}

bool parseNumber(const std::string& s, long long& out) {
    if (s.empty()) return false;
    char* end = nullptr;
    out = std::strtoll(s.c_str(), &end, 10);
    return end && *end == '\0';
}

struct OpenTables {
    std::vector<int> numbers;
    explicit OpenTables(bool mail) : numbers(browseTables(mail)) {
        for (int n : numbers) OP_CLOSE(OpOpenShared, n);
    }
    ~OpenTables() {
        for (int n : numbers) OP_CLOSE(OpClose, n);
    }
};

std::string senderText(uint32_t personId, std::unordered_map<uint32_t, std::string>& cache) {
    auto it = cache.find(personId);
    if (it != cache.end()) return it->second;
    std::string s;
    Person.clearBuffer();
    PER.PERSONID = personId;
    if (personId && Person.isOpen() && Person.get(PER_PersonKey)) {
        s = personName(PER);
        if (s.empty()) s = PER.ADDRESS.str();
    }
    cache.emplace(personId, s);
    return s;
}

std::string oneLine(std::string s) {
    for (char& c : s)
        if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    return toUtf8(s);
}

int runList(CliContext& ctx) {
    std::string tabText, limitText, topicText, keywordText;
    takeOption(ctx.args, "--tab", tabText);
    takeOption(ctx.args, "--limit", limitText);
    const bool byTopic = takeOption(ctx.args, "--topic", topicText);
    const bool byKeyword = takeOption(ctx.args, "--keyword", keywordText);
    if (ctx.args.size() != 1 || (byTopic && byKeyword) || ((byTopic || byKeyword) && !tabText.empty()))
        return fail("usage: list DB [--tab N | --topic NAME | --keyword STRING] [--limit N]", 2);
    std::string err;
    if (!openCliDatabase(ctx.args[0], err)) return fail(err);
    const bool mail = Mem.ForumType == 2;
    long long tab = 1, limit = -1;
    BrowseChoice choice;
    if (byTopic || byKeyword) {
        // The messages of one entry: the topic tab's list of links.
        Entry e;
        const std::string name = fromUtf8(byTopic ? topicText : keywordText);
        if (!findEntry(byTopic ? kTopicEntry : kKeyWordEntry, name, e))
            return fail(std::string(byTopic ? "no topic named '" : "no key word '") + toUtf8(name) + "'");
        choice.topicId = e.id;
        tab = mail ? 7 : 8;
    }
    if (!tabText.empty() && (!parseNumber(tabText, tab) || tab < 1 || tab > (mail ? kMailTabs : kMessageTabs)))
        return fail("--tab must be 1 to " + std::to_string(mail ? kMailTabs : kMessageTabs), 2);
    if (!limitText.empty() && (!parseNumber(limitText, limit) || limit < 0))
        return fail("--limit must be a number of messages", 2);
    OpenTables open(mail);
    ViewSpec spec = mail ? mailView(static_cast<int>(tab), choice) : messageView(static_cast<int>(tab), choice);
    ViewCursor cur = spec.cursor();
    std::unordered_map<uint32_t, std::string> names;
    std::unordered_map<uint32_t, std::string> headings;
    long long shown = 0;
    std::vector<ViewRow> page = cur.first(500);
    while (!page.empty() && (limit < 0 || shown < limit)) {
        for (const ViewRow& r : page) {
            if (limit >= 0 && shown >= limit) break;
            const uint32_t id = spec.idOf(r);
            if (mail) {
                MailRec m;
                if (spec.indirect ? !readMailHeader(id, m) : false) continue;
                if (!spec.indirect) m = r.as<MailRec>();
                std::printf("%u\t%s\t%s\t%s\n", m.MAILID, formatDate(m.DATE, "@D10-").c_str(),
                            oneLine(senderText(m.FROMID, names)).c_str(), oneLine(m.SUBJECT.str()).c_str());
            } else {
                MsgNmbrRec m;
                if (spec.indirect ? !readMessageHeader(id, m) : false) continue;
                if (!spec.indirect) m = r.as<MsgNmbrRec>();
                auto h = headings.find(m.THREADNUMBER);
                if (h == headings.end()) {
                    std::string t = threadHeading(m.THREADNUMBER);
                    if (t.empty()) t = m.THREADALPHA.str();
                    h = headings.emplace(m.THREADNUMBER, t).first;
                }
                std::printf("%u\t%s\t%s\t%s\n", m.MSGNUMBER, formatDate(m.DATE, "@D10-").c_str(),
                            oneLine(senderText(m.FROMID, names)).c_str(), oneLine(h->second).c_str());
            }
            ++shown;
        }
        page = cur.after(page.back(), 500);
    }
    return 0;
}

int runShow(CliContext& ctx) {
    std::string targetText;
    takeOption(ctx.args, "--target", targetText);
    const bool plain = takeFlag(ctx.args, "--plain");
    if (ctx.args.size() != 2) return fail("usage: show DB ID [--target N] [--plain]", 2);
    long long id = 0, target = 0;
    if (!parseNumber(ctx.args[1], id) || id <= 0 || id > 0xFFFFFFFFLL) return fail("ID must be a message number", 2);
    if (!targetText.empty() && (!parseNumber(targetText, target) || target < 1 || target > 4))
        return fail("--target must be 1 to 4", 2);
    std::string err;
    if (!openCliDatabase(ctx.args[0], err)) return fail(err);
    RenderInput in;
    if (!loadRenderInput(static_cast<uint32_t>(id), in))
        return fail("no message " + ctx.args[1] + " in '" + ctx.args[0] + "'");
    RenderSettings s = renderSettings();
    if (target) s.mailTarget = s.forumTarget = s.newsTarget = static_cast<int>(target);
    std::string text = renderMessage(in, s, plain);
    std::fputs(toUtf8(text).c_str(), stdout);
    return 0;
}

int runFind(CliContext& ctx) {
    SearchOptions o;
    o.matchCase = takeFlag(ctx.args, "--case");
    o.wordsOnly = takeFlag(ctx.args, "--words");
    o.backward = takeFlag(ctx.args, "--backward");
    if (ctx.args.size() != 2) return fail("usage: find DB TEXT [--case] [--words] [--backward]", 2);
    o.text = fromUtf8(ctx.args[1]);
    if (rtrim(o.text).empty()) return fail("the search text is empty", 2);
    if (o.text.size() > kSearchTextMax)
        std::fprintf(stderr, "qbox: the search text is cut to %zu characters\n", kSearchTextMax);
    std::string err;
    if (!openCliDatabase(ctx.args[0], err)) return fail(err);
    const bool mail = Mem.ForumType == 2;
    OpenTables open(mail);
    ViewSpec spec = mail ? mailView(1, BrowseChoice{}) : messageView(1, BrowseChoice{});
    ViewSearchSource source(spec, mail, std::nullopt);
    TextSearch search(o);
    for (;;) {
        SearchState st = search.run(source, 200);
        if (st == SearchState::Hit) std::printf("%u\n", search.hit().id);
        else if (st == SearchState::End) break;
        cliProgress("Searching", search.examined(), 0);
    }
    cliProgressEnd();
    return 0;
}

const bool regList = registerCommand("list", "list DB [--tab N | --topic NAME | --keyword STRING] [--limit N]", runList);
const bool regShow = registerCommand("show", "show DB ID [--target N] [--plain]", runShow);
const bool regFind = registerCommand("find", "find DB TEXT [--case] [--words] [--backward]", runFind);

} // namespace

} // namespace qb
