// The network printer link: one TCP connection to the printer, its identity
// read at connect time, a readiness check, and raw sends and receives.
#include <cerrno>
#include <cstring>

#include "identity.h"
#include "morlix/morlix.h"
#include "morlix/printer_codes.h"
#include "platform/debug_output.h"
#include "platform/sleep.h"
#include "platform/tcp_socket.h"
#include "printer_data.h"
#include "query_protocol.h"

namespace morlix {

using platform::debugOutput;
using platform::debugPrintf;

namespace {

constexpr std::size_t ADDRESS_TEXT_SIZE = 256;
constexpr std::size_t REPLY_BUFFER_SIZE = 256;
// The operator is told a connect may take up to 30 seconds.
constexpr std::chrono::milliseconds CONNECT_LIMIT{30000};
// A printer that has neither answered nor taken data for this long is gone:
// the call fails instead of freezing the program.
constexpr std::chrono::milliseconds TRANSFER_LIMIT{30000};
// The printer needs these pauses to answer a request.
constexpr unsigned IDENTITY_WAIT_MS = 300;
constexpr unsigned STATUS_WAIT_MS = 200;
// A status reply has at least this many bytes; its rest may come in pieces
// up to this long after the request.
constexpr std::size_t STATUS_REPLY_BYTES = 5;
constexpr std::chrono::milliseconds STATUS_REPLY_LIMIT{1000};
constexpr std::int32_t MAX_BYTES_DUMPED = 128;
constexpr std::int32_t SEND_ERROR = -1;

constexpr std::uint8_t IDENTITY_REQUEST[] = {'<', 'S', 'A', '0', '8', '>'};
constexpr std::uint8_t SHORT_STATUS_REQUEST[] = {'<', 'S', 'S', '>'};
constexpr const char* READ_DUMP_RULE = "rrrrrrrrrrrrrrrrrrrrrrrrrrrrrrr";

// A receive that saw the printer go away, rather than fail otherwise.
bool connectionClosed(const platform::IoResult& received) {
    return (received.ok && received.bytes == 0) || (!received.ok && received.error == ECONNRESET);
}

// Joins the four octet texts with dots into `address`, as typed; false when
// the text would not fit.
bool buildAddressText(const char* const octets[4], char (&address)[ADDRESS_TEXT_SIZE]) {
    std::size_t length = 0;
    for (int i = 0; i < 4; ++i) {
        const char* octet = octets[i] ? octets[i] : "";
        std::size_t size = std::strlen(octet);
        std::size_t needed = size + (i > 0 ? 1 : 0);
        if (length + needed >= ADDRESS_TEXT_SIZE) return false;
        if (i > 0) address[length++] = '.';
        std::memcpy(address + length, octet, size);
        length += size;
    }
    address[length] = '\0';
    return true;
}

}  // namespace

// Asks the printer for its identity and keeps it in `deviceId`.
bool GetPrinterIDEthernet(std::int32_t socket, PrinterData* record) {
    std::uint8_t reply[REPLY_BUFFER_SIZE] = {};
    debugOutput("GetPrinterIDEthernet - Entry");
    // Bytes of an earlier answer that came late are no part of this one.
    platform::socketDiscardPending(socket);
    platform::IoResult sent = platform::socketSend(socket, IDENTITY_REQUEST);
    if (!sent.ok) {
        debugOutput("GetPrinterIDEthernet - Error sending <SA08>");
        return false;
    }
    debugPrintf("GetPrinterIDEthernet - Sent <SA08> bytes send = %d", static_cast<int>(sent.bytes));
    platform::sleepMs(IDENTITY_WAIT_MS);
    // One receive only: an identity that arrives in pieces is cut at the first.
    platform::IoResult received = platform::socketReceive(socket, reply, TRANSFER_LIMIT);
    if (connectionClosed(received)) {
        debugOutput("GetPrinterIDEthernet - Connection Closed");
        return false;
    }
    if (!received.ok) {
        debugOutput("GetPrinterIDEthernet - bytesRecv < 0");
        return false;
    }
    storeDeviceId(*record, std::span<const std::uint8_t>(reply, received.bytes));
    return true;
}

}  // namespace morlix

using morlix::platform::debugOutput;
using morlix::platform::debugPrintf;

extern "C" int32_t CreateEthernetSocketVB(int32_t* socket, const char* octet1, const char* octet2,
                                          const char* octet3, const char* octet4, const char* port) {
    debugOutput("CreateEthernetSocketVB - entry new");
    debugPrintf("CreateEthernetSocketVB - Socket on entry = %d", socket ? *socket : 0);
    if (socket == nullptr) {
        debugOutput("CreateEthernetSocketVB - no socket variable");
        return 0;
    }

    const char* const octets[4] = {octet1, octet2, octet3, octet4};
    char address[morlix::ADDRESS_TEXT_SIZE];
    if (!morlix::buildAddressText(octets, address)) {
        debugOutput("CreateEthernetSocketVB - IP address text too long");
        return 0;
    }
    debugPrintf("IP address = %s", address);
    const char* portText = port ? port : "";
    auto portNumber = static_cast<std::uint16_t>(morlix::parseDecimalPrefix(
        std::span(reinterpret_cast<const std::uint8_t*>(portText), std::strlen(portText))));
    debugPrintf("Port number = %d", portNumber);

    // No network stack to start on this system: the start always succeeds.
    debugOutput("Client: WSAStartup() is OK");
    int error = 0;
    int connection = morlix::platform::openTcpSocket(error);
    if (connection < 0) {
        debugPrintf("Client: socket() - Error at socket(): %ld", static_cast<long>(error));
        return 0;
    }
    debugOutput("Client: socket() is OK");
    // A text that is no address is never connected to (it would read as the
    // broadcast address).
    std::optional<std::uint32_t> peer = morlix::platform::parseIpv4Address(address);
    if (!peer ||
        !morlix::platform::connectWithin(connection, *peer, portNumber, morlix::CONNECT_LIMIT, error)) {
        debugOutput("Client: connect() - Failed to connect");
        morlix::platform::socketClose(connection);
        return 0;
    }
    morlix::platform::limitTransferWaits(connection, morlix::TRANSFER_LIMIT);
    debugOutput("Client: connect() is OK");
    debugOutput("Client: setting printerData->portType = PORT_TYPE_ETHERNET");
    morlix::printerData.portType = morlix::PORT_TYPE_ETHERNET;
    *socket = connection;
    debugPrintf("CreateEthernetSocketVB - Socket = %d", connection);
    debugPrintf("CreateEthernetSocketVB - Socket = %d", *socket);

    if (!morlix::GetPrinterIDEthernet(connection, &morlix::printerData)) {
        // The caller discards a failed connection: close it here rather than
        // leave an open descriptor nobody owns.
        morlix::platform::socketClose(connection);
        *socket = 0;
        return 0;
    }
    morlix::ParseModelFromID(&morlix::printerData);
    morlix::GetFWVersionFromID(&morlix::printerData);
    debugPrintf("CreateEthernetSocketVB - Socket on exit = %d", *socket);
    return 1;
}

extern "C" int32_t isPrinterReadyEthernetVB(int32_t socket) {
    std::uint8_t status[morlix::REPLY_BUFFER_SIZE] = {};
    debugOutput("isPrinterReadyEthernet - Entry");
    // A late or split earlier answer must not be read as this status.
    if (std::size_t dropped = morlix::platform::socketDiscardPending(socket))
        debugPrintf("isPrinterReadyEthernet - dropped %d stale bytes", static_cast<int>(dropped));
    auto sent = morlix::platform::socketSend(socket, morlix::SHORT_STATUS_REQUEST);
    if (!sent.ok) {
        debugOutput("isPrinterReadyEthernet - Error sending <SS>");
        return 0;
    }
    debugPrintf("isPrinterReadyEthernet - Sent <SS> bytes send = %d", static_cast<int>(sent.bytes));
    morlix::platform::sleepMs(morlix::STATUS_WAIT_MS);
    auto received =
        morlix::platform::socketReceiveAtLeast(socket, status, morlix::STATUS_REPLY_BYTES,
                                               std::chrono::steady_clock::now() + morlix::STATUS_REPLY_LIMIT);
    if (morlix::connectionClosed(received)) {
        debugOutput("isPrinterReadyEthernet - Connection Closed");
        return 0;
    }
    if (!received.ok) {
        debugOutput("GetPrinterIDEthernet - bytesRecv < 0");
        return 0;
    }
    debugPrintf("Status Length = %d, Data = ", static_cast<int>(received.bytes));
    if (morlix::platform::debugListening())
        for (std::size_t i = 0; i < received.bytes; ++i) debugPrintf("%X ", status[i]);
    // Bit 0 of the flags byte does not matter; bytes that did not arrive read as 0.
    bool ready = status[3] == 0 && (status[morlix::STATUS_FLAGS_BYTE] & ~0x01) == 0;
    if (ready) {
        debugOutput("GetPrinterIDEthernet - Returning printer ready");
        return 1;
    }
    debugOutput("GetPrinterIDEthernet - Returning printer NOT READY");
    return 0;
}

extern "C" int32_t WriteDataEthernetVB(int32_t socket, const uint8_t* data, int32_t length,
                                       int32_t* bytesSent) {
    debugOutput("WriteFileEthernet - Entry");
    debugPrintf("WriteFileEthernet - Socket = %d, BYTE * = %p, Data length = %ld, bytes sent ptr = %p",
                socket, static_cast<const void*>(data), static_cast<long>(length),
                static_cast<void*>(bytesSent));
    morlix::platform::IoResult sent{false, 0, EINVAL};
    if (length >= 0 && (data != nullptr || length == 0)) {
        // Whatever the printer sent before this write answered an earlier
        // request: a reply read after it must be the answer to this one.
        if (std::size_t dropped = morlix::platform::socketDiscardPending(socket))
            debugPrintf("WriteFileEthernet - dropped %d stale bytes", static_cast<int>(dropped));
        sent = morlix::platform::socketSend(socket, std::span(data, static_cast<std::size_t>(length)));
    }
    if (!sent.ok) {
        if (bytesSent) *bytesSent = morlix::SEND_ERROR;
        debugOutput("WriteFileEthernet - Error sending data");
        return 0;
    }
    // One send: a smaller count than asked reaches the caller as it is.
    if (bytesSent) *bytesSent = static_cast<int32_t>(sent.bytes);
    debugPrintf("WriteFileEthernet - bytes sent = %d", static_cast<int>(sent.bytes));
    return 1;
}

extern "C" int32_t ReadDataEthernetVB(int32_t socket, uint8_t* buffer, int32_t* length) {
    debugOutput("ReadDataEthernet - Entry");
    // The sizes of the types of the original interface, which this one keeps.
    debugPrintf("Size of integer = %d, size of DWORD = %d, size of long = %d, size of SOCKET = %d", 4, 4, 4,
                4);
    debugPrintf("ReadDataEthernet - Socket = %d, BYTE * = %p, StatusBufferLength = %d", socket,
                static_cast<void*>(buffer), length ? *length : 0);
    morlix::platform::IoResult received{false, 0, EINVAL};
    if (length != nullptr && *length >= 0 && (buffer != nullptr || *length == 0))
        // A printer answers within its reply limit, or not at all.
        received = morlix::platform::socketReceive(
            socket, std::span(buffer, static_cast<std::size_t>(*length)), morlix::STATUS_REPLY_LIMIT);
    if (!received.ok || received.bytes == 0) {
        debugOutput("ReadDataEthernet - Connection Closed");
        return 0;
    }
    auto count = static_cast<int32_t>(received.bytes);
    debugPrintf("ReadDataEthernet - Read bytes = %d", count);
    *length = count;
    debugOutput(morlix::READ_DUMP_RULE);
    if (morlix::platform::debugListening())
        for (int32_t i = 0; i < count && i < morlix::MAX_BYTES_DUMPED; ++i) debugPrintf("%X", buffer[i]);
    debugOutput(morlix::READ_DUMP_RULE);
    return 1;
}

extern "C" int32_t CloseEthernetSocketVB(int32_t socket) {
    debugOutput("closeSocket - Entry");
    debugPrintf("CloseEthernetSocketVB - Socket = %d", socket);
    // A failure (no socket, or one below 3) is of no consequence here.
    morlix::platform::socketClose(socket);
    debugOutput("closeSocket - Complete");
    return 1;
}
