// A 3,000 x 2,000 colour PNG to a 1,600-dot-wide 1-bit picture with
// Floyd-Steinberg diffusion, process against process: velquin-image (to a
// 1-bit PCX), netpbm's pipeline (pngtopnm | pnmscale | ppmtopgm |
// pamditherbw | ppmtopcx, a 1-bit PCX) and ImageMagick (to a 1-bit PBM:
// Debian's ImageMagick 6 writes every PCX with 8 bits in 3 planes, whatever
// -type bilevel or -monochrome say). Each output is checked to be 1 bit.
// Prints the best of N runs of each and the ratios; the goal is a ratio of
// at most 1. Then velquin-image's peak memory for the largest result allowed
// (20,000 x 20,000 dots from a 1 x 1 PNG) and for a 20,000-dot SVG; the goal
// is within 512 MiB.
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

struct Run {
    qint64 nanoseconds = -1;
    QString error;
};

Run timed(const QString& program, const QStringList& arguments) {
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(600'000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return {-1, program + QStringLiteral(": ") + QString::fromLocal8Bit(process.readAllStandardError())};
    return {timer.nsecsElapsed(), {}};
}

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool isOneBitPcx(const QString& path) {
    const PcxReadResult read = readPcx(contentOf(path));
    return read.ok() && read.bitsPerPixel == 1 && read.planes == 1;
}

// velquin-image's peak resident memory in KiB for one conversion, by /usr/bin/time.
qint64 peakKib(const QTemporaryDir& dir, const QStringList& arguments) {
    const QString report = dir.filePath(QStringLiteral("peak"));
    const Run run = timed(QStringLiteral("/usr/bin/time"),
                          QStringList{QStringLiteral("-f"), QStringLiteral("%M"), QStringLiteral("-o"),
                                      report, QStringLiteral(VELQUIN_IMAGE_PROGRAM)} +
                              arguments);
    if (!run.error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(run.error));
        return -1;
    }
    return contentOf(report).trimmed().split('\n').last().toLongLong();
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

    const QString ours = dir.filePath(QStringLiteral("ours.pcx"));
    const QString netpbm = dir.filePath(QStringLiteral("netpbm.pcx"));
    const QString magick = dir.filePath(QStringLiteral("magick.pbm"));
    struct Peer {
        const char* name;
        QString program;
        QStringList arguments;
        qint64 best = -1;
    };
    Peer peers[] = {
        {"velquin-image",
         QStringLiteral(VELQUIN_IMAGE_PROGRAM),
         {png, ours, QStringLiteral("--width-dots"), QStringLiteral("1600"), QStringLiteral("--dither"),
          QStringLiteral("diffusion")}},
        {"netpbm",
         QStringLiteral("sh"),
         {QStringLiteral("-c"),
          QStringLiteral("pngtopnm \"$1\" | pnmscale -width 1600 | ppmtopgm | pamditherbw -fs 2>/dev/null | "
                         "ppmtopcx > \"$2\" 2>/dev/null"),
          QStringLiteral("sh"), png, netpbm}},
        {"ImageMagick",
         QStringLiteral("convert"),
         {png, QStringLiteral("-resize"), QStringLiteral("1600x"), QStringLiteral("-colorspace"),
          QStringLiteral("Gray"), QStringLiteral("-dither"), QStringLiteral("FloydSteinberg"),
          QStringLiteral("-monochrome"), magick}},
    };
    for (int run = 0; run < runs; ++run)
        for (Peer& peer : peers) {
            const Run result = timed(peer.program, peer.arguments);
            if (!result.error.isEmpty()) {
                std::fprintf(stderr, "%s failed: %s\n", peer.name, qPrintable(result.error));
                return 1;
            }
            peer.best = peer.best < 0 ? result.nanoseconds : std::min(peer.best, result.nanoseconds);
        }
    QProcess identify;
    identify.start(QStringLiteral("identify"),
                   {QStringLiteral("-format"), QStringLiteral("%z %[type]"), magick});
    identify.waitForFinished(60'000);
    const QByteArray magickKind = identify.readAllStandardOutput().trimmed();
    if (!isOneBitPcx(ours) || !isOneBitPcx(netpbm) || magickKind != "1 Bilevel") {
        std::fprintf(stderr, "an output is not 1 bit (ImageMagick: %s)\n", magickKind.constData());
        return 1;
    }

    std::printf(
        "3000 x 2000 PNG to a 1600-dot 1-bit picture, error diffusion, process to process, best of %d\n",
        runs);
    for (const Peer& peer : peers) std::printf("  %-14s %8.1f ms\n", peer.name, peer.best / 1e6);
    std::printf("  ratio velquin-image / netpbm:      %.2f\n", double(peers[0].best) / double(peers[1].best));
    std::printf("  ratio velquin-image / ImageMagick: %.2f\n", double(peers[0].best) / double(peers[2].best));

    // The largest result allowed, from the smallest file; and a large drawing.
    QImage dot(1, 1, QImage::Format_Grayscale8);
    dot.fill(128);
    const QString tiny = dir.filePath(QStringLiteral("dot.png"));
    const QString svg = dir.filePath(QStringLiteral("logo.svg"));
    QFile drawing(svg);
    if (!dot.save(tiny) || !drawing.open(QIODevice::WriteOnly) ||
        drawing.write("<svg xmlns='http://www.w3.org/2000/svg' width='20000' height='20000'>"
                      "<circle cx='10000' cy='10000' r='9000' fill='none' stroke='black' stroke-width='300'/>"
                      "<text x='2000' y='10000' font-size='2000'>Velquin</text></svg>") <= 0) {
        std::fprintf(stderr, "cannot write the sources\n");
        return 1;
    }
    drawing.close();
    const QString big = dir.filePath(QStringLiteral("big.pcx"));
    const qint64 largest = peakKib(dir, {tiny, big, QStringLiteral("--width-dots"), QStringLiteral("20000"),
                                         QStringLiteral("--height-dots"), QStringLiteral("20000"),
                                         QStringLiteral("--dither"), QStringLiteral("diffusion")});
    const qint64 drawn = peakKib(dir, {svg, big});
    std::printf("velquin-image peak memory (goal: within 512 MiB)\n");
    std::printf("  1 x 1 PNG to 20000 x 20000 dots, diffusion: %6.1f MiB\n", largest / 1024.0);
    std::printf("  20000 x 20000 SVG:                          %6.1f MiB\n", drawn / 1024.0);
    return largest > 0 && drawn > 0 ? 0 : 1;
}
