#pragma once

#include <string>

namespace zapfer {

// The identity sent to a serial peer: the full name of the GECOS field (the
// text before its first comma), else the login name, else "No Name". A
// candidate of more than 127 bytes does not fit the 128-byte identity block
// and is passed over, never cut in the middle of a character.
std::string ownerNameFrom(const char* gecos, const char* login);

// ownerNameFrom of the current user's password-database entry.
std::string ownerName();

} // namespace zapfer
