// Fills a test database from the first messages of a mailing-list archive:
// a small reader of its own (From, Subject, Date, Message-Id, In-Reply-To and
// the body), enough to browse real messages in the reading tests.
#pragma once
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "core/dates.h"
#include "core/text.h"
#include "tests/reading_fixture.h"

namespace qb::testing {

struct MboxMessage {
    std::string fromName, fromAddress, subject, messageId, inReplyTo, body;
    int32_t date = 0, time = 0;
};

inline std::vector<MboxMessage> readMbox(const std::string& path, size_t max) {
    std::ifstream in(path, std::ios::binary);
    std::vector<MboxMessage> out;
    std::string line;
    MboxMessage cur;
    bool inHeader = false, any = false;
    std::string lastHeader;
    auto finish = [&] {
        if (any && cur.date) out.push_back(cur);
        cur = MboxMessage{};
    };
    while (std::getline(in, line) && out.size() < max) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("From ", 0) == 0) {
            finish();
            any = true;
            inHeader = true;
            continue;
        }
        if (!any) continue;
        if (inHeader) {
            if (line.empty()) {
                inHeader = false;
                continue;
            }
            if (line[0] == ' ' || line[0] == '\t') continue;
            auto colon = line.find(':');
            if (colon == std::string::npos) continue;
            std::string name = upper(line.substr(0, colon));
            std::string value = line.substr(colon + 1);
            while (!value.empty() && value[0] == ' ') value.erase(0, 1);
            if (name == "FROM") {
                auto lt = value.find('<');
                if (lt != std::string::npos) {
                    cur.fromAddress = value.substr(lt + 1, value.find('>', lt) - lt - 1);
                    cur.fromName = value.substr(0, lt);
                } else {
                    auto paren = value.find('(');
                    cur.fromAddress = value.substr(0, paren == std::string::npos ? value.size() : paren);
                    if (paren != std::string::npos)
                        cur.fromName = value.substr(paren + 1, value.find(')', paren) - paren - 1);
                }
                for (std::string* s : {&cur.fromName, &cur.fromAddress}) {
                    while (!s->empty() && (s->back() == ' ' || s->back() == '"')) s->pop_back();
                    while (!s->empty() && (s->front() == ' ' || s->front() == '"')) s->erase(0, 1);
                }
            } else if (name == "SUBJECT") {
                cur.subject = value.substr(0, 50);
            } else if (name == "MESSAGE-ID") {
                cur.messageId = value.substr(0, 60);
            } else if (name == "IN-REPLY-TO") {
                auto lt = value.find('<');
                if (lt != std::string::npos) cur.inReplyTo = value.substr(lt, value.find('>', lt) - lt + 1);
            } else if (name == "DATE") {
                char wd[8] = {0}, mon[8] = {0};
                int d = 0, y = 0, h = 0, mi = 0, s = 0;
                const char* v = value.c_str();
                if (std::sscanf(v, "%3s, %d %3s %d %d:%d:%d", wd, &d, mon, &y, &h, &mi, &s) == 7 ||
                    std::sscanf(v, "%d %3s %d %d:%d:%d", &d, mon, &y, &h, &mi, &s) == 6) {
                    cur.date = dayNumber(fullYear(y), monthFromName(upper(mon)), d);
                    cur.time = clockTime(h, mi, 0);
                }
            }
        } else if (cur.body.size() < 60000) {
            cur.body += line + "\r\n";
        }
    }
    finish();
    return out;
}

// Splits "First Last" into its names.
inline void splitName(const std::string& full, std::string& first, std::string& last) {
    auto sp = full.rfind(' ');
    if (sp == std::string::npos) {
        first.clear();
        last = full;
    } else {
        first = full.substr(0, sp);
        last = full.substr(sp + 1);
    }
}

// Adds the messages as mail of the owner (person 250000) or as newsgroup
// messages with threads by subject; returns the message IDs in order.
inline std::vector<uint32_t> loadMbox(ReadingDb& db, const std::vector<MboxMessage>& msgs, bool mail) {
    std::map<std::string, uint32_t> persons;  // address -> id
    std::map<std::string, uint32_t> threads;  // heading -> id
    std::map<std::string, uint32_t> ids;      // message-id -> number
    std::map<uint32_t, uint32_t> threadCount;
    std::map<uint32_t, std::string> headings;
    std::vector<uint32_t> out;
    uint32_t nextPerson = 250001, nextThread = 260000, number = mail ? 270000 : 1;
    auto personOf = [&](const std::string& name, const std::string& address) {
        auto it = persons.find(upper(address));
        if (it != persons.end()) return it->second;
        std::string first, last;
        splitName(name.empty() ? address.substr(0, address.find('@')) : name, first, last);
        const uint32_t id = nextPerson++;
        db.addPerson(id, first.substr(0, 25), last.substr(0, 25), address.substr(0, 60));
        persons[upper(address)] = id;
        return id;
    };
    db.beginBulk();
    if (mail) db.addPerson(250000, "", "List archive", "linux-archive@neteng.engr.sgi.com");
    else db.addSection(1, 0, "linux.ports.mips");
    for (const MboxMessage& m : msgs) {
        const uint32_t from = personOf(m.fromName, m.fromAddress);
        std::string first, last;
        splitName(m.fromName.empty() ? m.fromAddress.substr(0, m.fromAddress.find('@')) : m.fromName, first, last);
        const uint32_t id = number++;
        if (mail) {
            db.addMail(id, m.date, m.time, m.subject, from, last, 250000, "List archive", 250000);
        } else {
            std::string heading = m.subject;
            while (heading.size() > 4 && upper(heading.substr(0, 4)) == "RE: ") heading = heading.substr(4);
            heading = heading.substr(0, 50);
            auto t = threads.find(upper(heading));
            uint32_t thread;
            if (t == threads.end()) {
                thread = nextThread++;
                threads[upper(heading)] = thread;
                headings[thread] = heading;
            } else {
                thread = t->second;
            }
            ++threadCount[thread];
            uint32_t ref = 0;
            if (auto r = ids.find(m.inReplyTo); !m.inReplyTo.empty() && r != ids.end()) ref = r->second;
            db.addMessage(id, ref, thread, heading, 1, m.date, from, last);
            if (!m.messageId.empty() && !ids.count(m.messageId)) {
                ids[m.messageId] = id;
                db.addMessageId(id, m.messageId);
            }
        }
        db.addText(id, m.body);
        out.push_back(id);
    }
    for (auto& [thread, count] : threadCount) db.addThread(thread, 1, headings[thread], count);
    db.endBulk();
    return out;
}

} // namespace qb::testing
