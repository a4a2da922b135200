// TCP over IPv4 for the network printer link. A socket at the library
// interface is a descriptor number of 3 or more, like a printer handle;
// calls on anything below 3 fail without touching the descriptor.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

#include "device_io.h"

namespace morlix::platform {

// The address of a dotted IPv4 text as the classic inet_addr reads it (so
// "127.1" is 127.0.0.1), in network byte order; nullopt for a text that is
// no address, and for the all-ones address that stands for "no address".
std::optional<std::uint32_t> parseIpv4Address(const char* text);

// A new blocking IPv4 stream socket, close-on-exec, numbered 3 or more;
// -1 with `error` set on failure.
int openTcpSocket(int& error);

// Connects within `limit`; the socket stays blocking. False with `error`
// set when the connect fails or takes longer.
bool connectWithin(int socket, std::uint32_t address, std::uint16_t port, std::chrono::milliseconds limit,
                   int& error);

// Bounds every later send and receive on the socket: one that moves nothing
// within `limit` fails with EAGAIN instead of waiting for ever.
bool limitTransferWaits(int socket, std::chrono::milliseconds limit);

// One send of the bytes (never raises SIGPIPE); it may take fewer than
// given. Retried only when a signal interrupted it before anything was sent.
IoResult socketSend(int socket, std::span<const std::uint8_t> bytes);

// One receive of up to buffer.size() bytes; 0 bytes means the peer closed.
// Nothing arriving within `limit` fails with ETIMEDOUT, also on a socket
// whose own waits were never bounded (one the library did not open).
IoResult socketReceive(int socket, std::span<std::uint8_t> buffer, std::chrono::milliseconds limit);

// Reads and drops whatever has already arrived on the socket (at most
// `most` bytes), without waiting; gives how many bytes were dropped.
std::size_t socketDiscardPending(int socket, std::size_t most = 1u << 20);

// Receives into `buffer` until at least `minimum` bytes have arrived, the
// buffer is full, the peer closes or `deadline` passes. ok with the bytes
// that arrived when any did; else 0 bytes and ok (closed) or the error
// (ETIMEDOUT when nothing came in time).
IoResult socketReceiveAtLeast(int socket, std::span<std::uint8_t> buffer, std::size_t minimum,
                              std::chrono::steady_clock::time_point deadline);

// Closes a socket; false when it is no socket or the close failed.
bool socketClose(int socket);

}  // namespace morlix::platform
