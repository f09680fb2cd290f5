// Fixed-width single-byte string fields of the record buffers.
#pragma once
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace qb {

// Length of s without its trailing blanks.
inline size_t trimmedLength(const char* s, size_t n) {
    while (n > 0 && s[n - 1] == ' ') --n;
    return n;
}
inline std::string_view rtrim(std::string_view s) { return s.substr(0, trimmedLength(s.data(), s.size())); }

// STRING(N): N characters, padded with blanks; a longer value is cut at N.
template <size_t N>
struct Str {
    char c[N];
    Str() { clear(); }
    Str(std::string_view v) { set(v); }
    Str& operator=(std::string_view v) { set(v); return *this; }
    void clear() { std::memset(c, ' ', N); }
    void set(std::string_view v) {
        size_t n = v.size() < N ? v.size() : N;
        // An empty view may carry no pointer at all.
        if (n) std::memcpy(c, v.data(), n);
        std::memset(c + n, ' ', N - n);
    }
    // The value without trailing blanks.
    std::string str() const { return std::string(c, trimmedLength(c, N)); }
    std::string_view view() const { return std::string_view(c, trimmedLength(c, N)); }
    bool empty() const { return trimmedLength(c, N) == 0; }
    static constexpr size_t size() { return N; }
    char& operator[](size_t i) { return c[i]; }
    char operator[](size_t i) const { return c[i]; }
    friend bool operator==(const Str& a, std::string_view b) { return a.view() == rtrim(b); }
    template <size_t M>
    friend bool operator==(const Str& a, const Str<M>& b) { return a.view() == b.view(); }
};

} // namespace qb
