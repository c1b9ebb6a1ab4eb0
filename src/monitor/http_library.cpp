#include "monitor/http_library.h"
#include "monitor/library_open.h"

#include <cstdio>
#include <dlfcn.h>
#include <type_traits>

HttpLibrary httpLibrary{};

bool httpLibraryResolve(const char* file, HttpLibrary* out, char* why, size_t size) {
    void* handle = monitorLibraryOpen(file, why, size);
    if (handle == nullptr) {
        return false;
    }
    HttpLibrary library{};
    // The name of each slot's function is taken from its declaration, never retyped.
#define HTTP_LIBRARY_RESOLVE(slot, function)                                                       \
    static_assert(std::is_same_v<decltype(library.slot), decltype(&function)>);                    \
    if (!monitorLibrarySymbol(handle, #function, &library.slot, file, why, size)) {                \
        dlclose(handle);                                                                           \
        return false;                                                                              \
    }
    HTTP_LIBRARY_RESOLVE(startDaemon, MHD_start_daemon)
    HTTP_LIBRARY_RESOLVE(stopDaemon, MHD_stop_daemon)
    HTTP_LIBRARY_RESOLVE(getDaemonInfo, MHD_get_daemon_info)
    HTTP_LIBRARY_RESOLVE(run, MHD_run)
    HTTP_LIBRARY_RESOLVE(getTimeout, MHD_get_timeout)
    HTTP_LIBRARY_RESOLVE(suspendConnection, MHD_suspend_connection)
    HTTP_LIBRARY_RESOLVE(resumeConnection, MHD_resume_connection)
    HTTP_LIBRARY_RESOLVE(getConnectionValues, MHD_get_connection_values)
    HTTP_LIBRARY_RESOLVE(getConnectionInfo, MHD_get_connection_info)
    HTTP_LIBRARY_RESOLVE(createResponseFromBuffer, MHD_create_response_from_buffer)
    HTTP_LIBRARY_RESOLVE(createResponseFromCallback, MHD_create_response_from_callback)
    HTTP_LIBRARY_RESOLVE(addResponseHeader, MHD_add_response_header)
    HTTP_LIBRARY_RESOLVE(queueResponse, MHD_queue_response)
    HTTP_LIBRARY_RESOLVE(destroyResponse, MHD_destroy_response)
#undef HTTP_LIBRARY_RESOLVE
    *out = library;
    return true; // the handle stays open: the functions are used until the process ends
}

bool httpLibraryLoad(char* why, size_t size) {
    if (httpLibrary.startDaemon != nullptr) {
        return true;
    }
    return httpLibraryResolve(HTTP_LIBRARY_FILE, &httpLibrary, why, size);
}
