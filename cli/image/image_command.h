// The command line of velquin-image: its options read into a conversion,
// and the run that writes the PCX.
#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>
#include <optional>

#include "image_converter.h"

namespace velquin::image {

struct ImageCommand {
    enum class Action { Convert, Help, Version, UsageError };
    Action action = Action::UsageError;
    QString input;
    QString output;
    ConversionOptions options;
    int dotsPerInch = 203;
    bool force = false;  // a PCX under a name not ending in .pcx
    QString error;       // for a usage error
};

// Reads the arguments after the program's name.
ImageCommand parseImageCommand(const QStringList& arguments);

QString imageCommandHelp();

// Carries out a parsed command line. Exit status: 0 written, 1 the input could not be converted or the output
// not written, 2 a usage error. Messages go to the streams given.
int runImageCommand(const ImageCommand& command, QTextStream& out, QTextStream& err);

}  // namespace velquin::image
