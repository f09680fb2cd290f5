// The indexer's table of words: open addressing over one flat array of slots,
// each the word's hash and the number of its entry, the entries in one vector
// and the words' characters in one arena. A lookup of a word that is there
// (most of them) reads one or two slots and compares the word once; nothing
// is allocated per word.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qb {

// A fast hash of a short word, eight bytes at a time.
struct WordHash {
    uint64_t operator()(std::string_view s) const {
        const char* p = s.data();
        size_t n = s.size();
        uint64_t h = 0x9E3779B97F4A7C15ull ^ (static_cast<uint64_t>(n) * 0xC2B2AE3D27D4EB4Full);
        while (n >= 8) {
            uint64_t v;
            std::memcpy(&v, p, 8);
            h = (h ^ v) * 0xBF58476D1CE4E5B9ull;
            h ^= h >> 31;
            p += 8;
            n -= 8;
        }
        if (n) {
            uint64_t v = 0;
            std::memcpy(&v, p, n);
            h = (h ^ v) * 0x94D049BB133111EBull;
            h ^= h >> 29;
        }
        h *= 0xFF51AFD7ED558CCDull;
        return h ^ (h >> 32);
    }
};

template <class Value, class Hash = WordHash>
class WordTable {
public:
    // Entries are numbered from 0 in the order they were made; a number stays
    // valid until clear().
    using Index = uint32_t;

    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }

    // Room for n words without growing.
    void reserve(size_t n) {
        entries_.reserve(n);
        size_t want = 16;
        while (want < n * 2) want <<= 1;
        if (want > slots_.size()) rehash(want);
    }

    void clear() {
        slots_.assign(slots_.empty() ? 0 : 16, Slot{});
        entries_.clear();
        arena_.clear();
    }

    // The entry of w, or nullptr.
    Value* find(std::string_view w) {
        const Index i = indexOf(w);
        return i == npos ? nullptr : &entries_[i].value;
    }

    // The number of w's entry, or npos.
    Index indexOf(std::string_view w) const {
        if (slots_.empty()) return npos;
        const uint32_t h = static_cast<uint32_t>(hash_(w));
        const size_t mask = slots_.size() - 1;
        for (size_t at = h & mask;; at = (at + 1) & mask) {
            const Slot& s = slots_[at];
            if (s.entry == 0) return npos;
            if (s.hash == h && same(s.entry - 1, w)) return s.entry - 1;
        }
    }

    // The entry of w, made with value when w is new; second tells which.
    std::pair<Index, bool> emplace(std::string_view w, const Value& value) {
        if ((entries_.size() + 1) * 2 > slots_.size()) rehash(slots_.empty() ? 16 : slots_.size() * 2);
        const uint32_t h = static_cast<uint32_t>(hash_(w));
        const size_t mask = slots_.size() - 1;
        size_t at = h & mask;
        for (;; at = (at + 1) & mask) {
            const Slot& s = slots_[at];
            if (s.entry == 0) break;
            if (s.hash == h && same(s.entry - 1, w)) return {s.entry - 1, false};
        }
        const Index i = static_cast<Index>(entries_.size());
        entries_.push_back(Entry{static_cast<uint32_t>(arena_.size()), static_cast<uint32_t>(w.size()), value});
        arena_.append(w.data(), w.size());
        slots_[at] = Slot{h, i + 1};
        return {i, true};
    }

    std::string_view word(Index i) const { return {arena_.data() + entries_[i].offset, entries_[i].length}; }
    Value& value(Index i) { return entries_[i].value; }
    const Value& value(Index i) const { return entries_[i].value; }

    static constexpr Index npos = ~Index(0);

private:
    struct Slot {
        uint32_t hash = 0;
        uint32_t entry = 0;  // entry number + 1; 0 for a free slot
    };
    struct Entry {
        uint32_t offset;
        uint32_t length;
        Value value;
    };

    bool same(Index i, std::string_view w) const {
        const Entry& e = entries_[i];
        return e.length == w.size() && std::memcmp(arena_.data() + e.offset, w.data(), w.size()) == 0;
    }

    // Every entry again into a slot array of n slots (a power of two); the
    // stored hashes are enough.
    void rehash(size_t n) {
        std::vector<Slot> fresh(n);
        const size_t mask = n - 1;
        for (const Slot& s : slots_) {
            if (s.entry == 0) continue;
            size_t at = s.hash & mask;
            while (fresh[at].entry != 0) at = (at + 1) & mask;
            fresh[at] = s;
        }
        slots_.swap(fresh);
    }

    std::vector<Slot> slots_;
    std::vector<Entry> entries_;
    std::string arena_;
    Hash hash_;
};

} // namespace qb
