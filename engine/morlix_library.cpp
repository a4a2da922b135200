#include "morlix_library.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <cerrno>
#include <cstdio>

#include "install_layout.h"
#include "operator_prompts.h"

namespace velquin {

namespace {

constexpr std::array<const char*, MorlixLibrary::EXPORT_COUNT> EXPORT_NAMES = {
    "qkSoftFontFileName",
    "GetPrinterHandleVB",
    "ClosePrinterHandleVB",
    "SetPortsToFile",
    "RestorePortsToOriginal",
    "GetPrinterDetailVB",
    "GetFlashSpaceRemainingVB",
    "WritePrinterVB",
    "GetPrinterStatusDataVB",
    "GetPrinterVersionVB",
    "CreateEthernetSocketVB",
    "WriteDataEthernetVB",
    "ReadDataEthernetVB",
    "CloseEthernetSocketVB",
    "isPrinterReadyEthernetVB",
    "CreateSingleInstance",
    "IsAnotherInstanceRunning",
    "ClearInstanceMutex",
    "GetOSDataVB",
};

}  // namespace

const char* MorlixLibrary::exportName(Export which) {
    return EXPORT_NAMES[static_cast<std::size_t>(which)];
}

QString MorlixLibrary::defaultPath() {
    return InstallLayout::libraryPath(QCoreApplication::applicationDirPath());
}

MorlixLibrary::MorlixLibrary(QString path) : path_(std::move(path)) {
    library_.setFileName(path_);
    // Bind the library's own symbols at load, so a broken library fails there and not mid-call.
    library_.setLoadHints(QLibrary::ResolveAllSymbolsHint);

    int ends[2] = {-1, -1};
    // Non-blocking both ways: a full pipe sends the library to standard
    // error instead of stalling it, and draining never waits.
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        messageReadEnd_ = ends[0];
        messageWriteEnd_ = ends[1];
        qputenv("MORLIX_OPERATOR_FD", QByteArray::number(messageWriteEnd_));
    }
}

MorlixLibrary::~MorlixLibrary() {
    if (messageWriteEnd_ >= 0) {
        if (qgetenv("MORLIX_OPERATOR_FD") == QByteArray::number(messageWriteEnd_))
            qunsetenv("MORLIX_OPERATOR_FD");
        ::close(messageWriteEnd_);
    }
    if (messageReadEnd_ >= 0) ::close(messageReadEnd_);
}

void MorlixLibrary::showLibraryMessages() {
    if (messageReadEnd_ < 0) return;
    char chunk[1024];
    for (;;) {
        const ssize_t got = ::read(messageReadEnd_, chunk, sizeof chunk);
        if (got > 0) {
            partialMessage_.append(chunk, got);
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        break;
    }
    qsizetype end = 0;
    while ((end = partialMessage_.indexOf('\n')) >= 0) {
        const QString text = QString::fromLocal8Bit(partialMessage_.left(end));
        partialMessage_.remove(0, end + 1);
        if (prompts_ != nullptr)
            prompts_->message(text, APPLICATION_TITLE);
        else
            std::fprintf(stderr, "%s\n", qPrintable(text));
    }
}

bool MorlixLibrary::bind(Export which) {
    return resolve(which) != nullptr;
}

QFunctionPointer MorlixLibrary::resolve(Export which) {
    QFunctionPointer& function = functions_[static_cast<std::size_t>(which)];
    if (function != nullptr) return function;
    if (!loadAttempted_) {
        loadAttempted_ = true;
        if (!library_.load()) {
            reportFailure(QStringLiteral("The printer library %1 could not be loaded (%2). The program ends.")
                              .arg(QDir::toNativeSeparators(path_), library_.errorString()));
            return nullptr;
        }
    }
    if (!library_.isLoaded()) return nullptr;
    function = library_.resolve(exportName(which));
    if (function == nullptr)
        reportFailure(QStringLiteral("The printer library %1 has no function %2. The program ends.")
                          .arg(QDir::toNativeSeparators(path_), QString::fromLatin1(exportName(which))));
    return function;
}

void MorlixLibrary::reportFailure(const QString& text) {
    std::fprintf(stderr, "velquin: %s\n", qPrintable(text));
    if (failed_) return;  // the operator has been told; the program is ending
    failed_ = true;
    if (prompts_ != nullptr) prompts_->message(text, APPLICATION_TITLE, MessageIcon::Critical);
    if (failureHandler_) failureHandler_();
}

std::int32_t MorlixLibrary::qkSoftFontFileName(const char* softFontPath) {
    return call<std::int32_t>(Export::qkSoftFontFileName, 1, softFontPath);
}
std::int32_t MorlixLibrary::GetPrinterHandleVB(std::int32_t* handle) {
    return call<std::int32_t>(Export::GetPrinterHandleVB, 1, handle);
}
std::int32_t MorlixLibrary::ClosePrinterHandleVB(std::int32_t handle) {
    return call<std::int32_t>(Export::ClosePrinterHandleVB, 0, handle);
}
std::int32_t MorlixLibrary::SetPortsToFile() {
    return call<std::int32_t>(Export::SetPortsToFile, 1);
}
std::int32_t MorlixLibrary::RestorePortsToOriginal() {
    return call<std::int32_t>(Export::RestorePortsToOriginal, 0);
}
std::int32_t MorlixLibrary::GetPrinterDetailVB(std::int32_t* portType, std::int32_t* logicBoardType,
                                               std::int32_t* printerType, std::int32_t* printerModel) {
    return call<std::int32_t>(Export::GetPrinterDetailVB, 0, portType, logicBoardType, printerType,
                              printerModel);
}
std::int32_t MorlixLibrary::GetFlashSpaceRemainingVB(std::int32_t* freeFlashBytes) {
    return call<std::int32_t>(Export::GetFlashSpaceRemainingVB, 0, freeFlashBytes);
}
std::int32_t MorlixLibrary::WritePrinterVB(std::int32_t handle, const std::uint8_t* data,
                                           std::uint32_t byteCount) {
    return call<std::int32_t>(Export::WritePrinterVB, 1, handle, data, byteCount);
}
std::int32_t MorlixLibrary::GetPrinterStatusDataVB(std::int32_t handle, std::uint8_t* statusBuffer,
                                                   std::int32_t* statusByteCount,
                                                   std::uint8_t specificRequest, const std::uint8_t* request,
                                                   std::uint8_t requestLength) {
    return call<std::int32_t>(Export::GetPrinterStatusDataVB, 1, handle, statusBuffer, statusByteCount,
                              specificRequest, request, requestLength);
}
std::int32_t MorlixLibrary::GetPrinterVersionVB(float* version) {
    return call<std::int32_t>(Export::GetPrinterVersionVB, 0, version);
}
std::int32_t MorlixLibrary::CreateEthernetSocketVB(std::int32_t* socket, const char* octet1,
                                                   const char* octet2, const char* octet3, const char* octet4,
                                                   const char* port) {
    return call<std::int32_t>(Export::CreateEthernetSocketVB, 0, socket, octet1, octet2, octet3, octet4,
                              port);
}
std::int32_t MorlixLibrary::WriteDataEthernetVB(std::int32_t socket, const std::uint8_t* data,
                                                std::int32_t length, std::int32_t* bytesSent) {
    return call<std::int32_t>(Export::WriteDataEthernetVB, 0, socket, data, length, bytesSent);
}
std::int32_t MorlixLibrary::ReadDataEthernetVB(std::int32_t socket, std::uint8_t* buffer,
                                               std::int32_t* length) {
    return call<std::int32_t>(Export::ReadDataEthernetVB, 0, socket, buffer, length);
}
std::int32_t MorlixLibrary::CloseEthernetSocketVB(std::int32_t socket) {
    return call<std::int32_t>(Export::CloseEthernetSocketVB, 1, socket);
}
std::int32_t MorlixLibrary::isPrinterReadyEthernetVB(std::int32_t socket) {
    return call<std::int32_t>(Export::isPrinterReadyEthernetVB, 0, socket);
}
std::uint8_t MorlixLibrary::CreateSingleInstance() {
    return call<std::uint8_t>(Export::CreateSingleInstance, std::uint8_t{1});
}
std::uint8_t MorlixLibrary::IsAnotherInstanceRunning() {
    return call<std::uint8_t>(Export::IsAnotherInstanceRunning, std::uint8_t{0});
}
std::uint8_t MorlixLibrary::ClearInstanceMutex() {
    return call<std::uint8_t>(Export::ClearInstanceMutex, std::uint8_t{1});
}
std::int32_t MorlixLibrary::GetOSDataVB(std::int32_t* majorVersion, std::int32_t* minorVersion,
                                        std::int32_t* processorArchitecture) {
    return call<std::int32_t>(Export::GetOSDataVB, 1, majorVersion, minorVersion, processorArchitecture);
}

}  // namespace velquin
