#include "install_layout.h"

#include <QDir>
#include <QFileInfo>

#include "velquin/build_info.h"

namespace velquin {

namespace {

const QString LIBRARY_NAME = QStringLiteral("libmorlix.so");

QString besideProgram(const QString& programFolder) {
    return QDir(programFolder).filePath(LIBRARY_NAME);
}

QString inInstalledFolder(const QString& programFolder) {
    return QDir::cleanPath(
        QDir(programFolder).filePath(QStringLiteral(VELQUIN_LIBRARY_FROM_PROGRAM "/") + LIBRARY_NAME));
}

}  // namespace

QString InstallLayout::libraryPath(const QString& programFolder) {
    return isInstalled(programFolder) ? inInstalledFolder(programFolder) : besideProgram(programFolder);
}

bool InstallLayout::isInstalled(const QString& programFolder) {
    return !QFileInfo::exists(besideProgram(programFolder)) &&
           QFileInfo(inInstalledFolder(programFolder)).isFile();
}

QString InstallLayout::configFolder(const QString& configHome) {
    const QString base = configHome.isEmpty() || QDir::isRelativePath(configHome)
                             ? QDir::home().filePath(QStringLiteral(".config"))
                             : configHome;
    return QDir(base).filePath(QStringLiteral("velquin"));
}

}  // namespace velquin
