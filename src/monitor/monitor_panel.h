// The lines of the terminal window's station panel: one per station in window order
// (talker marked, a link's host after it), then a heading and one line per link (its state
// and since when), then a heading and one line per talk spell, newest first. Names are
// escaped as for the status line; every line is bounded by its buffer.
#pragma once

#include "platform/types.h"

#include <cstddef>
#include <cstdint>

// How many lines the panel has now.
int monitorPanelLineCount();
// Writes line index (0 .. count - 1) to out, zero-terminated; returns its length (0 for an
// index out of range).
size_t monitorPanelLine(int index, char* out, size_t size);
// Lines 0 .. monitorStationCount() - 1 show the stations at the same index of the station
// set; only they can be acted on.
// Moves on whenever a line changes other than by its figures (idle seconds, relayed): a
// station joins, is named, takes or loses the talker mark, goes; a talk spell ends. The
// figures change with every tick.
uint32_t monitorPanelVersion();
