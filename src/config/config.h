// The configuration file: its name as the private-profile functions take it.
#pragma once

// Resolved by the platform to the file given with --config (default: the configuration
// directory of the user).
constexpr const char* CONFIG_FILE = "omvarc.ini";
