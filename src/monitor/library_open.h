// The one loader of the shared libraries that the monitor opens only when it uses them (the
// HTTP view's and the journal's): open the file, then find each function by name.
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

// Stores the address of symbol in *slot; false, with "FILE has no function SYMBOL" in why,
// when it is missing (the caller then closes the handle).
template <typename Function>
bool monitorLibrarySymbol(void* handle, const char* symbol, Function* slot, const char* file,
                          char* why, size_t size) {
    void* address = dlsym(handle, symbol);
    if (address == nullptr) {
        std::snprintf(why, size, "%s has no function %s", file, symbol);
        return false;
    }
    *slot = reinterpret_cast<Function>(address);
    return true;
}
