// Running velquin-load as a program in tests, and the files it loads.
#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <cstdint>

#include "../support/loadable_files.h"

namespace velquin::test {

struct LoadRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    QJsonObject json() const { return QJsonDocument::fromJson(out).object(); }
};

// Runs velquin-load; `dataHome`, when given, holds the ledger of this run.
inline LoadRun runLoad(const QStringList& arguments, const QString& dataHome = {}) {
    QProcess process;
    if (!dataHome.isEmpty()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
        process.setProcessEnvironment(environment);
    }
    process.setProgram(QStringLiteral(VELQUIN_LOAD_PATH));
    process.setArguments(arguments);
    process.start();
    EXPECT_TRUE(process.waitForFinished(120'000)) << arguments.join(' ').toStdString();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

// A True Type file whose one table holds bytes that differ from place to
// place (at least 28 bytes long).
inline QString writeFont(const QString& folder, const QString& name, int size, unsigned seed) {
    const QString path = folder + QLatin1Char('/') + name;
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(testing::trueTypeFile(size, seed));
    return path;
}

}  // namespace velquin::test
