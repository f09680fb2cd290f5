// The kinds of database (FOR:TYPE) and of message.
#pragma once
#include <cstdint>

namespace qb {
enum DatabaseKindValue : uint8_t { KindForum = 1, KindMail = 2, KindNews = 3 };
}
