#include "pause.h"

#include <windows.h>

namespace platform {

void pause_ms(int ms) {
    if (ms > 0)
        Sleep(static_cast<DWORD>(ms));
}

} // namespace platform
