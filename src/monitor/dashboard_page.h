// The dashboard served at GET /: one page of our own HTML, CSS and JavaScript, compiled into
// the binary from src/monitor/dashboard.html, so the server needs no file at run time.
#pragma once

#include <cstddef>

// The page's bytes, followed by one zero byte that is not part of the page.
extern const char MONITOR_DASHBOARD_HTML[];
// The page's length in bytes, without the zero byte.
extern const size_t MONITOR_DASHBOARD_HTML_LENGTH;
