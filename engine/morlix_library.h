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

// The list names the C integer types.
#include <stdint.h>

#include "morlix/export_list.h"

namespace velquin {

class OperatorPrompts;

class MorlixLibrary {
public:
    enum class Export : int {
#define MORLIX_EXPORT_ENUM(name, result, missing, parameters, arguments) name,
        MORLIX_EXPORT_LIST(MORLIX_EXPORT_ENUM)
#undef MORLIX_EXPORT_ENUM
    };
#define MORLIX_EXPORT_COUNT(name, result, missing, parameters, arguments) +1
    static constexpr int EXPORT_COUNT = 0 MORLIX_EXPORT_LIST(MORLIX_EXPORT_COUNT);
#undef MORLIX_EXPORT_COUNT
    // The function type of each export.
    template <Export which>
    struct Signature;
    static const char* exportName(Export which);

    // libmorlix.so beside the program, or in its installed library folder.
    static QString defaultPath();

    explicit MorlixLibrary(QString path = defaultPath());
    ~MorlixLibrary();
    MorlixLibrary(const MorlixLibrary&) = delete;
    MorlixLibrary& operator=(const MorlixLibrary&) = delete;

    // Where a missing library or export is reported.
    void setPrompts(OperatorPrompts* prompts) {
        prompts_ = prompts;
    }
    // Called once, after the first failure has been reported.
    void setFailureHandler(std::function<void()> handler) {
        failureHandler_ = std::move(handler);
    }

    // True once the library or an export could not be found.
    bool failed() const {
        return failed_;
    }
    const QString& path() const {
        return path_;
    }
    // Resolves an export now (reporting a failure as a call would); lets a
    // caller bind on this thread before calling from a worker thread.
    bool bind(Export which);
    // The export's address (resolving it now), or null when it is missing.
    QFunctionPointer function(Export which) {
        return resolve(which);
    }
    // Shows the messages the library has written since the last call.
    void showLibraryMessages();

    // The export, resolved now and typed; null when it is missing.
    template <Export which>
    typename Signature<which>::Type typedFunction() {
        return reinterpret_cast<typename Signature<which>::Type>(resolve(which));
    }

    // One member per export, calling it (see the class comment).
#define MORLIX_EXPORT_MEMBER(name, result, missing, parameters, arguments) result name parameters;
    MORLIX_EXPORT_LIST(MORLIX_EXPORT_MEMBER)
#undef MORLIX_EXPORT_MEMBER

private:
    QFunctionPointer resolve(Export which);
    void reportFailure(const QString& text);

    // Calls the export, or gives back `missing` when it cannot be found.
    template <Export which, typename Result, typename... Args>
    Result call(Result missing, Args... args) {
        const auto function = typedFunction<which>();
        if (function == nullptr) return missing;
        const Result result = function(args...);
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

#define MORLIX_EXPORT_SIGNATURE(name, result, missing, parameters, arguments) \
    template <>                                                               \
    struct MorlixLibrary::Signature<MorlixLibrary::Export::name> {            \
        using Type = result(*) parameters;                                    \
    };
MORLIX_EXPORT_LIST(MORLIX_EXPORT_SIGNATURE)
#undef MORLIX_EXPORT_SIGNATURE

}  // namespace velquin
