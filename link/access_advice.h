// What a user must do when a TALMO is present but its node may not be opened:
// the same advice in the window and in talmo-cli.
#pragma once

#include <string>

namespace talmo {

// French, several lines, ends without a newline. `node` is the refused
// device node (/dev/hidrawN).
std::string AccessDeniedAdvice(const std::string& node);

} // namespace talmo
