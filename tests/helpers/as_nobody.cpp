// Runs a program as the user nobody (and its group, with no other groups), for tests that
// need a file to be unreadable while they run as root.
//
//   as_nobody PROGRAM [ARGUMENT...]
//
// Exit code 126 when the user cannot be taken, 127 when the program cannot be run.
#include <cstdio>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: as_nobody PROGRAM [ARGUMENT...]\n");
        return 2;
    }
    struct passwd* nobody = getpwnam("nobody");
    uid_t uid = nobody != nullptr ? nobody->pw_uid : 65534;
    gid_t gid = nobody != nullptr ? nobody->pw_gid : 65534;
    if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) {
        std::perror("as_nobody");
        return 126;
    }
    execv(argv[1], argv + 1);
    std::perror("as_nobody");
    return 127;
}
