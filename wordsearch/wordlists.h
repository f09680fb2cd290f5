// Looking after the vocabulary of the word index: the words of the active
// database with the marks for deletion, the ignore list, and the word
// definition rules with the saved rule sets.
#pragma once
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace qb {

struct IndexedWord {
    int32_t id = 0;
    std::string word;
    int32_t count = 0;
};

// The word list window's data: the words and the marks for deletion.
class WordListMarks {
public:
    // Rebuilds the count key when the database says it needs it, then loads
    // the marks from the pending-deletion table.
    bool open();
    // The words in count order (highest first) or in word order.
    std::vector<IndexedWord> words(bool byCount) const;
    void toggle(int32_t id);
    bool marked(int32_t id) const { return marks_.count(id) != 0; }
    const std::set<int32_t>& marks() const { return marks_; }
    bool toggled() const { return toggled_; }
    // Writes the marks back when any was toggled: the table is made anew
    // with one row per marked word. False when that failed.
    bool close();

private:
    std::set<int32_t> marks_;
    bool toggled_ = false;
};

// The ignore list: every word, in order.
std::vector<std::string> stopWordList();
// Add, change and delete with the record-access reports (duplicate words are
// reported as such). Words are upper-cased; an empty word is refused.
bool addStopWord(const std::string& word);
bool changeStopWord(const std::string& from, const std::string& to);
bool deleteStopWord(const std::string& word);

// ---- word definition

struct WordRule {
    uint8_t start = 0, inside = 0, end = 0;  // 0 yes, 1 no
};
using RuleSet = std::vector<WordRule>;  // 256 entries

RuleSet currentRules();
bool rulesDiffer(const RuleSet& a, const RuleSet& b);
// Column 0 start, 1 inside, 2 end: toggles one cell with the wizard's rules.
void toggleRule(WordRule& r, int column);
// Names of the saved sets, and a set (empty when it has not all 256 rows).
std::vector<std::string> savedRuleSets();
RuleSet savedRuleSet(const std::string& name);
bool saveRuleSet(const std::string& name, const RuleSet& rules);
// Databases whose master index exists and has rows.
int indexedDatabaseCount();
// Puts the rules into the tables (and stores them), and removes the word
// list, master index and pending table of every indexed database.
bool applyRulesAndDropIndexes(const RuleSet& rules);

} // namespace qb
