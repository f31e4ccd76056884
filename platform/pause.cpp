#include "pause.h"

#include <chrono>
#include <thread>

namespace platform {

void pause_ms(int ms) {
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace platform
