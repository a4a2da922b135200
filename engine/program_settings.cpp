#include "program_settings.h"

#include <QDir>
#include <QFileInfo>

#include "install_layout.h"

namespace velquin {

namespace {

const QString PREVIEW_SHOWN = QStringLiteral("window/previewShown");

QString folderKey(LoaderMode mode) {
    switch (mode) {
        case LoaderMode::ModeTTF:
            return QStringLiteral("folders/trueType");
        case LoaderMode::ModeSF:
            return QStringLiteral("folders/softFont");
        case LoaderMode::ModePCX:
            return QStringLiteral("folders/pcx");
        case LoaderMode::ModeBMP:
            break;
    }
    return QStringLiteral("folders/bmp");
}

}  // namespace

QString ProgramSettings::defaultFile() {
    return QDir(InstallLayout::configFolder(qEnvironmentVariable("XDG_CONFIG_HOME")))
        .filePath(QStringLiteral("velquin.conf"));
}

ProgramSettings::ProgramSettings(const QString& file) : settings_(file, QSettings::IniFormat) {}

QString ProgramSettings::dialogFolder(LoaderMode mode) const {
    const QString folder = settings_.value(folderKey(mode)).toString();
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) return folder;
    return QDir::homePath();
}

void ProgramSettings::rememberChosenFile(LoaderMode mode, const QString& chosenPath) {
    if (chosenPath.isEmpty()) return;
    const QFileInfo chosen(chosenPath);
    store(folderKey(mode), chosen.isDir() ? chosen.absoluteFilePath() : chosen.absolutePath());
}

bool ProgramSettings::previewShown() const {
    return settings_.value(PREVIEW_SHOWN, true).toBool();
}

void ProgramSettings::setPreviewShown(bool shown) {
    store(PREVIEW_SHOWN, shown);
}

void ProgramSettings::store(const QString& key, const QVariant& value) {
    settings_.setValue(key, value);
    settings_.sync();
}

}  // namespace velquin
