#pragma once

#include <QMetaObject>
#include <QObject>

#include <condition_variable>
#include <functional>
#include <mutex>

// The hand-over of runInThreadOf: one call at a time, from the test's thread. In static storage, made
// before any thread starts, so that the other thread reaches it without reading anything the caller wrote.
namespace RunInThread {
inline std::mutex mutex;
inline std::condition_variable ran;
inline const std::function<void()>* pending = nullptr;
} // namespace RunInThread

// Runs call in the thread that context lives in and returns once it has run there. Unlike a blocking
// queued call (which waits on Qt's own semaphore), the hand-over both ways is a std::mutex, which
// ThreadSanitizer sees: what the caller did before is seen by call, and what call did by the caller.
inline void runInThreadOf(QObject* context, const std::function<void()>& call)
{
    std::unique_lock<std::mutex> waiting(RunInThread::mutex);
    RunInThread::pending = &call;
    QMetaObject::invokeMethod(
        context,
        [] {
            // Taken once the caller waits.
            std::lock_guard<std::mutex> running(RunInThread::mutex);
            (*RunInThread::pending)();
            RunInThread::pending = nullptr;
            RunInThread::ran.notify_one();
        },
        Qt::QueuedConnection);
    RunInThread::ran.wait(waiting, [] { return RunInThread::pending == nullptr; });
}
