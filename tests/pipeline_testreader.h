// A small reader for the import tests, registered as "Pipeline Test Reader".
//
// The file starts with the line "#QBTEST"; every further line is one message,
// fields separated by "|":
//   F|forum|section number|section name|number|reply to|heading|from|from address|to|to address|yyyy-mm-dd|text
//   M|heading|from|from address|to|to address|1 in, 2 out|yyyy-mm-dd|copies|text
// copies: "name=address" pairs separated by ";". A line of any other form is
// a malformed message and is counted as skipped. "\n" in a text is a line end.
#pragma once

namespace qb::test {
constexpr const char* TestReaderName = "Pipeline Test Reader";
// Linking this in registers the reader; call it once from a test to be sure.
bool testReaderRegistered();
} // namespace qb::test
