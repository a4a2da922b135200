// The fleet file of `velquin-load apply`: a TOML file people keep by hand,
// naming groups of printers and what every printer of a group must hold.
//
//   [[group]]
//   name = "box-office"
//   printers = ["tcp:10.1.2.3", "local"]   # printers as --printer takes them
//   subnets = ["10.1.2.0/28"]              # ranges to discover
//   port = 10001                           # the port searched in subnets
//   erase_if_changed = false
//
//   [[group.load]]
//   mode = "ttf"                           # ttf, softfont or pcx
//   files = ["fonts/a.ttf", "fonts/b.ttf"]
//
//   [[group.load]]
//   list = "logos.PFL"                     # a list file instead of files
//
// Paths are taken from the fleet file's folder unless absolute.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "app_state.h"
#include "load_options.h"

namespace velquin::load {

struct FleetLoad {
    std::optional<LoaderMode> mode;
    QStringList files;
    QString listFile;
};

struct FleetGroup {
    QString name;
    QList<PrinterAddress> printers;
    QStringList subnets;
    quint16 port = DEFAULT_NETWORK_PORT;
    bool eraseIfChanged = false;
    QList<FleetLoad> loads;
};

struct FleetFile {
    QList<FleetGroup> groups;
    QString error;  // non-empty when the file cannot be used: what and where
};

FleetFile readFleetFile(const QString& path);
// The same from text; paths taken from `folder`.
FleetFile parseFleetText(const QString& text, const QString& folder, const QString& sourceName);

}  // namespace velquin::load
