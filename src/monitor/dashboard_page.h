// The dashboard page served at GET /: one HTML document built into the binary.
#pragma once

#include <cstddef>

extern const char MONITOR_DASHBOARD_HTML[];
extern const size_t MONITOR_DASHBOARD_HTML_LENGTH;
