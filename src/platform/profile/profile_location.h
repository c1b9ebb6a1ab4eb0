// Where a private-profile file name points on this system.
#pragma once

#include <string>

namespace platform::profile {

// A name with a '/' is a path as given; a bare name set with platformSetProfileFile maps
// to its path; any other bare name lies in $XDG_CONFIG_HOME (when set to an absolute
// path), else in $HOME/.config. Empty for a null or empty name.
std::string resolvePath(const char* fileName);

} // namespace platform::profile
