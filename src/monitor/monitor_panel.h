// The lines of the terminal window's station panel: one per station in window order
// (talker marked), then a heading and one line per talk spell, newest first. Names are
// escaped as for the status line; every line is bounded by its buffer.
#pragma once

#include <cstddef>

// How many lines the panel has now.
int monitorPanelLineCount();
// Writes line index (0 .. count - 1) to out, zero-terminated; returns its length (0 for an
// index out of range).
size_t monitorPanelLine(int index, char* out, size_t size);
