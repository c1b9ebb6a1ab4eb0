// A process of another user that holds a name of this user's desktop registry: it binds the
// name before anyone of ours does, answers "ICONIC?" with "1" (a holder that tries to pass
// for a minimised window) unless told to stay silent, and reports every request it gets.
// Needs root (it drops to the other user with setuid); stopped by its pid.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace testutil {

class ForeignHolder {
  public:
    // Holds "confserver-desktop[.DESKTOP]/<this uid>/CLS" as the user asUid.
    ForeignHolder(const std::string& desktop, const std::string& cls, uid_t asUid, bool answers);
    ~ForeignHolder();
    ForeignHolder(const ForeignHolder&) = delete;
    ForeignHolder& operator=(const ForeignHolder&) = delete;

    // True once the name is bound (waits at most 5 s for the child to say so).
    bool ready();
    // The requests received so far, one text each, read within waitMs.
    std::vector<std::string> requests(int waitMs);
    void stop();

  private:
    pid_t pid_ = -1;
    int report_ = -1;
    std::string buffered_;
    bool ready_ = false;
    void readReports(int waitMs);
};

} // namespace testutil
