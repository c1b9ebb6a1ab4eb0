#include "config/directory.h"
#include "platform/process/process.h"
#include "platform/types.h"

void startCompanionProgram() {
    WinExec("gdi.exe", SW_SHOWNORMAL);
}
