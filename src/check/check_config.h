// The configuration check of the command line (--check-config).
#pragma once

#include <cstdint>
#include <cstdio>

struct CheckConfigOptions {
    bool accessFromCommandLine = false; // the access file was named with --access
    const char* http = nullptr;         // --http as given; null: [monitor] http decides
    uint32_t bindAddress = 0;           // --bind, network order; 0 for any address
    bool strict = false;                // --strict: warnings fail the check too
};

// Prints to out every key the server reads, with the value it would use and whether it
// came from the file or a default (the password only as set or not set), then each
// problem: "error:" for one that keeps the server from starting or serving as configured,
// "warning:" for the others. Reads the configuration file and the access file only: it
// resolves no name, opens no socket, writes no file and creates no window. Returns 0 when
// the server would serve (and, with strict, nothing was warned about), 1 otherwise.
int checkConfiguration(FILE* out, const CheckConfigOptions& options);
