// Who may join: the operator's access file, read live, and the points of the server's
// steps where its rules decide. Address rules are asked before a record is made for a new
// control sender; callsign rules when a station's name is set or changes. A denied new
// sender gets nothing at all; a denied station is closed the way a BYE closes it. The file
// is looked at on the main window's tick (at most once a second), never on the relay path;
// a changed file is read in steps from the pump and its rules put in force whole. While
// the server runs, a file that is gone, empty, unreadable or refused (too many rules, too
// large) leaves the last good rules in force.
#pragma once

#include "access/access_rules.h"
#include "platform/types.h"

#include <cstddef>
#include <cstdint>

// The ticks an unnamed station may stay while callsign allow rules close the conference.
constexpr int32_t ACCESS_NAMING_TICKS = 10;

// --- Where the rules come from -----------------------------------------------------------
// The file named on the command line (--access); it wins over [access] file. Null or empty:
// none given.
void accessSetFileOverride(const char* path);
// The access file the server uses: the command line's, else [access] file of the
// configuration (a relative path there lies beside the configuration file). False, with
// an empty buf, when there is none. buf is cut to size - 1 characters.
bool accessResolvePath(char* buf, size_t size);

// How a read of the file went.
enum class AccessReadResult {
    Ok,         // the rules are in the set (bad lines reported, the good ones kept)
    Missing,    // no such file
    NotRegular, // a directory, FIFO, device or socket: not read
    Failed,     // it exists but could not be opened or read; why says why
};
// Reads the file at path into set at once, without blocking (O_NONBLOCK, regular files
// only, at most ACCESS_FILE_MAX_BYTES, 64 MiB), reporting each bad line through report.
// Fills *tooLarge when the file was longer and only its start was read; the server refuses
// such a file whole, and one whose set->leftOut is above 0 (more than ACCESS_MAX_RULES
// rules). why (may be null) gets the reason of a failure.
AccessReadResult accessReadFile(const char* path, AccessRuleSet* set, AccessBadLine report,
                                void* context, bool* tooLarge, char* why, size_t whySize);

// True when path is a regular file that this process can open for reading; else false with
// the reason in why ("No such file or directory", "not a regular file", "Permission
// denied"...). Reads nothing. For the configuration check.
bool accessFileReadable(const char* path, char* why, size_t size);

// --- The server's steps ---------------------------------------------------------------------
// Main window creation: takes the file (accessResolvePath) and reads it whole. False when
// a file is configured that is missing, not a regular file, cannot be read, is larger
// than 64 MiB or holds more than ACCESS_MAX_RULES rules: a start error, whose text (the
// path and the reason) accessStartError gives.
bool accessStart();
const char* accessStartError();
// True while a changed file is being read in steps (the rules before it stay in force).
bool accessLoading();
// Looks at the file now and reads it again even when it seems unchanged (a large file in
// steps); new rules come in force, and close the stations they deny, as on the tick. For
// the operator's "reload".
void accessReloadNow();
// Main window destruction: no file, no rules.
void accessStop();
// On each tick of the main window: reads the file again when its modification time, size
// or identity changed (looked at no more than once a second of the platform clock; a
// large file in steps from the pump). True when new rules came in force since the last
// tick: the stations' walk then judges every open station again (accessJudgeStation).
bool accessTick();
// True while callsign allow rules close the conference: an unnamed station is then denied
// once it has stayed ACCESS_NAMING_TICKS ticks.
bool accessConferenceClosed();
// The verdict of the rules in force on a connected station: its address (network order),
// then its name; an unnamed one (name null) is denied once accessTicks reached
// ACCESS_NAMING_TICKS in a closed conference.
AccessVerdict accessJudgeStation(uint32_t address, const char* name, int32_t accessTicks);
// The verdict of the callsign rules in force on a name just set or changed.
AccessVerdict accessJudgeStationName(const char* name);
// A station the rules deny was just closed (as a BYE closes it): its address is held off
// for ACCESS_DENIED_HOLD_TICKS and the denial told to the listener.
void accessDenied(const char* name, uint32_t address, int line);
// The walk called when new rules come in force outside the tick (the operator's reload, an
// appended deny): the stations above install the one that closes the stations denied.
void accessSetRulesListener(void (*fn)());
// A control datagram came from address (network order), which matches no station: true
bool accessAddressAllowed(uint32_t address);

// A station that the rules closed has its address held off this long: control packets
// from it make no station and get no reply, and are not told as denials again.
constexpr uint32_t ACCESS_DENIED_HOLD_TICKS = 600;
// Holds the address (network order) off from now on for ACCESS_DENIED_HOLD_TICKS ticks.
// The table is fixed: when it is full the oldest hold gives way.
void accessHoldAddress(uint32_t address);
// True while the address is held off.
bool accessAddressHeld(uint32_t address);
// Forgets every hold.
void accessHoldReset();

// Each denial is told to fn: the station's name (null while it has none), its address
// (network order) and the line of the deciding rule (0 when no allow rule matched).
void accessSetDenialListener(void (*fn)(const char* name, uint32_t address, int line));

// Appends the line "deny CALLSIGN" to the access file, keeping every byte that is there
// (a missing final line end is added first), replaces the file atomically and applies the
// new rules at once. False, with the file untouched, when there is no access file, the
// callsign is no valid pattern, the rules in force are ACCESS_MAX_RULES already, or the
// file cannot be read or written.
bool accessAppendDeny(const char* callsign);
// Why a station named name (null: no callsign yet) cannot be denied by such a line, as a
// text that follows "Station NAME (ADDRESS) "; null when it can.
const char* accessDenyLineProblem(const char* name);
// Reads the access file again now, whatever its modification time says, and closes the
// stations that the rules read deny. False, with a one-line reason in why (path escaped),
// when no file is configured or it cannot be read (the last good rules then stay).
bool accessReloadNow(char* why, size_t size);

// The rules in force (for checks and tests).
const AccessRuleSet* accessRules();
// Everything as at program start: no file, no override, no rules, no listener. For tests.
void accessReset();
