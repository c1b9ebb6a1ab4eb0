// Contact with the rest of the network: the sign-off from the directory server at
// shutdown and the start of the companion program.
#pragma once

constexpr unsigned short DIRECTORY_PORT = 5200;

// Signs off from the directory server that [server] <index> names: one TCP connection to
// its port 5200 and four writes. Blocks until done or failed; failures are silent.
void directorySignOff();

// Starts the companion program "gdi.exe" by bare name, without waiting for it.
void startCompanionProgram();
