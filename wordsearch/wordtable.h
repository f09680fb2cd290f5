// The indexer's table of words: open addressing over one flat array of slots
// (each the word's hash and where its entry lies), the entries one after
// another in one arena, each its value followed by the word's characters.
// A lookup of a word that is there (most of them) reads one slot and one
// entry; nothing is allocated per word. A caller that knows the words to come
// can have their slots and entries fetched into the cache ahead of time.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>
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
    static_assert(std::is_trivially_copyable_v<Value> && std::is_trivially_destructible_v<Value>,
                  "entries are moved as bytes when the arena grows");

public:
    // Entries are numbered from 0 in the order they were made; a number stays
    // valid until clear(). References to values and words stay valid until
    // the next word is made.
    using Index = uint32_t;
    static constexpr Index npos = ~Index(0);

    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }

    uint64_t hashOf(std::string_view w) const { return hash_(w); }

    // Room for n words (of about eight characters) without growing.
    void reserve(size_t n) {
        entries_.reserve(n);
        arena_.reserve(n * (sizeof(Head) + 8) / sizeof(Unit));
        size_t want = 16;
        while (want < n * 2) want <<= 1;
        if (want > slots_.size()) rehash(want);
    }

    void clear() {
        slots_.assign(slots_.empty() ? 0 : 16, Slot{});
        entries_.clear();
        arena_.clear();
    }

    // The first steps of a lookup of the word with hash h, taken early: its
    // slot ...
    void prefetchSlot(uint64_t h) const {
        if (!slots_.empty()) __builtin_prefetch(&slots_[h & (slots_.size() - 1)]);
    }
    // ... and, once the slot is at hand, the entry it names.
    void prefetchEntry(uint64_t h) const {
        if (slots_.empty()) return;
        const Slot& s = slots_[h & (slots_.size() - 1)];
        if (s.at != 0) __builtin_prefetch(arena_.data() + (s.at - 1));
    }

    // The entry of w, or nullptr.
    Value* find(std::string_view w) {
        const Index i = indexOf(w);
        return i == npos ? nullptr : &value(i);
    }

    // The number of w's entry, or npos; h is hashOf(w).
    Index indexOf(std::string_view w) const { return indexOf(w, hash_(w)); }
    Index indexOf(std::string_view w, uint64_t h) const {
        if (slots_.empty()) return npos;
        const Slot& s = slots_[probe(w, h)];
        return s.at == 0 ? npos : head(s.at - 1)->number;
    }

    // The entry of w, made with value when w is new; second tells which.
    std::pair<Index, bool> emplace(std::string_view w, const Value& v) { return emplace(w, v, hash_(w)); }
    std::pair<Index, bool> emplace(std::string_view w, const Value& v, uint64_t h) {
        if ((entries_.size() + 1) * 2 > slots_.size()) rehash(slots_.empty() ? 16 : slots_.size() * 2);
        const size_t at = probe(w, h);
        if (slots_[at].at != 0) return {head(slots_[at].at - 1)->number, false};
        const Index number = static_cast<Index>(entries_.size());
        const size_t offset = arena_.size();
        arena_.resize(offset + (sizeof(Head) + w.size() + sizeof(Unit) - 1) / sizeof(Unit));
        Head* e = head(offset);
        e->number = number;
        e->length = static_cast<uint32_t>(w.size());
        e->value = v;
        if (!w.empty()) std::memcpy(reinterpret_cast<char*>(e + 1), w.data(), w.size());
        entries_.push_back(static_cast<uint32_t>(offset));
        slots_[at] = Slot{static_cast<uint32_t>(h), static_cast<uint32_t>(offset + 1)};
        return {number, true};
    }

    std::string_view word(Index i) const {
        const Head* e = head(entries_[i]);
        return {reinterpret_cast<const char*>(e + 1), e->length};
    }
    Value& value(Index i) { return head(entries_[i])->value; }
    const Value& value(Index i) const { return head(entries_[i])->value; }

private:
    struct Slot {
        uint32_t tag = 0;  // the lower half of the word's hash
        uint32_t at = 0;   // where its entry starts in the arena, + 1; 0 for a free slot
    };
    // An entry: this, then the word's characters.
    struct Head {
        Index number;
        uint32_t length;
        Value value;
    };
    // The arena's unit: entries start at multiples of it.
    struct alignas(Head) Unit {
        unsigned char bytes[alignof(Head) < 8 ? 8 : alignof(Head)];
    };

    Head* head(size_t offset) { return reinterpret_cast<Head*>(arena_.data() + offset); }
    const Head* head(size_t offset) const { return reinterpret_cast<const Head*>(arena_.data() + offset); }

    static bool same(const Head* e, std::string_view w) {
        return e->length == w.size() && std::memcmp(e + 1, w.data(), w.size()) == 0;
    }

    // The slot of w (h its hash), or the free slot where w would go; the
    // slot array is not empty and never full.
    size_t probe(std::string_view w, uint64_t h) const {
        const uint32_t tag = static_cast<uint32_t>(h);
        const size_t mask = slots_.size() - 1;
        for (size_t at = h & mask;; at = (at + 1) & mask) {
            const Slot& s = slots_[at];
            if (s.at == 0 || (s.tag == tag && same(head(s.at - 1), w))) return at;
        }
    }

    // Every entry again into a slot array of n slots (a power of two below
    // 2^32): the lower half of each hash, kept in its slot, is enough.
    void rehash(size_t n) {
        std::vector<Slot> fresh(n);
        const size_t mask = n - 1;
        for (const Slot& s : slots_) {
            if (s.at == 0) continue;
            size_t at = s.tag & mask;
            while (fresh[at].at != 0) at = (at + 1) & mask;
            fresh[at] = s;
        }
        slots_.swap(fresh);
    }

    std::vector<Slot> slots_;
    std::vector<uint32_t> entries_;  // the arena offset (in units) of each entry, by number
    std::vector<Unit> arena_;
    Hash hash_;
};

} // namespace qb
