// Reading and writing printer handles. A handle at the library interface is
// a descriptor number; values below 3 (the standard streams, and the
// program's 0 for "no printer") are never a printer handle, and every call
// on them fails without touching the descriptor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace morlix::platform {

inline constexpr int FIRST_PRINTER_HANDLE = 3;

inline bool isPrinterHandle(int handle) { return handle >= FIRST_PRINTER_HANDLE; }

struct IoResult {
    bool ok = false;
    std::size_t bytes = 0;  // bytes moved when ok
    int error = 0;          // errno when not ok
};

// One read of up to buffer.size() bytes.
IoResult handleRead(int handle, std::span<std::uint8_t> buffer);

// One write of all the bytes (repeated until all are taken or it fails).
IoResult handleWrite(int handle, std::span<const std::uint8_t> data);

// Closes a printer handle; false when it is no handle or the close failed.
bool handleClose(int handle);

}  // namespace morlix::platform
