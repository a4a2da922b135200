#include "network_search.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>

namespace velquin {

namespace {

// A search suggested to the operator covers at most this many bits of hosts.
constexpr int SMALLEST_SUGGESTED_PREFIX = 24;

}  // namespace

QList<FoundPrinter> foundPrinters(const QByteArray& discoverJson, QString& error) {
    const QJsonDocument document = QJsonDocument::fromJson(discoverJson);
    if (!document.isObject()) {
        error = QStringLiteral("The search gave no answer");
        return {};
    }
    QList<FoundPrinter> rows;
    for (const QJsonValue& printer : document[QStringLiteral("printers")].toArray()) {
        const QJsonObject identity = printer[QStringLiteral("identity")].toObject();
        QString verdict = identity[QStringLiteral("suitable")].toBool() ? QStringLiteral("suitable")
                                                                        : QStringLiteral("not suitable");
        const QJsonValue flash = printer[QStringLiteral("free_flash")];
        rows.append({printer[QStringLiteral("address")].toString(),
                     QString::number(printer[QStringLiteral("port")].toInt()),
                     QStringLiteral("%1:%2  %3  %4  firmware %5  %6%7")
                         .arg(printer[QStringLiteral("address")].toString())
                         .arg(printer[QStringLiteral("port")].toInt())
                         .arg(identity[QStringLiteral("printer_model")].toString(),
                              identity[QStringLiteral("logic_board")].toString(),
                              identity[QStringLiteral("firmware_version")].toString(), verdict,
                              flash.isDouble() ? QStringLiteral("  %1 bytes free").arg(flash.toInteger())
                                               : QString())});
    }
    return rows;
}

QString suggestedSearchRange(const QList<QNetworkAddressEntry>& entries) {
    for (const QNetworkAddressEntry& entry : entries) {
        const QHostAddress address = entry.ip();
        if (address.protocol() != QAbstractSocket::IPv4Protocol || address.isLoopback()) continue;
        const int prefix = std::max(entry.prefixLength(), SMALLEST_SUGGESTED_PREFIX);
        const quint32 mask = prefix >= 32 ? ~quint32{0} : ~quint32{0} << (32 - prefix);
        return QStringLiteral("%1/%2")
            .arg(QHostAddress(address.toIPv4Address() & mask).toString())
            .arg(prefix);
    }
    return {};
}

QString suggestedSearchRange() {
    QList<QNetworkAddressEntry> entries;
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces())
        if (interface.flags().testFlag(QNetworkInterface::IsUp) &&
            !interface.flags().testFlag(QNetworkInterface::IsLoopBack))
            entries << interface.addressEntries();
    return suggestedSearchRange(entries);
}

NetworkSearch::NetworkSearch(QObject* parent)
    : QObject(parent), program_(QCoreApplication::applicationDirPath() + QStringLiteral("/velquin-load")) {}

NetworkSearch::~NetworkSearch() {
    if (process_ && process_->state() != QProcess::NotRunning) {
        process_->disconnect();
        process_->kill();
        process_->waitForFinished(1000);
    }
}

bool NetworkSearch::running() const {
    return process_ && process_->state() != QProcess::NotRunning;
}

void NetworkSearch::start(const QString& range, const QString& port) {
    if (running()) return;
    process_ = std::make_unique<QProcess>();
    QProcess* process = process_.get();
    connect(process, &QProcess::finished, this, [this, process] {
        const QByteArray out = process->readAllStandardOutput();
        QString error;
        QList<FoundPrinter> rows;
        if (process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0) {
            rows = foundPrinters(out, error);
        } else {
            // velquin-load says what was wrong with the range on its first line.
            error = QString::fromLocal8Bit(process->readAllStandardError()).section(QLatin1Char('\n'), 0, 0);
            error.remove(QStringLiteral("velquin-load: "));
            if (error.isEmpty()) error = QStringLiteral("The search failed");
        }
        emit finished(rows, error);
    });
    connect(process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError failure) {
        if (failure == QProcess::FailedToStart)
            emit finished({}, QStringLiteral("Cannot run %1").arg(program_));
    });
    process->start(program_, {QStringLiteral("discover"), QStringLiteral("--subnet"), range,
                              QStringLiteral("--port"), port, QStringLiteral("--json")});
}

}  // namespace velquin
