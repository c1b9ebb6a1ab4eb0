// A minimal page until the full dashboard takes this file's place: it lists what
// /api/status says and follows /api/events.
#include "monitor/dashboard_page.h"

const char MONITOR_DASHBOARD_HTML[] = R"html(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Conference</title></head>
<body><h1>Conference</h1><pre id="status"></pre>
<script>
function load() {
  fetch('/api/status').then(r => r.json()).then(s => {
    document.getElementById('status').textContent = JSON.stringify(s, null, 2);
  });
}
load();
new EventSource('/api/events').onmessage = load;
</script></body></html>
)html";

const size_t MONITOR_DASHBOARD_HTML_LENGTH = sizeof MONITOR_DASHBOARD_HTML - 1;
