#pragma once

#include <chrono>
#include <thread>

namespace morlix::platform {

// The fixed waits the printer needs between requests.
inline void sleepMs(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace morlix::platform
