// Process-level operations: starting another program, floating-point control.
#pragma once

#include "platform/types.h"

// Starts the first blank-separated word of commandLine (a path, or a name found in the
// absolute directories of PATH, never the current directory) with the other words as its
// arguments, without waiting for it: standard input, output and error on /dev/null, a
// process group of its own, default signal handling. 33 when it started, else 2.
UINT WinExec(const char* commandLine, UINT showCommand);

// Sets the floating-point exception-mask bits selected by mask to those in value (bit 0
// invalid operation, 1 denormal, 2 divide by zero, 3 overflow, 4 underflow, 5 inexact; a set
// bit masks) and returns the six bits now in force; mask 0 only reads. 0x3F masks all six,
// as on a Linux process by default.
unsigned int _control87(unsigned int value, unsigned int mask);
