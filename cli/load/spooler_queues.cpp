#include "spooler_queues.h"

#include <QUrl>

#include "platform/spooler.h"

namespace velquin::load {

namespace {

// The port a socket:// URI means when it names none.
constexpr int SOCKET_URI_DEFAULT_PORT = 9100;

}  // namespace

QString printerOfDeviceUri(const QString& uri) {
    const QUrl url(uri, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("socket") || url.host().isEmpty()) return {};
    return QStringLiteral("tcp:%1:%2").arg(url.host()).arg(url.port(SOCKET_URI_DEFAULT_PORT));
}

QList<NetworkQueue> networkQueues(QString& error) {
    std::string reason;
    bool absent = false;
    const auto queues = morlix::platform::hostSpooler().localQueues(reason, absent);
    if (!queues) {
        error = QString::fromStdString(reason);
        return {};
    }
    QList<NetworkQueue> result;
    for (const morlix::platform::SpoolerQueue& queue : *queues) {
        const QString uri = QString::fromStdString(queue.deviceUri);
        const QString printer = printerOfDeviceUri(uri);
        if (!printer.isEmpty()) result.append({QString::fromStdString(queue.name), uri, printer});
    }
    return result;
}

}  // namespace velquin::load
