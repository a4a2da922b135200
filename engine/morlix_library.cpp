#include "morlix_library.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <cerrno>
#include <cstdio>
#include <type_traits>

#include "install_layout.h"
#include "morlix/morlix.h"
#include "operator_prompts.h"

namespace velquin {

namespace {

#define MORLIX_EXPORT_NAME(name, result, missing, parameters, arguments) #name,
constexpr std::array<const char*, MorlixLibrary::EXPORT_COUNT> EXPORT_NAMES = {
    MORLIX_EXPORT_LIST(MORLIX_EXPORT_NAME)};
#undef MORLIX_EXPORT_NAME

// The binding calls each export through exactly the type morlix.h declares.
#define MORLIX_EXPORT_CHECK(name, result, missing, parameters, arguments)                               \
    static_assert(                                                                                      \
        std::is_same_v<MorlixLibrary::Signature<MorlixLibrary::Export::name>::Type, decltype(&::name)>, \
        "the binding of " #name " differs from its declaration in morlix.h");
MORLIX_EXPORT_LIST(MORLIX_EXPORT_CHECK)
#undef MORLIX_EXPORT_CHECK

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

// ", a, b" for "(a, b)", nothing for "()".
#define MORLIX_EXPORT_ARGUMENTS(...) __VA_OPT__(, ) __VA_ARGS__
#define MORLIX_EXPORT_DEFINITION(name, result, missing, parameters, arguments)        \
    result MorlixLibrary::name parameters {                                           \
        return call<Export::name>(result{missing} MORLIX_EXPORT_ARGUMENTS arguments); \
    }
MORLIX_EXPORT_LIST(MORLIX_EXPORT_DEFINITION)
#undef MORLIX_EXPORT_DEFINITION
#undef MORLIX_EXPORT_ARGUMENTS

}  // namespace velquin
