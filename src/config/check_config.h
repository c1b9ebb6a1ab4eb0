// The configuration check of the command line (--check-config).
#pragma once

#include <cstdio>

// Prints to out every key the server reads, with the value it would use and whether it
// came from the file or a default (the password only as set or not set), then each
// problem: "error:" for one that keeps the server from serving, "warning:" for the others.
// Reads the configuration file, the access file and the resolver; writes no file, sends
// nothing, creates no window. Returns 0 when the server would serve, 1 otherwise.
// accessFromCommandLine: the access file was named with --access.
int checkConfiguration(FILE* out, bool accessFromCommandLine);
