#include "image_command.h"

#include <QTextStream>

#include "output_file.h"
#include "pcx.h"

namespace velquin::image {

namespace {

constexpr double MILLIMETRES_PER_INCH = 25.4;

ImageCommand usageError(const QString& why) {
    ImageCommand command;
    command.action = ImageCommand::Action::UsageError;
    command.error = why;
    return command;
}

std::optional<double> positiveNumber(const QString& text) {
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !(value > 0) || value > 1e6) return std::nullopt;
    return value;
}

std::optional<int> positiveInteger(const QString& text) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value <= 0) return std::nullopt;
    return value;
}

}  // namespace

QString imageCommandHelp() {
    return QStringLiteral(
        "Usage: velquin-image INPUT OUTPUT.pcx [OPTIONS]\n"
        "Converts an image (PNG, JPEG, BMP, GIF, SVG, TIFF, WebP or a page of a PDF)\n"
        "into a 1-bit PCX file for the printer's flash.\n"
        "\n"
        "Size (the aspect is kept unless both sides are given; default: the image's own size,\n"
        "an SVG whose size is a length at --dpi):\n"
        "  --width-dots N        width in dots\n"
        "  --height-dots N       height in dots\n"
        "  --dpi D               the printer's resolution, dots per inch (203, 300, 600);\n"
        "                        needed with the lengths below, default 203 otherwise\n"
        "  --width-mm X          width in millimetres\n"
        "  --height-mm Y         height in millimetres\n"
        "  --width-in X          width in inches\n"
        "  --height-in Y         height in inches\n"
        "  --page N              the page of a PDF (or picture of a TIFF or GIF); default 1\n"
        "  --trim                cut the white margins before sizing\n"
        "Black and white:\n"
        "  --dither auto         threshold for line art (few tones: logos, text), diffusion\n"
        "                        for photographs (the default)\n"
        "  --dither threshold[:LEVEL]  a dot is black when its grey (0-255) is below LEVEL\n"
        "                              (default 128)\n"
        "  --dither diffusion    error diffusion, Floyd-Steinberg\n"
        "  --dither ordered      ordered dithering, 8 x 8 Bayer\n"
        "  --invert              swap black and white\n"
        "  --rotate 90|180|270   turn clockwise; the sizes are those after turning\n"
        "\n"
        "Output:\n"
        "  OUTPUT.pcx            replaced only once the whole file is written; - writes to\n"
        "                        standard output. A name not ending in .pcx, the input itself\n"
        "                        and anything but a regular file are refused\n"
        "  --force               write PCX data under a name not ending in .pcx\n"
        "\n"
        "  --help                show this text\n"
        "  --version             show the version\n"
        "\n"
        "On success one line tells the size and the black-and-white mode used (on standard\n"
        "error when the PCX goes to standard output); warnings go to standard error.\n"
        "Exit status: 0 written, 1 the input could not be converted or the output not written,\n"
        "2 a usage error.\n");
}

ImageCommand parseImageCommand(const QStringList& arguments) {
    ImageCommand command;
    QStringList positional;
    std::optional<int> widthDots, heightDots, dpi;
    std::optional<double> widthMm, heightMm;
    int widthSources = 0, heightSources = 0;
    bool ditherSeen = false, rotateSeen = false;

    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            command.action = ImageCommand::Action::Help;
            return command;
        }
        if (argument == QLatin1String("--version")) {
            command.action = ImageCommand::Action::Version;
            return command;
        }
        if (argument == QLatin1String("--invert")) {
            command.options.invert = true;
            continue;
        }
        if (argument == QLatin1String("--trim")) {
            command.options.trim = true;
            continue;
        }
        if (argument == QLatin1String("--force")) {
            command.force = true;
            continue;
        }
        if (!argument.startsWith(QLatin1String("--"))) {
            positional << argument;
            continue;
        }
        QString name = argument, value;
        if (const qsizetype equals = argument.indexOf(QLatin1Char('=')); equals > 0) {
            name = argument.left(equals);
            value = argument.mid(equals + 1);
        } else {
            static const QStringList WITH_VALUE = {
                QStringLiteral("--width-dots"), QStringLiteral("--height-dots"), QStringLiteral("--dpi"),
                QStringLiteral("--width-mm"),   QStringLiteral("--height-mm"),   QStringLiteral("--width-in"),
                QStringLiteral("--height-in"),  QStringLiteral("--dither"),      QStringLiteral("--rotate"),
                QStringLiteral("--page")};
            if (!WITH_VALUE.contains(name)) return usageError(QStringLiteral("unknown option %1").arg(name));
            if (i + 1 >= arguments.size()) return usageError(QStringLiteral("%1 needs a value").arg(name));
            value = arguments[++i];
        }

        if (name == QLatin1String("--width-dots") || name == QLatin1String("--height-dots")) {
            const std::optional<int> dots = positiveInteger(value);
            if (!dots)
                return usageError(QStringLiteral("%1 needs a whole number above 0, not %2").arg(name, value));
            (name == QLatin1String("--width-dots") ? widthDots : heightDots) = dots;
            ++(name == QLatin1String("--width-dots") ? widthSources : heightSources);
        } else if (name == QLatin1String("--dpi")) {
            dpi = positiveInteger(value);
            if (!dpi || *dpi > 10000)
                return usageError(
                    QStringLiteral("--dpi needs a resolution in dots per inch, not %1").arg(value));
        } else if (name == QLatin1String("--width-mm") || name == QLatin1String("--width-in") ||
                   name == QLatin1String("--height-mm") || name == QLatin1String("--height-in")) {
            const std::optional<double> length = positiveNumber(value);
            if (!length)
                return usageError(QStringLiteral("%1 needs a length above 0, not %2").arg(name, value));
            const double millimetres =
                name.endsWith(QLatin1String("-in")) ? *length * MILLIMETRES_PER_INCH : *length;
            const bool width = name.startsWith(QLatin1String("--width"));
            (width ? widthMm : heightMm) = millimetres;
            ++(width ? widthSources : heightSources);
        } else if (name == QLatin1String("--dither")) {
            if (ditherSeen) return usageError(QStringLiteral("--dither is given twice"));
            ditherSeen = true;
            if (value == QLatin1String("auto")) {
                command.options.dither = Dither::Auto;
            } else if (value == QLatin1String("diffusion")) {
                command.options.dither = Dither::Diffusion;
            } else if (value == QLatin1String("ordered")) {
                command.options.dither = Dither::Ordered;
            } else if (value == QLatin1String("threshold") || value.startsWith(QLatin1String("threshold:"))) {
                command.options.dither = Dither::Threshold;
                if (value.size() > 9) {
                    bool ok = false;
                    const int level = value.mid(10).toInt(&ok);
                    if (!ok || level < 0 || level > 255)
                        return usageError(
                            QStringLiteral("the threshold level is a number from 0 to 255, not %1")
                                .arg(value.mid(10)));
                    command.options.thresholdLevel = level;
                }
            } else {
                return usageError(
                    QStringLiteral("--dither is auto, threshold[:LEVEL], diffusion or ordered, not %1")
                        .arg(value));
            }
        } else if (name == QLatin1String("--page")) {
            const std::optional<int> page = positiveInteger(value);
            if (!page)
                return usageError(QStringLiteral("--page needs a page number from 1, not %1").arg(value));
            command.options.page = *page;
        } else if (name == QLatin1String("--rotate")) {
            if (rotateSeen) return usageError(QStringLiteral("--rotate is given twice"));
            rotateSeen = true;
            if (value != QLatin1String("90") && value != QLatin1String("180") &&
                value != QLatin1String("270"))
                return usageError(QStringLiteral("--rotate is 90, 180 or 270, not %1").arg(value));
            command.options.rotation = value.toInt();
        } else {
            return usageError(QStringLiteral("unknown option %1").arg(name));
        }
    }

    if (positional.size() != 2) return usageError(QStringLiteral("give one INPUT and one OUTPUT.pcx"));
    if (widthSources > 1 || heightSources > 1)
        return usageError(QStringLiteral("give each side once, in dots or as a length"));
    if ((widthMm || heightMm) && !dpi)
        return usageError(QStringLiteral("a length in millimetres or inches needs --dpi"));
    command.dotsPerInch = dpi.value_or(203);
    command.options.dotsPerInch = command.dotsPerInch;
    command.options.widthDots = widthDots ? *widthDots : widthMm ? dotsFor(*widthMm, command.dotsPerInch) : 0;
    command.options.heightDots = heightDots ? *heightDots
                                 : heightMm ? dotsFor(*heightMm, command.dotsPerInch)
                                            : 0;
    if (command.options.widthDots > command.options.limits.maxSide ||
        command.options.heightDots > command.options.limits.maxSide)
        return usageError(
            QStringLiteral("the result may have at most %1 dots a side").arg(command.options.limits.maxSide));
    command.input = positional[0];
    command.output = positional[1];
    if (!command.force && command.output != QLatin1String(STANDARD_OUTPUT_NAME) &&
        !command.output.endsWith(QLatin1String(".pcx"), Qt::CaseInsensitive))
        return usageError(
            QStringLiteral("%1 does not end in .pcx; give --force to write PCX data under that name")
                .arg(command.output));
    command.action = ImageCommand::Action::Convert;
    return command;
}

int runImageCommand(const ImageCommand& command, QTextStream& out, QTextStream& err) {
    switch (command.action) {
        case ImageCommand::Action::Help:
            out << imageCommandHelp();
            return 0;
        case ImageCommand::Action::Version:
            out << "velquin-image " << VELQUIN_VERSION << '\n';
            return 0;
        case ImageCommand::Action::UsageError:
            err << "velquin-image: " << command.error << "\nTry 'velquin-image --help'.\n";
            return 2;
        case ImageCommand::Action::Convert:
            break;
    }

    if (const QString refusal = outputRefusal(command.output, {command.input}); !refusal.isEmpty()) {
        err << "velquin-image: " << refusal << '\n';
        return 1;
    }
    const ConversionResult result = convertImage(command.input, command.options);
    for (const QString& warning : result.warnings) err << "velquin-image: warning: " << warning << '\n';
    if (!result.ok()) {
        err << "velquin-image: " << command.input << ": " << result.error << '\n';
        return 1;
    }
    if (const QString why =
            writeOutputFile(command.output, writePcx(result.image, command.dotsPerInch), {command.input});
        !why.isEmpty()) {
        err << "velquin-image: " << why << '\n';
        return 1;
    }
    QTextStream& report = command.output == QLatin1String(STANDARD_OUTPUT_NAME) ? err : out;
    report << command.output << ": " << result.image.width() << " x " << result.image.height() << " dots, "
           << ditherName(result.ditherUsed);
    if (command.options.dither == Dither::Auto)
        report << (result.ditherUsed == Dither::Threshold ? " (line art)" : " (photograph)");
    report << '\n';
    return 0;
}

}  // namespace velquin::image
