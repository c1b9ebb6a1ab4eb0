// Entry point and start-up of the program.
#pragma once

#include "platform/types.h"

// Runs the program: stops at once when another program's window of class Omvar_v exists,
// reads the minimise switch, initialises, creates the main window and runs the message
// loop. Returns the exit code: 0 after a normal close and for the early exit, 1 when
// start-up failed.
int winMain(HINSTANCE instance, const char* commandLine, int showCmd);

// Keeps the instance, checks the configuration path, runs the first-run check, registers
// the two window classes, reads the capacity and runs the directory list update. False when
// the configuration file cannot be read or a class cannot be registered.
bool initApplication(HINSTANCE instance);

// Creates the main window at the saved position and shows it; from then on a signal closes
// it. False when it cannot be created (its creation has then shown why).
bool createMainWindow(HINSTANCE instance, int showCmd);

// Position rule: the saved position, or (0, 0) when x1 exceeds 1500 or y1 exceeds 1000.
void mainWindowPosition(int* x, int* y);
