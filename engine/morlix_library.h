// The printer library libmorlix.so, bound by name: the library is loaded at
// the first call of any export and each export is resolved at its own first
// call. When the library or an export cannot be found, the operator is told
// which one (once), the failure handler is called so the program can end,
// and the call returns its failure result without doing anything.
//
// The library has no window: the few messages it must show the operator it
// writes, one a line, to the descriptor named by MORLIX_OPERATOR_FD. This
// class owns that pipe and shows each message as a message box right after
// the call that wrote it.
#pragma once

#include <QByteArray>
#include <QLibrary>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>

namespace velquin {

class OperatorPrompts;

class MorlixLibrary {
public:
    enum class Export : int {
        qkSoftFontFileName,
        GetPrinterHandleVB,
        ClosePrinterHandleVB,
        SetPortsToFile,
        RestorePortsToOriginal,
        GetPrinterDetailVB,
        GetFlashSpaceRemainingVB,
        WritePrinterVB,
        GetPrinterStatusDataVB,
        GetPrinterVersionVB,
        CreateEthernetSocketVB,
        WriteDataEthernetVB,
        ReadDataEthernetVB,
        CloseEthernetSocketVB,
        isPrinterReadyEthernetVB,
        CreateSingleInstance,
        IsAnotherInstanceRunning,
        ClearInstanceMutex,
        GetOSDataVB,
    };
    static constexpr int EXPORT_COUNT = 19;
    static const char* exportName(Export which);

    // libmorlix.so beside the program, or in its installed library folder.
    static QString defaultPath();

    explicit MorlixLibrary(QString path = defaultPath());
    ~MorlixLibrary();
    MorlixLibrary(const MorlixLibrary&) = delete;
    MorlixLibrary& operator=(const MorlixLibrary&) = delete;

    // Where a missing library or export is reported.
    void setPrompts(OperatorPrompts* prompts) { prompts_ = prompts; }
    // Called once, after the first failure has been reported.
    void setFailureHandler(std::function<void()> handler) { failureHandler_ = std::move(handler); }

    // True once the library or an export could not be found.
    bool failed() const { return failed_; }
    const QString& path() const { return path_; }
    // Resolves an export now (reporting a failure as a call would); lets a
    // caller bind on this thread before calling from a worker thread.
    bool bind(Export which);
    // The export's address (resolving it now), or null when it is missing.
    QFunctionPointer function(Export which) { return resolve(which); }
    // Shows the messages the library has written since the last call.
    void showLibraryMessages();

    std::int32_t qkSoftFontFileName(const char* softFontPath);
    std::int32_t GetPrinterHandleVB(std::int32_t* handle);
    std::int32_t ClosePrinterHandleVB(std::int32_t handle);
    std::int32_t SetPortsToFile();
    std::int32_t RestorePortsToOriginal();
    std::int32_t GetPrinterDetailVB(std::int32_t* portType, std::int32_t* logicBoardType,
                                    std::int32_t* printerType, std::int32_t* printerModel);
    std::int32_t GetFlashSpaceRemainingVB(std::int32_t* freeFlashBytes);
    std::int32_t WritePrinterVB(std::int32_t handle, const std::uint8_t* data, std::uint32_t byteCount);
    std::int32_t GetPrinterStatusDataVB(std::int32_t handle, std::uint8_t* statusBuffer,
                                        std::int32_t* statusByteCount, std::uint8_t specificRequest,
                                        const std::uint8_t* request, std::uint8_t requestLength);
    std::int32_t GetPrinterVersionVB(float* version);
    std::int32_t CreateEthernetSocketVB(std::int32_t* socket, const char* octet1, const char* octet2,
                                        const char* octet3, const char* octet4, const char* port);
    std::int32_t WriteDataEthernetVB(std::int32_t socket, const std::uint8_t* data, std::int32_t length,
                                     std::int32_t* bytesSent);
    std::int32_t ReadDataEthernetVB(std::int32_t socket, std::uint8_t* buffer, std::int32_t* length);
    std::int32_t CloseEthernetSocketVB(std::int32_t socket);
    std::int32_t isPrinterReadyEthernetVB(std::int32_t socket);
    std::uint8_t CreateSingleInstance();
    std::uint8_t IsAnotherInstanceRunning();
    std::uint8_t ClearInstanceMutex();
    std::int32_t GetOSDataVB(std::int32_t* majorVersion, std::int32_t* minorVersion,
                             std::int32_t* processorArchitecture);

private:
    QFunctionPointer resolve(Export which);
    void reportFailure(const QString& text);

    // Calls the export, or gives back the failure result when it is missing.
    template <typename Result, typename... Args>
    Result call(Export which, Result failure, Args... args) {
        QFunctionPointer function = resolve(which);
        if (function == nullptr) return failure;
        const Result result = reinterpret_cast<Result (*)(Args...)>(function)(args...);
        showLibraryMessages();
        return result;
    }

    QString path_;
    QLibrary library_;
    bool loadAttempted_ = false;
    bool failed_ = false;
    OperatorPrompts* prompts_ = nullptr;
    std::function<void()> failureHandler_;
    std::array<QFunctionPointer, EXPORT_COUNT> functions_{};
    int messageReadEnd_ = -1;
    int messageWriteEnd_ = -1;
    QByteArray partialMessage_;
};

}  // namespace velquin
