// State shared by the files of the access subsystem: the rules in force and the file they
// came from. One instance, on the server's one thread.
#pragma once

#include "access/access_rules.h"

namespace accessinternal {

// The rules in force; never null.
const AccessRuleSet* activeRules();
// Reads the file again when it changed since the last read (always when force is true).
// True when the rules in force were replaced now; a larger file goes on in steps from the
// pump, and takeReplaced tells when its rules came in force.
bool reloadIfChanged(bool force);
// True once after a load in steps put new rules in force.
bool takeReplaced();
// True when the rules in force are those of the file as it is now.
bool fileIsCurrent();
// The operator's "deny CALLSIGN" was appended as line `line` of the file: the rule is in
// force at once. wasCurrent: fileIsCurrent() before the file was written (then the file
// is not read again for it). False when the rule cannot be added.
bool addAppendedDeny(const char* callsign, int line, bool wasCurrent);
// The path of the access file, "" when there is none.
const char* filePath();
// Forgets the file and the rules.
void forgetFile();
// Sets the access file (empty: none); takes effect at the next reload.
void useFile(const char* path);
// Closes every station that the rules in force deny.
void closeDeniedStations();

} // namespace accessinternal
