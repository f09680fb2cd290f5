// Throughput of the store step: the articles of an mbox file stored as a
// newsgroup (threaded by Message-ID), then as mail into a mail database, then
// the same mail again (every one a duplicate).
//
//   bench_store [FILE.mbox|FILE.mbox.gz]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "core/access.h"
#include "core/globals.h"
#include "core/storage.h"
#include "core/tables.h"
#include "core/ui.h"
#include "import/maildb.h"
#include "import/persons.h"
#include "import/store.h"

using namespace qb;
namespace fs = std::filesystem;

namespace {

struct Article {
    std::string subject, fromName, fromAddr, messageId, reference, body;
};

std::string readAll(const std::string& path) {
    std::string cmd = path.size() > 3 && path.substr(path.size() - 3) == ".gz" ? "gzip -dc '" + path + "'"
                                                                             : "cat '" + path + "'";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return {};
    std::string data;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) data.append(buf, n);
    pclose(p);
    return data;
}

std::string lastWord(const std::string& s) {
    size_t e = s.find_last_not_of(" \t\r");
    if (e == std::string::npos) return {};
    size_t b = s.find_last_of(" \t", e);
    return s.substr(b == std::string::npos ? 0 : b + 1, e - (b == std::string::npos ? 0 : b + 1) + 1);
}

void splitFrom(const std::string& v, std::string& name, std::string& addr) {
    size_t lt = v.find('<'), gt = v.find('>');
    if (lt != std::string::npos && gt != std::string::npos && gt > lt) {
        addr = v.substr(lt + 1, gt - lt - 1);
        name = v.substr(0, lt);
    } else if (size_t op = v.find('('); op != std::string::npos) {
        addr = v.substr(0, op);
        size_t cp = v.find(')', op);
        name = v.substr(op + 1, cp == std::string::npos ? std::string::npos : cp - op - 1);
    } else {
        addr = v;
    }
    auto trim = [](std::string& s) {
        size_t b = s.find_first_not_of(" \t\""), e = s.find_last_not_of(" \t\"\r");
        s = b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
    };
    trim(name);
    trim(addr);
}

std::vector<Article> parse(const std::string& data) {
    std::vector<Article> out;
    std::istringstream in(data);
    std::string line;
    Article* cur = nullptr;
    bool inHeaders = false;
    bool prevBlank = true;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (prevBlank && line.rfind("From ", 0) == 0) {
            out.emplace_back();
            cur = &out.back();
            inHeaders = true;
            prevBlank = false;
            continue;
        }
        prevBlank = line.empty();
        if (!cur) continue;
        if (inHeaders) {
            if (line.empty()) { inHeaders = false; continue; }
            auto value = [&](const char* h) { return line.substr(std::char_traits<char>::length(h)); };
            if (line.rfind("Subject: ", 0) == 0) cur->subject = value("Subject: ");
            else if (line.rfind("From: ", 0) == 0) splitFrom(value("From: "), cur->fromName, cur->fromAddr);
            else if (line.rfind("Message-ID: ", 0) == 0 || line.rfind("Message-Id: ", 0) == 0) cur->messageId = lastWord(value("Message-ID: "));
            else if (line.rfind("In-Reply-To: ", 0) == 0 || line.rfind("References: ", 0) == 0) cur->reference = lastWord(line);
        } else {
            cur->body += line;
            cur->body += "\r\n";
        }
    }
    for (Article& a : out) {
        if (a.subject.rfind("Re: ", 0) == 0) a.subject = a.subject.substr(4);
        if (a.body.size() > 64000) a.body.resize(64000);
    }
    return out;
}

double seconds(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

bool begin(uint8_t kind) {
    if (!beginTransaction(storeTables(kind), 5)) {
        std::cerr << "begin: " << errorText() << "\n";
        return false;
    }
    return true;
}

struct Totals {
    int stored = 0, skipped = 0, failed = 0;
};

Totals run(const std::vector<Article>& arts, uint8_t kind, uint32_t& counter, uint32_t internal, bool asMail) {
    Totals t;
    StoreInput in;
    in.kind = kind;
    in.secSysId = 1;
    in.textDate = 80000;
    in.textTime = 1;
    // The temporary numbers of Message-IDs and references, as the pre-import
    // leaves them: written in stream mode before the import pass.
    std::vector<uint32_t> own(arts.size(), 0), ref(arts.size(), 0);
    if (!asMail) {
        TempID.stream();
        for (size_t i = 0; i < arts.size(); ++i) {
            for (int w = 0; w < 2; ++w) {
                const std::string& id = w == 0 ? arts[i].messageId : arts[i].reference;
                if (id.empty()) continue;
                TempID.clearBuffer();
                TID.IDSTRING = id;
                TID.MSGNUMBER = counter;
                (w == 0 ? own : ref)[i] = counter++;
                TempID.add();
            }
        }
        TempID.flush();
    }
    if (!begin(kind)) { t.failed = 1; return t; }
    int written = 0;
    for (size_t i = 0; i < arts.size(); ++i) {
        const Article& a = arts[i];
        NewHR.clearBuffer();
        NHR.INTERNAL = internal;
        NHR.HEADING = a.subject;
        NHR.S_NAME = a.fromName;
        NHR.S_CISADRESS = a.fromAddr;
        NHR.DATE = 70000 + static_cast<int32_t>(i / 10);
        NHR.TIME = static_cast<int32_t>((i % 10) * 6000 + 1);
        NHR_MSGTEXT = a.body;
        if (asMail) {
            std::string s = a.fromAddr, r;
            NHR.MAILTYPE = static_cast<uint8_t>(classifyMail(s, r));
            NHR.S_CISADRESS = s;
            NHR.R_CISADRESS = r;
            NHR.R_NAME = "Bench Owner";
            NHR.MSGNUMBER = NHR.REFNUMBER = counter++;
            NHR.RECIPTYPE = "TO";
        } else {
            NHR.R_NAME = a.reference.empty() ? "All" : "Unknown";
            NHR.MSGNUMBER = own[i];
            NHR.REFNUMBER = ref[i];
        }
        StoreOutput out;
        int r = storeMessage(in, out);
        if (r == StoreStored) ++t.stored;
        else if (r == StoreSkipped) ++t.skipped;
        else { ++t.failed; return t; }
        if (++written % 400 == 0) {
            commitTransaction();
            if (!begin(kind)) { ++t.failed; return t; }
        }
    }
    commitTransaction();
    return t;
}

} // namespace

int main(int argc, char** argv) {
    const std::string file = argc > 1 ? argv[1] : "/work/shared/data/linux-mips-1996-sample.mbox";
    const std::vector<Article> arts = parse(readAll(file));
    if (arts.empty()) {
        std::cerr << "no messages in " << file << "\n";
        return 1;
    }
    char tmpl[] = "/tmp/bench_store_XXXXXX";
    const std::string home = mkdtemp(tmpl);
    fs::create_directories(home + "/net/CFG");
    fs::create_directories(home + "/data");
    fs::create_directories(home + "/tmp");
    Mem.Net = home + "/net";
    Mem.FileDir = home + "/data";
    Mem.TempDir = home + "/tmp";
    MasIdxPath = Mem.FileDir;
    setEngineDirectory(home + "/net/CFG");
    HeadlessUi ui;
    ui.echo = true;
    setUi(&ui);

    std::printf("%zu messages from %s\n", arts.size(), file.c_str());
    uint32_t counter = 1000000;

    // Newsgroup database in F1.
    fs::create_directories(home + "/data/F1");
    Mem.Dirnamn = "F1";
    for (Table* t : storeTables(3)) OP_CLOSE(OpOpenShared, t->number());
    OP_CLOSE(OpOpenShared, TempID.number());
    resetStoreRun();
    auto t0 = std::chrono::steady_clock::now();
    Totals news = run(arts, 3, counter, 700, false);
    double s = seconds(t0);
    std::printf("newsgroup: %d stored, %d skipped, %d failed in %.2f s: %.0f messages/s; %lld threads, %lld persons\n",
                news.stored, news.skipped, news.failed, s, news.stored / s, static_cast<long long>(Threads.records()),
                static_cast<long long>(Person.records()));
    for (Table* t : storeTables(3)) OP_CLOSE(OpForceClose, t->number());

    // Mail database.
    std::string error;
    const uint32_t box = addMailDatabase("Bench Owner", "owner@bench.example", {}, &error);
    if (!box) {
        std::cerr << error << "\n";
        return 1;
    }
    OP_CLOSE(OpOpenShared, Forums.number());
    Forums.clearBuffer();
    FOR.ID = box;
    Forums.get(FOR_ForumKey);
    Mem.Dirnamn = "F" + std::to_string(FOR.DIRNUMBER);
    OP_CLOSE(OpClose, Forums.number());
    loadMailOwner(box);
    for (Table* t : storeTables(2)) OP_CLOSE(OpOpenShared, t->number());
    resetStoreRun();
    t0 = std::chrono::steady_clock::now();
    Totals mail = run(arts, 2, counter, box, true);
    s = seconds(t0);
    std::printf("mail:      %d stored, %d skipped, %d failed in %.2f s: %.0f messages/s\n", mail.stored, mail.skipped,
                mail.failed, s, mail.stored / s);
    t0 = std::chrono::steady_clock::now();
    Totals again = run(arts, 2, counter, box, true);
    s = seconds(t0);
    std::printf("mail again: %d stored, %d skipped as duplicates in %.2f s: %.0f messages/s\n", again.stored,
                again.skipped, s, arts.size() / s);

    for (Table* t : allTables()) OP_CLOSE(OpForceClose, t->number());
    closeAllTables();
    std::error_code ec;
    fs::remove_all(home, ec);
    return news.failed || mail.failed ? 1 : 0;
}
