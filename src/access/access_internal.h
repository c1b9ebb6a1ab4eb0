// State shared by the files of the access subsystem: the rules in force and the file they
// came from. One instance, on the server's one thread.
#pragma once

#include "access/access_rules.h"

namespace accessinternal {

// The rules in force; never null.
const AccessRuleSet* activeRules();
// Reads the file again when it changed since the last read (always when force is true).
// True when the rules in force were replaced (by the file's, or by none when it went).
bool reloadIfChanged(bool force);
// The path of the access file, "" when there is none.
const char* filePath();
// Forgets the file and the rules.
void forgetFile();
// Sets the access file (empty: none); takes effect at the next reload.
void useFile(const char* path);
// Closes every station that the rules in force deny.
void closeDeniedStations();

} // namespace accessinternal
