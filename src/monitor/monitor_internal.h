// State shared by the monitor's files: plain variables, one instance, fixed sizes.
#pragma once

#include "monitor/monitor.h"
#include "monitor/monitor_event.h"

// Hands an event to the event log and the event stream listener.
void monitorEmit(const MonitorEvent& event);
// Fills the station part of an event from the record (escaped name, address).
void monitorEventStation(MonitorEvent* event, const char* name, uint32_t address);
// The HTTP view's set-up and shutdown (monitor_http.cpp); false with a reason in why.
bool monitorHttpOpen(const char* address, char* why, size_t size);
void monitorHttpClose();
// Clears counters, the stations' figures, the talker and spells (monitor_state.cpp). The
// stations and links shown stay: their owners tell when they go.
void monitorResetFigures();
// A panel line changed other than by its figures: the panel's version moves on.
void monitorPanelChanged();
// A queue clear seen on the relay path: its event is written by the next monitorFlush.
void monitorNoteQueueClear(int drained);
// A refusal left out: the next tick's refuse-suppressed event counts it.
void monitorNoteRefusalSuppressed();
// Runs the HTTP view's pending work once a tick (its timeouts).
void monitorHttpTick();
