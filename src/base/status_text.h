// The status text: the main window's title, as every step of the server sets it.
#pragma once

// Sets the main window's title to text and tells the monitor (which hands it to the event
// stream off the relay path). Costs a comparison and a copy of the text when it changed.
void setStatusText(const char* text);
