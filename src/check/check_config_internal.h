// The pieces of the configuration check (check_config.cpp): how a problem is told, and the
// check of the file's section and key names.
#pragma once

#include <cstdio>

// One problem line, "error: ..." or "warning: ..."; an error means that the server would
// not start or not serve as configured.
__attribute__((format(printf, 2, 3))) void checkProblem(bool error, const char* format, ...);

// Every section and key of the configuration file that the server does not read, one
// warning each with the nearest known name; keys of an unknown section are not listed.
// shownPath: the file's path as the lines name it.
void checkNames(const char* shownPath);
