// The fuzz targets: each runs one input through one family of readers or
// converters. The libFuzzer harnesses call them, and the regression test runs
// the saved reproducers of tests/data/fuzz/<target>/ through the same code.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qb::fuzz {

using TargetFn = int (*)(const uint8_t* data, size_t size);

struct Target {
    const char* name;
    TargetFn run;
};

// Every target, by name: body, mailreaders, newsreaders, cistext, filing,
// dbase, words, headers.
const std::vector<Target>& targets();
const Target* findTarget(const std::string& name);

int body(const uint8_t* data, size_t size);
int mailReaders(const uint8_t* data, size_t size);
int newsReaders(const uint8_t* data, size_t size);
int cisText(const uint8_t* data, size_t size);
int filing(const uint8_t* data, size_t size);
int dbase(const uint8_t* data, size_t size);
int words(const uint8_t* data, size_t size);
int headers(const uint8_t* data, size_t size);

} // namespace qb::fuzz
