#pragma once
// Identities that no two stations ever make alike: a run's ID and a grant's are random UUIDs
// (version 4, RFC 9562: 122 random bits from the system's generator through libsodium), not
// a clock and a process ID, which two stations in containers share as soon as both start as
// process 2 in the same second.

#include <string>

namespace qs71prog {

// "3f2a9c4e-7b1d-4f60-9a2e-1c5d7e9b0a13"
std::string RandomUuid();

// Whether text is one, as RandomUuid writes it.
bool IsUuid(const std::string& text);

}  // namespace qs71prog
