// Preloaded into a program that must not touch the network (the configuration check): the
// first socket or name lookup it asks for writes one line naming the call to standard error
// and ends it with exit code 99, so the test that runs it fails with the call named.
// The C library's headers are not included: their declarations would clash with these
// stand-ins, which only need the names and the C calling convention.
#include <cstddef>
#include <cstring>
#include <unistd.h>

namespace {

[[noreturn]] void refuse(const char* call) {
    static const char head[] = "no_network: the program called ";
    (void)!write(STDERR_FILENO, head, sizeof head - 1);
    (void)!write(STDERR_FILENO, call, std::strlen(call));
    (void)!write(STDERR_FILENO, "\n", 1);
    _exit(99);
}

} // namespace

extern "C" {

int socket(int, int, int) {
    refuse("socket");
}
int connect(int, const void*, unsigned) {
    refuse("connect");
}
int getaddrinfo(const char*, const char*, const void*, void**) {
    refuse("getaddrinfo");
}
void* gethostbyname(const char*) {
    refuse("gethostbyname");
}
int gethostbyname_r(const char*, void*, char*, size_t, void**, int*) {
    refuse("gethostbyname_r");
}
void* gethostbyname2(const char*, int) {
    refuse("gethostbyname2");
}

} // extern "C"
