// The minimise switch of the command line.
#pragma once

// True when the first "-m" of the command line (or, only when there is no "-m" at all, the
// first "-M") stands as a word of its own: at the start or after white space, and followed
// by the end or white space. Only that one occurrence is examined.
bool minimiseSwitchGiven(const char* commandLine);
