#include "reading/threadtree.h"

#include <cstring>
#include <unordered_map>

#include "core/access.h"
#include "core/dates.h"
#include "core/tables.h"
#include "core/text.h"

namespace qb {

void placeNodes(std::vector<TreeNode>& nodes) {
    // The passes over the node list give each node the level of its parent
    // plus one, or 1 when the parent is not in the list; the same levels come
    // from walking down from those top-level nodes, in time linear in the
    // number of nodes (a thread of thousands of replies in reverse order would
    // take as many passes).
    const size_t n = nodes.size();
    std::unordered_map<uint32_t, size_t> index;
    index.reserve(n * 2);
    for (size_t i = 0; i < n; ++i) {
        nodes[i].level = 0;
        nodes[i].hasReplies = false;
        nodes[i].inLoop = false;
        index.emplace(nodes[i].number, i);
    }
    std::vector<std::vector<size_t>> children(n);
    std::vector<size_t> queue;
    queue.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        auto it = nodes[i].parent ? index.find(nodes[i].parent) : index.end();
        if (it == index.end() || it->second == i) {
            nodes[i].level = 1;
            queue.push_back(i);
        } else {
            children[it->second].push_back(i);
        }
    }
    size_t head = 0;
    auto walk = [&] {
        while (head < queue.size()) {
            const size_t p = queue[head++];
            for (size_t c : children[p]) {
                if (nodes[c].level != 0) continue;
                nodes[c].level = nodes[p].level + 1;
                nodes[p].hasReplies = true;
                queue.push_back(c);
            }
        }
    };
    walk();
    // What is left waits for itself: references that form a loop (and the
    // replies below them). The first such node in key order becomes a
    // top-level node and the rest hangs below it.
    for (size_t i = 0; i < n; ++i) {
        if (nodes[i].level != 0) continue;
        nodes[i].level = 1;
        nodes[i].inLoop = true;
        queue.push_back(i);
        walk();
    }
}

std::vector<TreeNode> buildThreadTree(uint32_t threadNumber, const std::string& threadAlpha) {
    std::vector<TreeNode> nodes;
    OP_CLOSE(OpOpenShared, MsgNmbr.number(), Person.number());
    if (MsgNmbr.isOpen()) {
        const MsgNmbrRec savedMsg = MSG;
        const PersonRec savedPer = PER;
        MsgNmbr.clearBuffer();
        MSG.THREADALPHA = threadAlpha;
        MSG.THREADNUMBER = threadNumber;
        MSG.MSGNUMBER = 0;
        const Str<10> alpha(threadAlpha);
        MsgNmbr.skipMemo(true);
        MsgNmbr.setFrom(MSG_Threadkey);
        std::vector<MsgNmbrRec> rows;
        while (MsgNmbr.next()) {
            if (MSG.THREADNUMBER != threadNumber || compare1252(MSG.THREADALPHA.view(), alpha.view(), true)) break;
            rows.push_back(MSG);
        }
        MsgNmbr.skipMemo(false);
        std::unordered_map<uint32_t, std::string> names;
        for (const auto& m : rows) {
            TreeNode n;
            n.number = m.MSGNUMBER;
            n.parent = m.REFNUMBER != m.MSGNUMBER ? m.REFNUMBER : 0;
            n.date = m.DATE;
            auto it = names.find(m.FROMID);
            if (it == names.end()) {
                std::string name;
                if (Person.isOpen() && m.FROMID) {
                    Person.clearBuffer();
                    PER.PERSONID = m.FROMID;
                    if (Person.get(PER_PersonKey)) name = PER.FIRSTNAME.str() + " " + PER.LASTNAME.str();
                }
                if (name.size() > 35) name.resize(35);
                it = names.emplace(m.FROMID, name).first;
            }
            n.sender = it->second;
            nodes.push_back(std::move(n));
        }
        MSG = savedMsg;
        PER = savedPer;
    }
    OP_CLOSE(OpClose, MsgNmbr.number(), Person.number());
    placeNodes(nodes);
    return nodes;
}

std::string nodeLabel(const TreeNode& n, int setting, const std::string& datePicture) {
    const std::string number = std::to_string(n.number);
    const std::string date = formatDate(n.date, datePicture);
    switch (setting) {
    case 1: return n.sender;
    case 3: return n.sender + " " + date;
    case 4: return n.sender + " " + number + " " + date;
    case 5: return n.sender + " " + date + " " + number;
    default: return n.sender + " " + number;
    }
}

} // namespace qb
