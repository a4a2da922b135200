// Hostile bytes through the preview pane's readers, as the window would show
// a file of the list: as a soft font (converted, then its glyph sheet
// drawn), as a True Type font (Qt's font engine) and as a BMP (Qt's image
// readers, whatever format the bytes really are). Beyond what the sanitizers
// catch, a file that cannot be shown gives a reason and no picture.
#include <QByteArray>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "preview.h"

using velquin::LoaderMode;

namespace {

std::unique_ptr<QTemporaryDir> folder;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Kept for the whole run: the fonts and the readers' plugins hang off it.
    static std::unique_ptr<QGuiApplication> application = std::make_unique<QGuiApplication>(*argc, *argv);
    folder = std::make_unique<QTemporaryDir>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Small limits keep each run short; the checks are the same at full size.
    velquin::preview::PreviewLimits limits;
    limits.maxImageSide = 1024;
    limits.maxImageMegabytes = 8;
    limits.maxSheetSide = 1024;
    const QString path = folder->filePath(QStringLiteral("input"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) != qint64(size))
            std::abort();
    }
    for (const LoaderMode mode : {LoaderMode::ModeSF, LoaderMode::ModeTTF, LoaderMode::ModeBMP}) {
        const velquin::preview::Preview preview = velquin::preview::makePreview(mode, path, limits);
        if (!preview.ok() && (!preview.image.isNull() || preview.problem.trimmed().isEmpty())) std::abort();
    }
    return 0;
}
