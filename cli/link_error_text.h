#pragma once

// zapfer-cli's wording of a link failure.

#include "link_error.h"

#include <string>

namespace zapfer::cli {

// One sentence naming the device and the cause; empty for no fault.
std::string describeLinkError(const LinkError& error);

} // namespace zapfer::cli
