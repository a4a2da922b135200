#include "preview_loader.h"

#include <QtConcurrent/QtConcurrentRun>

namespace velquin::preview {

PreviewLoader::PreviewLoader(QObject* parent) : QObject(parent) {
    pool_.setMaxThreadCount(1);
    connect(&watcher_, &QFutureWatcher<Preview>::finished, this, &PreviewLoader::finished);
}

PreviewLoader::~PreviewLoader() {
    watcher_.disconnect(this);
    pool_.waitForDone();
}

void PreviewLoader::request(LoaderMode mode, const QString& path) {
    const Request next{mode, path, ++newest_};
    // The one running finishes (a font's rendering cannot be interrupted);
    // this request waits for it, replacing any request that waited before.
    if (running_)
        waiting_ = next;
    else
        start(next);
}

void PreviewLoader::cancel() {
    ++newest_;
    waiting_.reset();
}

void PreviewLoader::start(const Request& request) {
    running_ = true;
    runningSerial_ = request.serial;
    const PreviewLimits limits = limits_;
    watcher_.setFuture(QtConcurrent::run(
        &pool_, [request, limits] { return makePreview(request.mode, request.path, limits); }));
}

void PreviewLoader::finished() {
    running_ = false;
    if (runningSerial_ == newest_) {
        emit previewReady(watcher_.future().result());
        return;
    }
    if (waiting_) {
        const Request next = *waiting_;
        waiting_.reset();
        start(next);
    }
}

}  // namespace velquin::preview
