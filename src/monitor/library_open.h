// Opening a shared library that the monitor loads only when it is used (the HTTP view's and
// the journal's), shared by their function-table loaders.
#pragma once

#include <cstddef>
#include <cstdio>
#include <dlfcn.h>

// The library's handle, opened with every symbol bound now; nullptr when it cannot be loaded,
// with "cannot load FILE: REASON" written into why (cut to size).
inline void* monitorLibraryOpen(const char* file, char* why, size_t size) {
    void* handle = dlopen(file, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* error = dlerror();
        std::snprintf(why, size, "cannot load %s: %s", file, error != nullptr ? error : "?");
    }
    return handle;
}
