// The embedded HTTP library, loaded when the HTTP view starts rather than at program start:
// a server without the view neither maps it nor what it pulls in (TLS, crypto). The types
// and signatures are the library's own header's; only the functions are found at run time.
#pragma once

#include <cstddef>
#include <microhttpd.h>

// The file name of the library as Debian installs it (package libmicrohttpd12).
constexpr const char HTTP_LIBRARY_FILE[] = "libmicrohttpd.so.12";

// The library's functions that the HTTP view calls.
struct HttpLibrary {
    decltype(&MHD_start_daemon) startDaemon;
    decltype(&MHD_stop_daemon) stopDaemon;
    decltype(&MHD_get_daemon_info) getDaemonInfo;
    decltype(&MHD_run) run;
    decltype(&MHD_get_timeout) getTimeout;
    decltype(&MHD_suspend_connection) suspendConnection;
    decltype(&MHD_resume_connection) resumeConnection;
    decltype(&MHD_get_connection_values) getConnectionValues;
    decltype(&MHD_get_connection_info) getConnectionInfo;
    decltype(&MHD_create_response_from_buffer) createResponseFromBuffer;
    decltype(&MHD_create_response_from_callback) createResponseFromCallback;
    decltype(&MHD_add_response_header) addResponseHeader;
    decltype(&MHD_queue_response) queueResponse;
    decltype(&MHD_destroy_response) destroyResponse;
};

// The table the HTTP view calls through; all null until httpLibraryLoad has succeeded.
extern HttpLibrary httpLibrary;

// Opens file and fills out with every function of the table. False, with out untouched and
// a one-line reason in why (the file and the loader's error, or the missing function), when
// the file cannot be opened or lacks one of them.
bool httpLibraryResolve(const char* file, HttpLibrary* out, char* why, size_t size);

// Fills httpLibrary from HTTP_LIBRARY_FILE once per process; true at once when it is filled.
bool httpLibraryLoad(char* why, size_t size);
