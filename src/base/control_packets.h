// The control packets the server sends unchanged to many stations, built once at start-up
// by the control subsystem and sent by the subsystems below it (the station window's
// keep-alive, admission's refusal), which so need not include control.
#pragma once

#include <cstdint>

// The server's source identifier, written into every packet it builds: 0 for the run.
extern uint32_t serverSsrc;

// The keep-alive compound built at start-up and sent unchanged to every station; null
// and 0 when it was not built.
extern uint8_t* keepAliveCompound;
extern int keepAliveLength;

// The BYE compound with the reason "Term" that a refusal sends (28 bytes), built at
// start-up with the keep-alive; 0 bytes before that.
constexpr int TERM_BYE_SIZE = 28;
extern uint8_t termByeCompound[TERM_BYE_SIZE];
extern int termByeLength;
