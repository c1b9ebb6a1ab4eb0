// The command line of the Linux program.
#pragma once

#include <cstdint>
#include <string>

struct CommandLine {
    std::string words;        // words that are not long options, joined by single blanks
    std::string configFile;   // --config, empty for the default place
    uint32_t bindAddress = 0; // --bind, network order; 0 for any address
    int timeScale = 1;        // --time-scale, 1..1000
    std::string accessFile;   // --access, empty when not given
    bool checkConfig = false; // --check-config: check the files and exit
    bool httpGiven = false;   // --http given (an empty value turns the HTTP view off)
    std::string http;         // --http ADDRESS:PORT
    std::string control;      // --control PATH, empty for the default place
    bool help = false;
    bool version = false;
};

// Parses argv. Returns 0 on success, 2 with a one-line message in *error for an unknown long
// option or a bad value. -h and --help fill *helpText and set the flag; --version sets its
// flag.
int parseCommandLine(int argc, char** argv, CommandLine* out, std::string* error,
                     std::string* helpText);
