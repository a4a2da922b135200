// The settings the window keeps between runs, in a temporary XDG config
// folder: remembered dialog folders per mode and the preview panel's state.
#include "program_settings.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "install_layout.h"

namespace velquin {
namespace {

TEST(ProgramSettings, RemembersAcrossInstancesAndFallsBackToHome) {
    const QTemporaryDir config;
    const QTemporaryDir files;
    ASSERT_TRUE(config.isValid() && files.isValid());
    const bool configHomeWasSet = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    const QByteArray savedConfigHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    ASSERT_EQ(ProgramSettings::defaultFile(), config.path() + QStringLiteral("/velquin/velquin.conf"));

    const QString fonts = files.filePath(QStringLiteral("fonts"));
    const QString images = files.filePath(QStringLiteral("images"));
    ASSERT_TRUE(QDir().mkpath(fonts) && QDir().mkpath(images));
    {
        ProgramSettings settings;
        EXPECT_TRUE(settings.previewShown());
        settings.rememberChosenFile(LoaderMode::ModeTTF, fonts + QStringLiteral("/serif.ttf"));
        settings.rememberChosenFile(LoaderMode::ModePCX, images + QStringLiteral("/logo.pcx"));
        settings.setPreviewShown(false);
    }
    ASSERT_TRUE(QDir(images).removeRecursively());

    const ProgramSettings next;
    const std::pair<LoaderMode, QString> folders[] = {
        {LoaderMode::ModeTTF, fonts},
        {LoaderMode::ModePCX, QDir::homePath()},  // the folder is gone
        {LoaderMode::ModeSF, QDir::homePath()},   // never used
    };
    for (const auto& [mode, folder] : folders) EXPECT_EQ(next.dialogFolder(mode), folder) << int(mode);
    EXPECT_FALSE(next.previewShown());
    if (configHomeWasSet)
        qputenv("XDG_CONFIG_HOME", savedConfigHome);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

TEST(ProgramSettings, ConfigFolderFollowsXdgConfigHomeWhenAbsolute) {
    const QString home = QDir::home().filePath(QStringLiteral(".config/velquin"));
    for (const auto& [configHome, folder] :
         {std::pair{QString(), home},
          {QStringLiteral("relative/config"), home},
          {QStringLiteral("/etc/xdg-test"), QStringLiteral("/etc/xdg-test/velquin")}})
        EXPECT_EQ(InstallLayout::configFolder(configHome), folder) << configHome.toStdString();
}

}  // namespace
}  // namespace velquin
