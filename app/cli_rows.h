// The message line of the command line's listings: ID, date, sender and
// subject (or thread heading), tab-separated. `list` prints one for every
// message of a view; `search --long` and `find --long` one for each hit.
#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace qb {

struct MailRec;
struct MsgNmbrRec;

class MessageRowPrinter {
public:
    // The tables of the active database must be open (browseTables).
    explicit MessageRowPrinter(bool mail) : mail_(mail) {}
    // Reads the message's header by ID; false when there is none.
    bool print(uint32_t id);
    void print(const MailRec& m);
    void print(const MsgNmbrRec& m);

private:
    const std::string& sender(uint32_t personId);
    const std::string& heading(const MsgNmbrRec& m);

    bool mail_;
    std::unordered_map<uint32_t, std::string> names_;
    std::unordered_map<uint32_t, std::string> headings_;
};

// Opens the browse tables of the active database and prints the line of each
// ID; an ID without a header prints bare.
void printMessageRows(const std::vector<uint32_t>& ids, bool mail);

} // namespace qb
