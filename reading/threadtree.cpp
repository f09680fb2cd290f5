#include "reading/threadtree.h"

#include <cstring>
#include <unordered_map>

#include "core/access.h"
#include "core/dates.h"
#include "core/tables.h"
#include "core/text.h"

namespace qb {

void placeNodes(std::vector<TreeNode>& nodes) {
    struct Lookup {
        int level = 0;
        bool hasReplies = false;
    };
    std::unordered_map<uint32_t, Lookup> lookup;
    lookup.reserve(nodes.size() * 2);
    for (auto& n : nodes) {
        n.level = 0;
        n.hasReplies = false;
        n.inLoop = false;
        lookup[n.number] = Lookup{};
    }
    size_t unplaced = nodes.size();
    while (unplaced > 0) {
        bool placedAny = false;
        for (auto& n : nodes) {
            if (n.level != 0) continue;
            auto it = n.parent ? lookup.find(n.parent) : lookup.end();
            if (it == lookup.end()) {
                n.level = 1;
            } else if (it->second.level == 0) {
                continue;  // the parent comes in a later pass
            } else {
                n.level = it->second.level + 1;
                it->second.hasReplies = true;
            }
            lookup[n.number].level = n.level;
            placedAny = true;
            --unplaced;
        }
        if (!placedAny) {
            // Only nodes waiting for each other are left: break the loop at
            // the first of them.
            for (auto& n : nodes) {
                if (n.level != 0) continue;
                n.level = 1;
                n.inLoop = true;
                lookup[n.number].level = 1;
                --unplaced;
                break;
            }
        }
    }
    for (auto& n : nodes) n.hasReplies = lookup[n.number].hasReplies;
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
