// Word index throughput: a full index of a mail database built from a real
// mailing-list archive, and the median time of two-word AND searches; the
// same messages indexed and searched by notmuch, side by side.
//   bench_index [ARCHIVE.mbox.gz] [WORKDIR]
// Old against new: the same imported mailbox indexed by another qbox (a
// command, e.g. a wrapper around an earlier build) and by the qbox beside this
// benchmark, alternating, whole processes timed from outside; the word lists
// and (message, word) pairs of the two must be identical.
//   bench_index --against OLD_QBOX [--rounds N] [--mbox FILE] [--dir WORKDIR]
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench/benchdata.h"
#include "core/access.h"
#include "core/globals.h"
#include "core/registry.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"
#include "wordsearch/indexer.h"
#include "wordsearch/prosearch.h"
#include "wordsearch/wordbreak.h"

using namespace qb;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

struct Msg {
    std::string raw, subject, body;
};

std::string slurpCommand(const std::string& cmd) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[1 << 16];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

// A minimal mbox splitter: "From " lines start messages; ">From " is unquoted.
std::vector<Msg> splitMbox(const std::string& data) {
    std::vector<Msg> out;
    size_t pos = 0;
    Msg* cur = nullptr;
    while (pos < data.size()) {
        size_t e = data.find('\n', pos);
        if (e == std::string::npos) e = data.size();
        std::string_view line(data.data() + pos, e - pos);
        pos = e + 1;
        if (line.substr(0, 5) == "From ") {  // mboxrd: body lines are quoted
            out.emplace_back();
            cur = &out.back();
            continue;
        }
        if (!cur) continue;
        if (line.substr(0, 6) == ">From ") line.remove_prefix(1);
        cur->raw.append(line);
        cur->raw.push_back('\n');
    }
    for (Msg& m : out) {
        size_t sep = m.raw.find("\n\n");
        std::string head = m.raw.substr(0, sep == std::string::npos ? m.raw.size() : sep + 1);
        std::string body = sep == std::string::npos ? std::string() : m.raw.substr(sep + 2);
        size_t s = 0;
        while (s < head.size()) {
            size_t le = head.find('\n', s);
            if (le == std::string::npos) le = head.size();
            if (head.compare(s, 8, "Subject:") == 0) {
                std::string subj = head.substr(s + 8, le - s - 8);
                size_t n = le + 1;
                while (n < head.size() && (head[n] == ' ' || head[n] == '\t')) {
                    size_t ne = head.find('\n', n);
                    if (ne == std::string::npos) ne = head.size();
                    subj += " " + head.substr(n, ne - n);
                    n = ne + 1;
                }
                size_t b = subj.find_first_not_of(" \t");
                m.subject = b == std::string::npos ? "" : subj.substr(b);
                break;
            }
            s = le + 1;
        }
        std::string crlf;
        crlf.reserve(body.size() + body.size() / 30);
        for (char c : body) {
            if (c == '\n') crlf += '\r';
            crlf += c;
        }
        if (crlf.size() > TXT_MsgTextMax) crlf.resize(TXT_MsgTextMax);
        m.body = std::move(crlf);
    }
    return out;
}

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "%s failed: %d %s\n", what, errorCode(), errorText().c_str());
        std::exit(1);
    }
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// ---- old against new

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

// The index of a database directory: its words with their counts in word
// order, and every (word, message) pair as (place of the word in that order,
// message ID), sorted.
struct IndexDigest {
    std::vector<std::pair<std::string, int32_t>> words;
    std::vector<uint64_t> pairs;
    uint64_t masBytes = 0, wordBytes = 0;
};

bool readDigest(const std::string& dbDir, IndexDigest& d) {
    const std::string wl = dbDir + "/IDX028.DAT", mas = dbDir + "/IDX029.TPS";
    d = IndexDigest{};
    std::error_code ec;
    d.masBytes = fs::file_size(mas, ec);
    d.wordBytes = fs::file_size(wl, ec);
    std::map<int32_t, std::string> byId;
    WordList.open(wl, OpenMode::SharedReadOnly);
    if (!WordList.isOpen()) return false;
    WordList.setFile();
    while (WordList.next()) {
        byId[WOR.WORDID] = WOR.THEWORD.str();
        d.words.emplace_back(WOR.THEWORD.str(), WOR.WORDCOUNT);
    }
    WordList.close();
    std::sort(d.words.begin(), d.words.end());
    std::map<std::string, uint32_t> place;
    for (size_t i = 0; i < d.words.size(); ++i) place[d.words[i].first] = static_cast<uint32_t>(i);
    MasIdx.open(mas, OpenMode::SharedReadOnly);
    if (!MasIdx.isOpen()) return false;
    MasIdx.setFile();
    while (MasIdx.next()) {
        auto w = byId.find(static_cast<int32_t>(MAS.WORDID));
        uint64_t at = w == byId.end() ? 0xFFFFFFFFu : place[w->second];
        d.pairs.push_back(at << 32 | MAS.SYSID);
    }
    MasIdx.close();
    std::sort(d.pairs.begin(), d.pairs.end());
    return true;
}

// "identical", or where the two differ first.
std::string compareDigests(const IndexDigest& a, const IndexDigest& b) {
    if (a.words.size() != b.words.size())
        return "word lists differ: " + std::to_string(a.words.size()) + " against " + std::to_string(b.words.size()) +
               " words";
    for (size_t i = 0; i < a.words.size(); ++i)
        if (a.words[i] != b.words[i])
            return "word " + a.words[i].first + " (" + std::to_string(a.words[i].second) + ") against " +
                   b.words[i].first + " (" + std::to_string(b.words[i].second) + ")";
    if (a.pairs != b.pairs)
        return "pairs differ: " + std::to_string(a.pairs.size()) + " against " + std::to_string(b.pairs.size());
    return "identical";
}

struct RunTime {
    double wall = 0, cpu = 0;
    long rssKb = 0;
};

// Runs cmd under /usr/bin/time; false when it failed.
bool timed(const std::string& cmd, const std::string& timeFile, RunTime& r) {
    const std::string full = "/usr/bin/time -o " + bench::quote(timeFile) + " -f '%e %U %S %M' " + cmd;
    if (std::system(full.c_str()) != 0) return false;
    std::ifstream in(timeFile);
    double u = 0, s = 0;
    in >> r.wall >> u >> s >> r.rssKb;
    r.cpu = u + s;
    return static_cast<bool>(in);
}

int againstOld(int argc, char** argv) {
    std::string oldQbox, mbox = "/tmp/qb-bench-index-20k.mbox", dir = (fs::temp_directory_path() / "qb-bench-index-cmp").string();
    int rounds = 2;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--against") oldQbox = argv[i + 1];
        else if (a == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (a == "--mbox") mbox = argv[i + 1];
        else if (a == "--dir") dir = argv[i + 1];
    }
    const std::string newQbox = (fs::canonical("/proc/self/exe").parent_path() / "qbox").string();
    if (!fs::exists(mbox)) {
        const std::string gz = bench::dataFile("linux-mips-20k.mbox.gz");
        if (gz.empty() || std::system(("gzip -dc " + bench::quote(gz) + " > " + bench::quote(mbox)).c_str()) != 0) {
            std::fprintf(stderr, "bench_index: no mailbox\n");
            return 1;
        }
    }
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string home = dir + "/home", saved = dir + "/saved", tf = dir + "/time";
    const std::string q = bench::quote(newQbox) + " --home " + bench::quote(home);
    RunTime imp;
    if (std::system((q + " db add-mail Bench --address bench@example.org >/dev/null").c_str()) != 0 ||
        !timed(q + " import --reader 'Unix Mail' --mail-db Bench " + bench::quote(mbox) + " >/dev/null", tf, imp)) {
        std::fprintf(stderr, "bench_index: the import failed\n");
        return 1;
    }
    uint64_t tempBytes = 0;
    for (auto& e : fs::directory_iterator(home + "/TEMP"))
        if (e.is_regular_file()) tempBytes += e.file_size();
    std::printf("import\t%.2f s wall\t%.2f s cpu\tpeak %ld KB\ttemporary files after it %llu bytes\tload %s\n",
                imp.wall, imp.cpu, imp.rssKb, static_cast<unsigned long long>(tempBytes), loadAverage().c_str());
    fs::copy(home, saved, fs::copy_options::recursive);

    struct Side { const char* name; std::string cmd; std::vector<RunTime> runs; IndexDigest digest; bool have = false; };
    Side sides[2] = {{"old", oldQbox, {}, {}, false}, {"new", bench::quote(newQbox), {}, {}, false}};
    uint32_t messages = 0;
    for (int r = 0; r < rounds; ++r) {
        for (int k = 0; k < 2; ++k) {
            Side& s = sides[(r + k) % 2];
            fs::remove_all(home);
            fs::copy(saved, home, fs::copy_options::recursive);
            RunTime t;
            const std::string out = dir + "/out";
            if (!timed(s.cmd + " --home " + bench::quote(home) + " index Bench >" + bench::quote(out), tf, t)) {
                std::fprintf(stderr, "bench_index: the %s index failed\n", s.name);
                return 1;
            }
            std::ifstream o(out);
            std::string w;
            o >> w >> messages;
            s.runs.push_back(t);
            std::printf("%s\tround %d\t%.2f s wall\t%.2f s cpu\t%.0f msgs/s\tpeak %ld KB\tload %s\n", s.name, r + 1,
                        t.wall, t.cpu, messages / t.wall, t.rssKb, loadAverage().c_str());
            if (!s.have) {
                s.have = readDigest(home + "/F1", s.digest);
                closeAllTables();
            }
        }
    }
    auto best = [](const Side& s, double RunTime::*f) {
        double m = 1e30;
        for (auto& r : s.runs) m = std::min(m, r.*f);
        return m;
    };
    for (Side& s : sides) {
        const double rows = static_cast<double>(std::max<size_t>(1, s.digest.pairs.size()));
        std::printf("%s\tbest %.2f s wall (%.0f msgs/s)\tbest %.2f s cpu\tMasIdx %llu bytes, %zu rows, %.1f bytes/row\t"
                    "word list %llu bytes, %zu words\n",
                    s.name, best(s, &RunTime::wall), messages / best(s, &RunTime::wall), best(s, &RunTime::cpu),
                    static_cast<unsigned long long>(s.digest.masBytes), s.digest.pairs.size(),
                    static_cast<double>(s.digest.masBytes) / rows, static_cast<unsigned long long>(s.digest.wordBytes),
                    s.digest.words.size());
    }
    std::printf("ratio\t%.2fx wall\t%.2fx cpu\n", best(sides[0], &RunTime::wall) / best(sides[1], &RunTime::wall),
                best(sides[0], &RunTime::cpu) / best(sides[1], &RunTime::cpu));
    const std::string same = compareDigests(sides[0].digest, sides[1].digest);
    std::printf("words, counts and pairs\t%s\n", same.c_str());
    fs::remove_all(dir);
    return same == "identical" ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc > 1 && std::string(argv[1]) == "--against") return againstOld(argc, argv);
    const std::string archive = argc > 1 ? argv[1] : "/work/shared/data/linux-mips-20k.mbox.gz";
    const std::string dir = argc > 2 ? argv[2] : (fs::temp_directory_path() / "qb-bench-index").string();
    fs::remove_all(dir);
    fs::create_directories(dir + "/home/CFG");
    fs::create_directories(dir + "/home/TEMP");

    auto t0 = Clock::now();
    std::string data = slurpCommand("gzip -dc '" + archive + "'");
    std::vector<Msg> msgs = splitMbox(data);
    if (msgs.size() < 20000) {
        // The archive holds 19,999: the earlier sample makes up the rest.
        std::ifstream in("/work/shared/data/linux-mips-1996-sample.mbox", std::ios::binary);
        std::string more((std::istreambuf_iterator<char>(in)), {});
        std::vector<Msg> extra = splitMbox(more);
        for (size_t i = 0; msgs.size() < 20000 && i < extra.size(); ++i) msgs.push_back(std::move(extra[i]));
    }
    if (const char* lim = std::getenv("QB_BENCH_LIMIT"); lim && std::atol(lim) > 0)
        msgs.resize(std::min(msgs.size(), static_cast<size_t>(std::atol(lim))));
    data.clear();
    data.shrink_to_fit();
    std::printf("messages\t%zu\t(read and split in %.1f s)\n", msgs.size(), since(t0));
    if (msgs.size() < 20000) std::fprintf(stderr, "warning: fewer than 20,000 messages\n");

    // A mail database in a fresh home.
    const std::string home = dir + "/home";
    Mem.Net = Mem.FileDir = MasIdxPath = home;
    Mem.TempDir = home + "/TEMP";
    setEngineDirectory(home + "/CFG");
    HeadlessUi quiet;
    setUi(&quiet);
    OP_CLOSE(OpOpenShared, Forums.number());
    Forums.clearBuffer();
    FOR.ID = 250001;
    FOR.DESCRIPTION = "linux-mips";
    FOR.DIRNUMBER = 1;
    FOR.TYPE = 2;
    check(Forums.add(), "add database");
    OP_CLOSE(OpClose, Forums.number());
    fs::create_directories(home + "/F1");
    check(selectDatabase(250001), "select database");
    loadWordTables();

    t0 = Clock::now();
    OP_CLOSE(OpOpenShared, Mail.number(), MsgText.number());
    Mail.stream();
    MsgText.stream();
    for (size_t i = 0; i < msgs.size(); ++i) {
        Mail.clearBuffer();
        MAI.MAILID = static_cast<uint32_t>(300000 + i);
        MAI.SUBJECT = msgs[i].subject;
        MAI.DATE = 70000 + static_cast<int32_t>(i / 10);
        check(Mail.add(), "add mail");
        MsgText.clearBuffer();
        TXT.MSGNUMBER = MAI.MAILID;
        TXT.DATE = MAI.DATE;
        TXT_MsgText = msgs[i].body;
        check(MsgText.add(), "add text");
    }
    Mail.flush();
    MsgText.flush();
    OP_CLOSE(OpClose, Mail.number(), MsgText.number());
    std::printf("load\t%.1f s\n", since(t0));

    t0 = Clock::now();
    IndexSummary sum;
    check(indexActiveDatabase(true, 40, sum) && sum.result == 1, "index");
    const double tIndex = since(t0);
    OP_CLOSE(OpOpenShared, MasIdx.number());
    const int64_t pairs = MasIdx.records();
    OP_CLOSE(OpClose, MasIdx.number());
    std::printf("quillbox_index\t%u msgs\t%.2f s\t%.0f msgs/s\t(%lld words, %lld pairs)\n", sum.messages, tIndex,
                sum.messages / tIndex, static_cast<long long>(sum.words), static_cast<long long>(pairs));

    // 100 two-word queries: two indexed words of the subject of spread-out messages.
    std::vector<std::pair<std::string, std::string>> queries;
    for (size_t k = 0; queries.size() < 100 && k < msgs.size() * 4; ++k) {
        const Msg& m = msgs[(k * 7919) % msgs.size()];
        std::vector<std::string> ws;
        breakWords(m.subject, true, true, [&](const char* w, size_t n, size_t) {
            std::string s(w, n);
            bool letters = std::all_of(s.begin(), s.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
            if (letters && s.size() >= 3 && std::find(ws.begin(), ws.end(), s) == ws.end()) ws.push_back(s);
        });
        std::vector<std::string> indexed;
        for (const std::string& w : ws)
            if (exactWord(w).id != 0) indexed.push_back(w);
        if (indexed.size() >= 2) queries.emplace_back(indexed[0], indexed[1]);
    }

    // The search window keeps the tables of the search open while it is open.
    OP_CLOSE(OpOpenShared, WordList.number(), MasIdx.number(), MsgText.number(), Mail.number(), StopWords.number());
    std::vector<double> times;
    size_t hits = 0;
    for (auto& [a, b] : queries) {
        auto t = Clock::now();
        const LookupHit ha = exactWord(a), hb = exactWord(b);
        const std::vector<uint32_t> result = searchAllWords({ha, hb}, 2);
        times.push_back(since(t) * 1000.0);
        if (std::getenv("QB_BENCH_VERBOSE"))
            std::fprintf(stderr, "%8.2f ms  %s(%d) %s(%d) -> %zu\n", times.back(), a.c_str(), ha.count, b.c_str(),
                         hb.count, result.size());
        hits += result.size();
        quiet.shown.clear();
    }
    std::printf("quillbox_search\t%zu queries\tmedian %.2f ms\tmax %.2f ms\t(%zu hits)\n", times.size(), median(times),
                times.empty() ? 0.0 : *std::max_element(times.begin(), times.end()), hits);
    OP_CLOSE(OpClose, WordList.number(), MasIdx.number(), MsgText.number(), Mail.number(), StopWords.number());
    closeAllTables();
    if (std::getenv("QB_BENCH_NO_NOTMUCH")) return 0;

    // notmuch over the same messages as a maildir.
    const std::string maildir = dir + "/maildir";
    for (const char* sub : {"/cur", "/new", "/tmp"}) fs::create_directories(maildir + sub);
    for (size_t i = 0; i < msgs.size(); ++i) {
        std::ofstream(maildir + "/cur/" + std::to_string(i + 1) + ".bench:2,S", std::ios::binary) << msgs[i].raw;
    }
    const std::string cfg = dir + "/notmuch-config";
    std::ofstream(cfg) << "[database]\npath=" << maildir << "\n[user]\nname=Bench\nprimary_email=bench@example.org\n"
                       << "[new]\ntags=\nignore=\n[search]\nexclude_tags=\n[maildir]\nsynchronize_flags=false\n";
    const std::string env = "NOTMUCH_CONFIG='" + cfg + "' ";
    t0 = Clock::now();
    int rc = std::system((env + "notmuch new --quiet >/dev/null 2>&1").c_str());
    const double tNotmuch = since(t0);
    if (rc != 0) {
        std::printf("notmuch_index\tfailed (status %d)\n", rc);
        return 0;
    }
    std::printf("notmuch_index\t%zu msgs\t%.2f s\t%.0f msgs/s\n", msgs.size(), tNotmuch, msgs.size() / tNotmuch);
    std::vector<double> nmTimes;
    long nmHits = 0;
    for (auto& [a, b] : queries) {
        auto t = Clock::now();
        std::string out = slurpCommand(env + "notmuch count '" + a + "' and '" + b + "' 2>/dev/null");
        nmTimes.push_back(since(t) * 1000.0);
        nmHits += std::atol(out.c_str());
    }
    std::printf("notmuch_search\t%zu queries\tmedian %.2f ms\t(%ld hits; each a notmuch count process)\n",
                nmTimes.size(), median(nmTimes), nmHits);
    std::printf("\n%-10s %14s %16s\n", "", "index msgs/s", "AND median ms");
    std::printf("%-10s %14.0f %16.2f\n", "quillbox", sum.messages / tIndex, median(times));
    std::printf("%-10s %14.0f %16.2f\n", "notmuch", msgs.size() / tNotmuch, median(nmTimes));
    fs::remove_all(dir);
    return 0;
}
