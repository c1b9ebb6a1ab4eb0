// The names a private-profile file holds, for a check that tells misspelt ones.
#pragma once

#include <cstddef>

// Calls visit for each section header (key null) and each key line (section: the header
// above it, "" before any) of the file, in file order, with its line number from 1. Names
// are trimmed and cut to PROFILE_NAME_SHOWN characters. False when the file is missing or
// cannot be read; nothing is visited then. The file name resolves as for the reads.
constexpr size_t PROFILE_NAME_SHOWN = 255;
using ProfileNameVisitor = void (*)(const char* section, const char* key, int line, void* context);
bool platformProfileVisitNames(const char* fileName, ProfileNameVisitor visit, void* context);
