#include "stderr_capture.h"

#include "testutil.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <unistd.h>

namespace testutil {

StderrCapture::StderrCapture() {
    char name[] = "/tmp/confserver-stderr-XXXXXX";
    int fd = mkstemp(name);
    if (fd < 0) {
        return;
    }
    path_ = name;
    std::fflush(stderr);
    saved_ = dup(STDERR_FILENO);
    dup2(fd, STDERR_FILENO);
    close(fd);
}

StderrCapture::~StderrCapture() {
    if (saved_ >= 0) {
        std::fflush(stderr);
        dup2(saved_, STDERR_FILENO);
        close(saved_);
    }
    if (!path_.empty()) {
        unlink(path_.c_str());
    }
}

std::string StderrCapture::text() const {
    std::fflush(stderr);
    return path_.empty() ? std::string() : readFile(path_);
}

int StderrCapture::count(const std::string& needle) const {
    std::istringstream lines(text());
    int n = 0;
    for (std::string line; std::getline(lines, line);) {
        n += line.find(needle) != std::string::npos ? 1 : 0;
    }
    return n;
}

} // namespace testutil
