// What a user must do when a TALMO is present but its node may not be opened:
// the same advice in the window and in talmo-cli.
#pragma once

#include <string>

namespace talmo {

// French, several lines, ends without a newline. `node` is the refused
// device node (/dev/hidrawN). The commands name the TALMO's udev rule where
// it is on this machine (see UdevRulePath()).
std::string AccessDeniedAdvice(const std::string& node);
// The same for a rule kept at `rulePath`: a rule already in one of udev's
// own folders is only read again; one elsewhere is copied into
// /etc/udev/rules.d first.
std::string AccessDeniedAdvice(const std::string& node, const std::string& rulePath);

// The TALMO's udev rule: where the installation put it
// (PREFIX/lib/udev/rules.d/70-talmo.rules) when it is there, else the copy
// in /etc/udev/rules.d, else the one in the sources the program was built
// from; the installation's path when none exists.
std::string UdevRulePath();
// Where the installation puts the rule, whether or not it is there now.
std::string InstalledUdevRulePath();

} // namespace talmo
