#include "monitor/journal_library.h"
#include "monitor/library_open.h"

#include <cstdio>
#include <dlfcn.h>
#include <type_traits>

bool journalLibraryResolve(const char* file, JournalLibrary* out, char* why, size_t size) {
    void* handle = monitorLibraryOpen(file, why, size);
    if (handle == nullptr) {
        return false;
    }
    // The name is the declared function's (a macro's argument is not expanded by #), and the
    // slot's type is checked against its declaration.
#define JOURNAL_LIBRARY_SYMBOL(function) #function
    static_assert(std::is_same_v<decltype(out->sendv), decltype(&sd_journal_sendv)>);
    const char* symbol = JOURNAL_LIBRARY_SYMBOL(sd_journal_sendv);
#undef JOURNAL_LIBRARY_SYMBOL
    if (!monitorLibrarySymbol(handle, symbol, &out->sendv, file, why, size)) {
        dlclose(handle);
        return false;
    }
    return true; // the handle stays open: the function is used until the process ends
}
