// Mail database settings: adding a mail database with its owner person, and
// updating the owner's alternative addresses.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace qb {

constexpr int MaxAltAddresses = 10;

// Adds a mail database: draws its ID, adds its Forums row (type 2, directory
// "F" + the next directory number under Mem.FileDir, the default and the
// alternative addresses) and makes the owner person by AddPers in the new
// database, all in one transaction. Texts are Windows-1252. Returns FOR:ID,
// or 0 with the reason in *error (nothing is left behind then).
uint32_t addMailDatabase(const std::string& name, const std::string& address,
                         const std::vector<std::string>& alternatives, std::string* error = nullptr);

// Replaces the alternative addresses of mail database forumId (blank slots
// for the ones not given). False with the reason in *error.
bool updateAltAddresses(uint32_t forumId, const std::vector<std::string>& alternatives,
                        std::string* error = nullptr);

// The directory number a new database takes: one above the highest
// FOR:DIRNUMBER (1 when there is none), passing over numbers whose directory
// exists already and holds files. Forums must be open.
uint32_t nextDirNumber();

// An address as the settings keep it: without surrounding blanks, and a bare
// CompuServe ID written with a point ("12345.678") in its comma form.
std::string normaliseOwnerAddress(const std::string& address);

} // namespace qb
