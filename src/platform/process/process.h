// Process-level operations: starting another program, floating-point control.
#pragma once

#include "platform/types.h"

// Starts a program by bare name through the absolute directories of PATH (never the current
// directory) with the given words after it, without waiting, its standard input, output and
// error on /dev/null; greater than 31 when it started.
UINT WinExec(const char* commandLine, UINT showCommand);

// Sets the floating-point exception-mask bits selected by mask; returns the new word.
// 0x3F masks all six exceptions, as it is on a Linux process by default.
unsigned int _control87(unsigned int value, unsigned int mask);
