#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>

// The calls into another object's thread; docs/architecture.md says which thread holds which object.
// A call is a functor, checked by the compiler: a method named by a string fails only at run time.
// Only a device's command engine still re-posts its own slots by name (its thread guard and its one
// delayed command), as the engine's re-entry rule.

// Runs function later in receiver's thread, from that thread's event loop: never at once, and not at
// all once receiver is gone. False when it could not be queued.
template <typename Function> bool queueCall(QObject* receiver, Function&& function)
{
    return QMetaObject::invokeMethod(receiver, std::forward<Function>(function), Qt::QueuedConnection);
}

// Runs function at once in receiver's own thread, and queued from any other.
template <typename Function> void callInThreadOf(QObject* receiver, Function&& function)
{
    if (receiver->thread() == QThread::currentThread()) {
        function();
    } else {
        queueCall(receiver, std::forward<Function>(function));
    }
}

// Runs function in receiver's thread and waits for its end, at most timeoutMs (or for ever when
// negative). A call that has not started by then is abandoned and never runs, so function may use the
// caller's locals; one that has started is waited for. Returns whether it ran. The hand-over is a
// std::mutex both ways, which thread sanitizers see: what the caller did before is seen by function,
// and what function did by the caller afterwards.
template <typename Function> bool waitForCall(QObject* receiver, Function&& function, int timeoutMs = -1)
{
    if (receiver->thread() == QThread::currentThread()) {
        function();
        return true;
    }
    enum class Phase
    {
        Pending,
        Running,
        Finished,
        Abandoned
    };
    struct Call
    {
        std::mutex mutex;
        std::condition_variable finished;
        Phase phase = Phase::Pending;
    };
    auto call = std::make_shared<Call>();
    const bool queued = queueCall(receiver, [call, function = std::forward<Function>(function)]() mutable {
        {
            std::lock_guard<std::mutex> lock(call->mutex);
            if (call->phase != Phase::Pending) {
                return;
            }
            call->phase = Phase::Running;
        }
        function();
        std::lock_guard<std::mutex> lock(call->mutex);
        call->phase = Phase::Finished;
        call->finished.notify_one();
    });
    if (!queued) {
        return false;
    }
    std::unique_lock<std::mutex> lock(call->mutex);
    const auto ended = [&call] { return call->phase == Phase::Finished; };
    if (timeoutMs >= 0 && !call->finished.wait_for(lock, std::chrono::milliseconds(timeoutMs), ended) &&
        call->phase == Phase::Pending) {
        call->phase = Phase::Abandoned;
        return false;
    }
    call->finished.wait(lock, ended);
    return true;
}
