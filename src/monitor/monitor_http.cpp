#include "monitor/monitor_internal.h"

#include <cstdio>

bool monitorHttpOpen(const char* address, char* why, size_t size) {
    std::snprintf(why, size, "HTTP view: cannot listen on %s", address);
    return false;
}

void monitorHttpClose() {}
