// The search behind the network address dialog's "Search": velquin-load
// discover over the range the operator typed, run as a process of its own
// (the printer library keeps one printer record per process, and the
// window's own printer must keep its), its findings as rows to pick from.
#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkAddressEntry>
#include <QObject>
#include <QProcess>
#include <QString>
#include <memory>

namespace velquin {

struct FoundPrinter {
    QString address;  // dotted IPv4
    QString port;
    QString caption;  // what the list shows
    bool operator==(const FoundPrinter&) const = default;
};

// The rows of velquin-load discover's JSON report; an error text in
// `error` when it is no report.
QList<FoundPrinter> foundPrinters(const QByteArray& discoverJson, QString& error);

// The range the dialog suggests: the network of the first IPv4 interface that
// is up and not loopback, at most a /24 of it ("10.1.2.0/24"); empty when
// there is none.
QString suggestedSearchRange(const QList<QNetworkAddressEntry>& entries);
QString suggestedSearchRange();

class NetworkSearch : public QObject {
    Q_OBJECT

public:
    explicit NetworkSearch(QObject* parent = nullptr);
    ~NetworkSearch() override;

    // velquin-load beside the program unless set.
    void setProgram(const QString& path) { program_ = path; }
    // Starts a search of `range` on `port`; finished() follows.
    void start(const QString& range, const QString& port);
    bool running() const;

signals:
    // The printers found, or the reason there is no answer.
    void finished(const QList<FoundPrinter>& printers, const QString& error);

private:
    QString program_;
    std::unique_ptr<QProcess> process_;
};

}  // namespace velquin
