// The command line of the Linux program.
#pragma once

#include <cstdint>
#include <string>

struct CommandLine {
    std::string words;        // the minimise switches given (-m, -M), joined by single blanks
    std::string configFile;   // --config, empty for the default place
    uint32_t bindAddress = 0; // --bind, network order; 0 for any address
    int timeScale = 1;        // --time-scale, 1..1000
    std::string accessFile;   // --access, empty when not given
    bool checkConfig = false; // --check-config: check the files and exit
    bool strict = false;      // --strict (with --check-config): warnings fail the check too
    bool httpGiven = false;   // --http given (an empty value turns the HTTP view off)
    std::string http;         // --http ADDRESS:PORT
    std::string controlPath;  // --control PATH, empty when not given
    bool control = false;     // the first word is "ctl": the rest is the control client's
    bool help = false;
    bool version = false;
};

// Parses argv. Returns 0 on success, 2 with a one-line message in *error for any word that
// is neither -m, -M, -h nor a long option or its value, an option given twice, or a bad
// value. -h and --help fill *helpText and set the flag; --version sets its flag. When the
// first word is "ctl", nothing else is looked at: out->control is set and 0 returned.
int parseCommandLine(int argc, char** argv, CommandLine* out, std::string* error,
                     std::string* helpText);

// The control socket path given with --control (set by parseCommandLine), or null when the
// option was not given.
const char* controlSocketPath();
