// Standard error of the test process caught in a file while the object lives, so that
// tests can count the lines the server writes there.
#pragma once

#include <string>

namespace testutil {

class StderrCapture {
  public:
    StderrCapture();
    ~StderrCapture(); // standard error goes back where it was
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    // Everything written to standard error so far.
    std::string text() const;
    // The number of lines so far that contain needle.
    int count(const std::string& needle) const;

  private:
    int saved_ = -1;
    std::string path_;
};

} // namespace testutil
