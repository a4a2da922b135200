// A 3,000 x 2,000 colour PNG to a 1,600-dot-wide PCX with error diffusion:
// velquin-image's path (read, scale, dither, write the file) against
// ImageMagick doing the same resize, Floyd-Steinberg dither and PCX write, in
// one run. Prints the best of N runs of each and the ratio; the goal is a
// ratio of at most 1. ImageMagick's time includes starting its process.
// ./image_bench [runs]
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

#include "image_converter.h"
#include "pcx.h"

using namespace velquin::image;

namespace {

// A photograph-like picture: colour gradients under many soft shapes, so the
// PNG neither compresses to nothing nor decodes as noise.
QImage makeSource() {
    QImage image(3000, 2000, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 3000, 2000);
    gradient.setColorAt(0, QColor(250, 200, 40));
    gradient.setColorAt(0.5, QColor(30, 120, 200));
    gradient.setColorAt(1, QColor(120, 20, 60));
    painter.fillRect(image.rect(), gradient);
    painter.setRenderHint(QPainter::Antialiasing);
    QRandomGenerator random(11);
    for (int i = 0; i < 400; ++i) {
        painter.setBrush(QColor::fromRgb(random.bounded(256), random.bounded(256), random.bounded(256), 120));
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(QPointF(random.bounded(3000), random.bounded(2000)), random.bounded(20, 300),
                            random.bounded(20, 300));
    }
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("photo.png"));
    if (!makeSource().save(png)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(png));
        return 1;
    }

    qint64 oursBest = -1, magickBest = -1;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        ConversionOptions options;
        options.widthDots = 1600;
        options.dither = Dither::Diffusion;
        const ConversionResult result = convertImage(png, options);
        QFile out(dir.filePath(QStringLiteral("ours.pcx")));
        if (!result.ok() || !out.open(QIODevice::WriteOnly) || out.write(writePcx(result.image)) <= 0) {
            std::fprintf(stderr, "conversion failed: %s\n", qPrintable(result.error));
            return 1;
        }
        out.close();
        const qint64 ours = timer.nsecsElapsed();

        timer.restart();
        QProcess magick;
        magick.start(QStringLiteral("convert"),
                     {png, QStringLiteral("-resize"), QStringLiteral("1600x"), QStringLiteral("-colorspace"),
                      QStringLiteral("Gray"), QStringLiteral("-dither"), QStringLiteral("FloydSteinberg"),
                      QStringLiteral("-monochrome"), dir.filePath(QStringLiteral("magick.pcx"))});
        if (!magick.waitForFinished(300'000) || magick.exitCode() != 0) {
            std::fprintf(stderr, "ImageMagick failed: %s\n", magick.readAllStandardError().constData());
            return 1;
        }
        const qint64 theirs = timer.nsecsElapsed();
        oursBest = oursBest < 0 ? ours : std::min(oursBest, ours);
        magickBest = magickBest < 0 ? theirs : std::min(magickBest, theirs);
    }
    std::printf("3000 x 2000 PNG to 1600-dot PCX, error diffusion, best of %d\n", runs);
    std::printf("  velquin:     %8.1f ms\n", oursBest / 1e6);
    std::printf("  ImageMagick: %8.1f ms\n", magickBest / 1e6);
    std::printf("  ratio velquin / ImageMagick: %.2f\n", double(oursBest) / double(magickBest));
    return 0;
}
