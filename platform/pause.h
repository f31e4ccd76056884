#pragma once

namespace platform {

// Blocks the calling thread for `ms` milliseconds.
void pause_ms(int ms);

} // namespace platform
