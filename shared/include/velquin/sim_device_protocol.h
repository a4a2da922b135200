// The framed protocol between the library's simulated-device backend and
// printer-sim, over a UNIX-domain stream socket that stands where a printer
// device node would (for example $MORLIX_DEVICE_ROOT/dev/usb/lp0).
//
// Every message is a frame: one byte of kind, a 32-bit little-endian payload
// length, then the payload. The client (the library) sends one request and
// reads exactly one answer before sending the next.
//
//   client -> simulator                    simulator -> client
//   READ     payload: u32 max bytes        DATA   payload: up to max bytes
//                                                 (what a read of the device
//                                                 gives: the status bytes, or
//                                                 a pending reply to a request)
//   WRITE    payload: the bytes            WROTE  payload: u32 bytes accepted
//   DEVICE_ID payload: u32 max bytes       DATA   payload: the raw device-ID
//                                                 bytes as the kernel ioctl gives
//                                                 them (a 2-byte big-endian
//                                                 length prefix, then the text),
//                                                 cut to max
//   any                                    FAILED payload: u32 errno to report
//
// A simulator that closes the socket makes every later call fail (as an
// unplugged printer does).
#pragma once

#include <cstddef>
#include <cstdint>

namespace velquin::simdevice {

enum FrameKind : std::uint8_t {
    READ = 'R',
    WRITE = 'W',
    DEVICE_ID = 'I',
    DATA = 'D',
    WROTE = 'A',
    FAILED = 'E',
};

inline constexpr std::size_t FRAME_HEADER_SIZE = 5;
// Larger payloads are refused by both sides.
inline constexpr std::uint32_t MAX_FRAME_PAYLOAD = 16u * 1024u * 1024u;

}  // namespace velquin::simdevice
