// The minimised front end: draws nothing, counts every top-level window as minimised,
// writes the status line to standard output and message boxes to standard error. main
// installs it (platform::setFrontEnd) unless the terminal window is used.
#pragma once

#include "platform/window/frontend.h"

// The one minimised front end.
platform::FrontEnd* minimisedFrontEnd();
// Forgets the status windows and the last status text written (for tests).
void resetMinimisedFrontEnd();
