// The tree of replies of one thread.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace qb {

struct TreeNode {
    uint32_t number = 0;   // MSG:MSGNUMBER
    uint32_t parent = 0;   // MSG:REFNUMBER when it differs from the number, else 0
    std::string sender;    // first and last name, 35 characters
    int32_t date = 0;
    int level = 0;         // 1 = top level
    bool hasReplies = false;
    bool inLoop = false;   // placed by breaking a loop of references
};

// Places the nodes (in key order) by the passes over the node list: a node
// whose parent is outside the list is a top-level node, a node whose parent
// is placed goes one level below it. Nodes whose references form a loop are
// never placed by the passes; the first of them in key order is then made a
// top-level node and the passes go on, so that every node is placed and the
// rest of the loop hangs below it.
void placeNodes(std::vector<TreeNode>& nodes);

// The messages of a thread of the active database as nodes, placed (MsgNmbr,
// Person opened and closed around the reads).
std::vector<TreeNode> buildThreadTree(uint32_t threadNumber, const std::string& threadAlpha);

// The node label for the tree display setting 1-5 (other values as 2).
std::string nodeLabel(const TreeNode& n, int setting, const std::string& datePicture);

} // namespace qb
