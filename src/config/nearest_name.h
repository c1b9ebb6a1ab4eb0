// The known name that a mistyped word most resembles, for messages that suggest it.
#pragma once

#include <cstddef>

// The number of single-character insertions, deletions, substitutions and swaps of two
// neighbours that turn a into b, letters compared without regard to ASCII case. Words
// longer than 63 characters count as unlike anything (a large distance).
int nameDistance(const char* a, const char* b);

// The name of names[0..count) nearest to word, or null when none is near enough: the same
// name (case aside) for words of 1 or 2 characters, a distance of at most 1 for words of
// 3 or 4, at most 2 for longer ones. The first of equally near names wins.
const char* nearestName(const char* word, const char* const* names, size_t count);
