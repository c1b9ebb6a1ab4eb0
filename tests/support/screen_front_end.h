// A front end for tests that shows windows as on a screen without drawing them: a window is
// minimised only when it was shown so, and message boxes are answered OK at once.
#pragma once

#include "platform/window/frontend.h"

namespace testutil {

class ScreenFrontEnd : public platform::FrontEnd {
  public:
    // canShowDialogs: whether modal dialogs count as shown to a person.
    explicit ScreenFrontEnd(bool canShowDialogs = false) : dialogs_(canShowDialogs) {}
    bool canShowDialogs() const override { return dialogs_; }
    bool windowsAreIconic() const override { return false; }
    void titleChanged(HWND, const char*) override {}
    void windowShown(HWND) override {}
    void windowDestroyed(HWND) override {}
    void dialogCreated(HWND) override {}
    int messageBox(HWND, const char*, const char*, UINT) override { return IDOK; }

  private:
    bool dialogs_;
};

} // namespace testutil
