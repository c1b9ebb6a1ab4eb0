// The status text: the main window's title, as every step of the server sets it.
#pragma once

// Sets the main window's title to text and hands it to the status text's observer (the
// monitor, which passes it to the event stream off the relay path).
void setStatusText(const char* text);

// The one observer of the status text: called with every text set, null for none. The
// monitor installs itself, so the base below it knows no subsystem above.
using StatusTextObserver = void (*)(const char* text);
void setStatusTextObserver(StatusTextObserver observer);
