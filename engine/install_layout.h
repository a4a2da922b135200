// Where the program finds libmorlix.so: beside itself (the build tree, or a
// copy of the two in a folder of their own), else in the private library
// folder of an installed program.
#pragma once

#include <QString>

namespace velquin {

struct InstallLayout {
    // libmorlix.so beside the program when it is there, else in the
    // installed library folder when that holds it, else beside the program.
    static QString libraryPath(const QString& programFolder);
    // True when the program runs from an installed layout: its library is
    // not beside it but in the installed library folder. Such a program
    // keeps nothing in its own folder, even where that folder is writable.
    static bool isInstalled(const QString& programFolder);
    // The program's own folder under the XDG config folder: "velquin" in
    // `configHome` ($XDG_CONFIG_HOME), or in ~/.config when that is unset or
    // not an absolute path.
    static QString configFolder(const QString& configHome);
};

}  // namespace velquin
