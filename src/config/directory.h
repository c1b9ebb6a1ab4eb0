// Contact with the rest of the network: the sign-off from the directory server at
// shutdown and the start of the companion program.
#pragma once

constexpr unsigned short DIRECTORY_PORT = 5200;

// Signs off from the directory server that [server] <index> names: one TCP connection to
// its port 5200 and four writes. Blocks until done or failed (the connection waits at most
// 10 s). Afterwards one line on standard error tells the operator where it went and whether
// all four writes were taken ("signed off from HOST:5200"), or at which failure it stopped
// ("sign-off to HOST:5200 failed: REASON"); nothing is shown in the window.
void directorySignOff();

// Starts the companion program "gdi.exe" by bare name, without waiting for it.
void startCompanionProgram();
