#include "engine_thread.h"

#include <pthread.h>

#include <QMetaObject>

namespace velquin {

EngineThread::EngineThread() {
    std::unique_lock lock(mutex_);
    thread_ = std::thread([this] {
        pthread_setname_np(pthread_self(), "velquin-engine");
        QEventLoop loop;
        QObject worker;
        {
            const std::lock_guard started(mutex_);
            loop_ = &loop;
            worker_ = &worker;
        }
        idle_.notify_all();
        loop.exec();
    });
    idle_.wait(lock, [this] { return worker_ != nullptr; });
}

EngineThread::~EngineThread() {
    waitIdle();
    QMetaObject::invokeMethod(
        worker_, [loop = loop_] { loop->quit(); }, Qt::QueuedConnection);
    thread_.join();
}

bool EngineThread::start(std::function<void()> job, QObject* context, std::function<void()> done) {
    {
        const std::lock_guard lock(mutex_);
        if (busy_) return false;
        busy_ = true;
    }
    QMetaObject::invokeMethod(
        worker_,
        [this, job = std::move(job), context = QPointer<QObject>(context), done = std::move(done)] {
            job();
            {
                const std::lock_guard lock(mutex_);
                busy_ = false;
            }
            idle_.notify_all();
            if (context && done) QMetaObject::invokeMethod(context, done, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    return true;
}

void EngineThread::run(std::function<void()> job) {
    if (isCurrent()) {
        job();
        return;
    }
    waitIdle();
    start(std::move(job));
    waitIdle();
}

bool EngineThread::busy() const {
    const std::lock_guard lock(mutex_);
    return busy_;
}

void EngineThread::waitIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return !busy_; });
}

void ThreadHop::post(std::function<void()> call) {
    if (onHome()) {
        call();
        return;
    }
    if (abandoned_) return;
    QMetaObject::invokeMethod(&home_, std::move(call), Qt::QueuedConnection);
}

bool ThreadHop::runAndWait(std::function<void()> call) {
    if (abandoned_) return false;
    auto done = std::make_shared<bool>(false);
    QMetaObject::invokeMethod(
        &home_,
        [shared = shared_, done, call = std::move(call)] {
            {
                const std::lock_guard lock(shared->mutex);
                if (shared->abandoned) return;
            }
            call();
            {
                const std::lock_guard lock(shared->mutex);
                *done = true;
            }
            shared->answered.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(shared_->mutex);
    shared_->answered.wait(lock, [&] { return *done || shared_->abandoned; });
    return *done;
}

void ThreadHop::abandon() {
    abandoned_ = true;
    {
        const std::lock_guard lock(shared_->mutex);
        shared_->abandoned = true;
    }
    shared_->answered.notify_all();
}

}  // namespace velquin
