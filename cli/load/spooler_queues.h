// The spooler's queues that print to a network printer port
// (socket://HOST:PORT), for `discover --spooler`.
#pragma once

#include <QList>
#include <QString>

namespace velquin::load {

struct NetworkQueue {
    QString name;
    QString deviceUri;
    QString printer;  // "tcp:HOST:PORT", as --printer takes it
};

// Every queue of this host whose device URI is socket://HOST[:PORT] (port
// 9100 when the URI gives none); `error` says why the spooler could not be asked.
QList<NetworkQueue> networkQueues(QString& error);

// The printer of a device URI: "tcp:HOST:PORT", or empty when it is not a socket:// URI.
QString printerOfDeviceUri(const QString& uri);

}  // namespace velquin::load
