// Makes previews on a worker thread, one at a time, and delivers only the
// preview of the newest request: a selection the operator has already left
// is never shown, and skimming down a long list starts no pile of work.
#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QThreadPool>
#include <optional>

#include "preview.h"

namespace velquin::preview {

class PreviewLoader : public QObject {
    Q_OBJECT
public:
    explicit PreviewLoader(QObject* parent = nullptr);
    ~PreviewLoader() override;

    void setLimits(const PreviewLimits& limits) { limits_ = limits; }

    // Asks for the preview of `path` in `mode`; any earlier request is dropped.
    void request(LoaderMode mode, const QString& path);
    // Drops every request: nothing is delivered until the next one.
    void cancel();
    // A preview is being made.
    bool busy() const { return running_; }

signals:
    void previewReady(const velquin::preview::Preview& preview);

private:
    struct Request {
        LoaderMode mode;
        QString path;
        quint64 serial;
    };
    void start(const Request& request);
    void finished();

    PreviewLimits limits_;
    quint64 newest_ = 0;
    quint64 runningSerial_ = 0;
    bool running_ = false;
    std::optional<Request> waiting_;
    QFutureWatcher<Preview> watcher_;
    QThreadPool pool_;
};

}  // namespace velquin::preview
