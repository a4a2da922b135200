// The one thread on which the printer work runs. The library keeps one
// printer record per process, so every call into it comes from here: the
// upload, the flash commands, the status reads and the test tickets run as
// jobs on this thread, one at a time, while the front end's own thread stays
// free to draw and to answer the operator.
#pragma once

#include <QEventLoop>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace velquin {

// What a front end asks of a running job: stop. A wait stops at its next
// poll; when writes are gated too, the next chunk is refused, so a transfer
// ends between two chunks.
class StopRequest {
public:
    void request() { stop_ = true; }
    void clear() { stop_ = false; }
    bool requested() const { return stop_; }

private:
    std::atomic<bool> stop_ = false;
};

class EngineThread {
public:
    EngineThread();
    // Waits for the job under way, then ends the thread.
    ~EngineThread();
    EngineThread(const EngineThread&) = delete;
    EngineThread& operator=(const EngineThread&) = delete;

    // Runs `job` on the engine thread and returns at once; `done` then runs
    // on the thread of `context` (not at all once `context` is gone).
    // Refused (false) while another job runs.
    bool start(std::function<void()> job, QObject* context = nullptr, std::function<void()> done = {});
    // Runs `job` on the engine thread and waits for its end.
    void run(std::function<void()> job);
    bool busy() const;
    // Waits until no job runs.
    void waitIdle();
    // Whether the calling code runs on the engine thread.
    bool isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    mutable std::mutex mutex_;
    std::condition_variable idle_;
    bool busy_ = false;
    // The thread's event loop and the object jobs are queued to; both live
    // on the thread's own stack, and are set once it runs.
    QEventLoop* loop_ = nullptr;
    QObject* worker_ = nullptr;
    // Joined, not detached: once the destructor returns, the thread and the
    // data Qt keeps for it are gone, also when the program ends right after.
    std::thread thread_;
};

// Calls that must run on the thread of `home` (a front end's objects):
// from that thread they run at once; from another they are queued in order,
// and a call with an answer waits for it. Once abandoned (the front end is
// ending), waiting calls return their fallback at once and later ones run
// nowhere.
class ThreadHop {
public:
    explicit ThreadHop(QObject& home) : home_(home) {}

    bool onHome() const { return QThread::currentThread() == home_.thread(); }
    void post(std::function<void()> call);
    template <typename T>
    T ask(std::function<T()> call, T fallback);
    void abandon();
    bool abandoned() const { return abandoned_; }

private:
    // Shared with the queued calls, which may outlive a waiter.
    struct Shared {
        std::mutex mutex;
        std::condition_variable answered;
        bool abandoned = false;
    };
    // Runs `call` on the home thread and waits for it; false when abandoned.
    bool runAndWait(std::function<void()> call);

    QObject& home_;
    std::atomic<bool> abandoned_ = false;
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

template <typename T>
T ThreadHop::ask(std::function<T()> call, T fallback) {
    if (onHome()) return call();
    auto answer = std::make_shared<T>(fallback);
    if (!runAndWait([answer, call = std::move(call)] { *answer = call(); })) return fallback;
    return *answer;
}

}  // namespace velquin
