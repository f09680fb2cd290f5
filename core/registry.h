// The registry of databases (the Forums table of the configuration
// directory) and the active database.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace qb {

// Makes the database with this FOR:ID the active one: reads its Forums row by
// FOR:ForumKey and copies it into the active-database globals (Mem.*). Forums
// is opened and closed around the read when it is not open. False (and
// nothing changed) when there is no such row.
bool selectDatabase(uint32_t forumId);
// No active database.
void clearActiveDatabase();
// Listeners told after every change of the active database (the frame's
// title and menus).
void onActiveDatabaseChanged(std::function<void()> listener);

} // namespace qb
