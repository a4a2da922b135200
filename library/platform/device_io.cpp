#include "device_io.h"

#include <unistd.h>

#include <cerrno>

namespace morlix::platform {

IoResult handleRead(int handle, std::span<std::uint8_t> buffer) {
    if (!isPrinterHandle(handle)) return {false, 0, EBADF};
    for (;;) {
        ssize_t got = ::read(handle, buffer.data(), buffer.size());
        if (got >= 0) return {true, static_cast<std::size_t>(got), 0};
        if (errno != EINTR) return {false, 0, errno};
    }
}

IoResult handleWrite(int handle, std::span<const std::uint8_t> data) {
    if (!isPrinterHandle(handle)) return {false, 0, EBADF};
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t put = ::write(handle, data.data() + done, data.size() - done);
        if (put < 0) {
            if (errno == EINTR) continue;
            return {false, done, errno};
        }
        done += static_cast<std::size_t>(put);
    }
    return {true, done, 0};
}

bool handleClose(int handle) {
    if (!isPrinterHandle(handle)) return false;
    return ::close(handle) == 0;
}

}  // namespace morlix::platform
