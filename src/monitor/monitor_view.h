// The documents of the HTTP view, written from the monitor's own tables (counters,
// stations, links, spells) and the server's shared state: the status JSON, the event stream's
// messages and the metrics text. The JSON library reports errors by exceptions: they stay inside
// monitor_json.cpp.
#pragma once

#include "monitor/monitor.h"
#include "monitor/monitor_event.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Node and description shown in the status (read once per start from the configuration).
void monitorSetServerNames(const char* node, const char* description);
// GET /api/status: false (out empty) when it could not be written.
bool monitorStatusJson(std::string* out);
// The status's stations array alone, on one line; false (out empty) when it could not be
// written.
bool monitorStationsJson(std::string* out);
// One event-stream message ("data: {...}\n\n") for an event-log record / a status text.
bool monitorEventMessage(const MonitorEvent& event, std::string* out);
bool monitorStatusMessage(const char* text, int64_t atMs, std::string* out);
// GET /metrics: Prometheus text format 0.0.4.
void monitorMetricsText(std::string* out);
// "2026-12-09T12:00:03.250Z" for ms since 1970; bounded by size.
void monitorTimeText(int64_t ms, char* out, size_t size);
// "A.B.C.D:PORT" into network-order address and host-order port; false when malformed.
bool monitorParseHttpAddress(const char* text, uint32_t* address, uint16_t* port);
