// A stand-in for libmorlix.so that the program binds exactly as it binds the
// real one: the 19 exports record each call (name and arguments, one line)
// and answer what the test scripted through the FakeMorlix_ functions.
// Built a second time without GetPrinterHandleVB, for the missing-export case.
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Script {
    std::map<std::string, std::int32_t> results;
    std::map<std::string, std::string> messages;  // operator message written by a call
    std::int32_t portType = 0, logicBoard = 2, printerType = 1, printerModel = 0;
    float version = 5.07f;
    std::int32_t freeFlash = 2'097'152;
    std::int32_t handle = 7;
    std::int32_t socket = 9;
    int connectDelayMs = 0;
    std::int32_t sendLimit = 0;  // most bytes one network send takes; 0: all
    std::vector<std::uint8_t> status;
    std::vector<std::uint8_t> readReply;
};

std::mutex mutex;
Script script;
std::string calls;
std::string callsCopy;
// The calls made from the process's first thread: the program makes every
// call from its engine thread.
std::string mainThreadCalls;

void record(const std::string& line) {
    calls += line;
    calls += '\n';
    if (::gettid() == ::getpid()) mainThreadCalls += line + '\n';
}

std::int32_t resultOf(const char* function, std::int32_t fallback) {
    auto found = script.results.find(function);
    return found == script.results.end() ? fallback : found->second;
}

// Writes the scripted operator message of this function, as the library does.
void operatorMessageOf(const char* function) {
    auto found = script.messages.find(function);
    const char* fd = std::getenv("MORLIX_OPERATOR_FD");
    if (found == script.messages.end() || fd == nullptr) return;
    const std::string line = found->second + "\n";
    [[maybe_unused]] ssize_t written = ::write(std::atoi(fd), line.data(), line.size());
}

std::string text(const char* value) {
    return value == nullptr ? "(null)" : value;
}

}  // namespace

FAKE_EXPORT void FakeMorlix_reset() {
    std::lock_guard lock(mutex);
    script = Script{};
    calls.clear();
    mainThreadCalls.clear();
}
FAKE_EXPORT const char* FakeMorlix_calls() {
    std::lock_guard lock(mutex);
    callsCopy = calls;
    return callsCopy.c_str();
}
FAKE_EXPORT const char* FakeMorlix_mainThreadCalls() {
    std::lock_guard lock(mutex);
    callsCopy = mainThreadCalls;
    return callsCopy.c_str();
}
FAKE_EXPORT void FakeMorlix_setResult(const char* function, std::int32_t result) {
    std::lock_guard lock(mutex);
    script.results[function] = result;
}
FAKE_EXPORT void FakeMorlix_setMessage(const char* function, const char* message) {
    std::lock_guard lock(mutex);
    script.messages[function] = message;
}
FAKE_EXPORT void FakeMorlix_setPrinter(std::int32_t portType, std::int32_t logicBoard,
                                       std::int32_t printerType, std::int32_t printerModel, float version,
                                       std::int32_t freeFlash) {
    std::lock_guard lock(mutex);
    script.portType = portType;
    script.logicBoard = logicBoard;
    script.printerType = printerType;
    script.printerModel = printerModel;
    script.version = version;
    script.freeFlash = freeFlash;
}
FAKE_EXPORT void FakeMorlix_setLinks(std::int32_t handle, std::int32_t socket, int connectDelayMs) {
    std::lock_guard lock(mutex);
    script.handle = handle;
    script.socket = socket;
    script.connectDelayMs = connectDelayMs;
}
FAKE_EXPORT void FakeMorlix_setSendLimit(std::int32_t limit) {
    std::lock_guard lock(mutex);
    script.sendLimit = limit;
}
FAKE_EXPORT void FakeMorlix_setStatus(const std::uint8_t* bytes, std::int32_t length) {
    std::lock_guard lock(mutex);
    script.status.assign(bytes, bytes + length);
}
FAKE_EXPORT void FakeMorlix_setReadReply(const std::uint8_t* bytes, std::int32_t length) {
    std::lock_guard lock(mutex);
    script.readReply.assign(bytes, bytes + length);
}

FAKE_EXPORT std::int32_t qkSoftFontFileName(const char* path) {
    std::lock_guard lock(mutex);
    record("qkSoftFontFileName " + text(path));
    return resultOf("qkSoftFontFileName", 0);
}

#ifndef FAKE_MORLIX_WITHOUT_GET_PRINTER_HANDLE
FAKE_EXPORT std::int32_t GetPrinterHandleVB(std::int32_t* handle) {
    std::lock_guard lock(mutex);
    record("GetPrinterHandleVB");
    operatorMessageOf("GetPrinterHandleVB");
    const std::int32_t result = resultOf("GetPrinterHandleVB", 0);
    if (result == 0) *handle = script.handle;
    return result;
}
#endif

FAKE_EXPORT std::int32_t ClosePrinterHandleVB(std::int32_t handle) {
    std::lock_guard lock(mutex);
    record("ClosePrinterHandleVB " + std::to_string(handle));
    return 0;
}
FAKE_EXPORT std::int32_t SetPortsToFile() {
    std::lock_guard lock(mutex);
    record("SetPortsToFile");
    operatorMessageOf("SetPortsToFile");
    return resultOf("SetPortsToFile", 0);
}
FAKE_EXPORT std::int32_t RestorePortsToOriginal() {
    std::lock_guard lock(mutex);
    record("RestorePortsToOriginal");
    operatorMessageOf("RestorePortsToOriginal");
    return 0;
}
FAKE_EXPORT std::int32_t GetPrinterDetailVB(std::int32_t* portType, std::int32_t* logicBoard,
                                            std::int32_t* printerType, std::int32_t* printerModel) {
    std::lock_guard lock(mutex);
    record("GetPrinterDetailVB");
    *portType = script.portType;
    *logicBoard = script.logicBoard;
    *printerType = script.printerType;
    *printerModel = script.printerModel;
    return 0;
}
FAKE_EXPORT std::int32_t GetFlashSpaceRemainingVB(std::int32_t* freeFlash) {
    std::lock_guard lock(mutex);
    record("GetFlashSpaceRemainingVB");
    *freeFlash = script.freeFlash;
    return resultOf("GetFlashSpaceRemainingVB", 0);
}
FAKE_EXPORT std::int32_t WritePrinterVB(std::int32_t handle, const std::uint8_t* data, std::uint32_t count) {
    std::lock_guard lock(mutex);
    record("WritePrinterVB " + std::to_string(handle) + " " +
           std::string(reinterpret_cast<const char*>(data), count));
    return resultOf("WritePrinterVB", 0);
}
FAKE_EXPORT std::int32_t GetPrinterStatusDataVB(std::int32_t handle, std::uint8_t* buffer,
                                                std::int32_t* count, std::uint8_t specific,
                                                const std::uint8_t*, std::uint8_t) {
    std::lock_guard lock(mutex);
    record("GetPrinterStatusDataVB " + std::to_string(handle) + " " + std::to_string(specific));
    std::memcpy(buffer, script.status.data(), std::min<std::size_t>(script.status.size(), 512));
    *count = static_cast<std::int32_t>(script.status.size());
    return resultOf("GetPrinterStatusDataVB", 0);
}
FAKE_EXPORT std::int32_t GetPrinterVersionVB(float* version) {
    std::lock_guard lock(mutex);
    record("GetPrinterVersionVB");
    *version = script.version;
    return 0;
}
FAKE_EXPORT std::int32_t CreateEthernetSocketVB(std::int32_t* socket, const char* octet1, const char* octet2,
                                                const char* octet3, const char* octet4, const char* port) {
    int delay = 0;
    {
        std::lock_guard lock(mutex);
        record("CreateEthernetSocketVB " + text(octet1) + "." + text(octet2) + "." + text(octet3) + "." +
               text(octet4) + ":" + text(port));
        delay = script.connectDelayMs;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    std::lock_guard lock(mutex);
    const std::int32_t result = resultOf("CreateEthernetSocketVB", 1);
    if (result != 0) *socket = script.socket;
    return result;
}
FAKE_EXPORT std::int32_t WriteDataEthernetVB(std::int32_t socket, const std::uint8_t* data,
                                             std::int32_t length, std::int32_t* sent) {
    std::lock_guard lock(mutex);
    const std::int32_t taken = script.sendLimit > 0 ? std::min(length, script.sendLimit) : length;
    record("WriteDataEthernetVB " + std::to_string(socket) + " " +
           std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(taken)));
    *sent = taken;
    return resultOf("WriteDataEthernetVB", 1);
}
FAKE_EXPORT std::int32_t ReadDataEthernetVB(std::int32_t socket, std::uint8_t* buffer, std::int32_t* length) {
    std::lock_guard lock(mutex);
    record("ReadDataEthernetVB " + std::to_string(socket) + " " + std::to_string(*length));
    if (script.readReply.empty()) return 0;
    const std::size_t n = std::min<std::size_t>(script.readReply.size(), static_cast<std::size_t>(*length));
    std::memcpy(buffer, script.readReply.data(), n);
    *length = static_cast<std::int32_t>(n);
    return 1;
}
FAKE_EXPORT std::int32_t CloseEthernetSocketVB(std::int32_t socket) {
    std::lock_guard lock(mutex);
    record("CloseEthernetSocketVB " + std::to_string(socket));
    return 1;
}
FAKE_EXPORT std::int32_t isPrinterReadyEthernetVB(std::int32_t socket) {
    std::lock_guard lock(mutex);
    record("isPrinterReadyEthernetVB " + std::to_string(socket));
    return 1;
}
FAKE_EXPORT std::uint8_t CreateSingleInstance() {
    std::lock_guard lock(mutex);
    record("CreateSingleInstance");
    return 1;
}
FAKE_EXPORT std::uint8_t IsAnotherInstanceRunning() {
    std::lock_guard lock(mutex);
    record("IsAnotherInstanceRunning");
    return static_cast<std::uint8_t>(resultOf("IsAnotherInstanceRunning", 0));
}
FAKE_EXPORT std::uint8_t ClearInstanceMutex() {
    std::lock_guard lock(mutex);
    record("ClearInstanceMutex");
    return 1;
}
FAKE_EXPORT std::int32_t GetOSDataVB(std::int32_t* major, std::int32_t* minor, std::int32_t* architecture) {
    std::lock_guard lock(mutex);
    record("GetOSDataVB");
    *major = 6;
    *minor = 1;
    *architecture = 9;
    return 0;
}
