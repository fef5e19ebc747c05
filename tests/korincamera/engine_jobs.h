// Runs test code on the adapter's (engine) thread. The code is handed over
// under a std::mutex and the queued call itself carries nothing, so that
// ThreadSanitizer, which cannot see Qt's own locking, sees the ordering.
#ifndef ENGINE_JOBS_H
#define ENGINE_JOBS_H

#include <QObject>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace enginejobs {

struct Queue {
    std::mutex m;
    std::condition_variable cv;
    std::function<void()> job;
    bool done = false;
};

inline Queue& q()
{
    static Queue s;
    return s;
}

// Runs f on target's thread, after what is queued there, and waits for it.
inline void run(QObject* target, std::function<void()> f)
{
    std::unique_lock<std::mutex> l(q().m);
    q().job = std::move(f);
    q().done = false;
    // Posted under the lock: Qt's call object is made before the engine
    // thread takes the lock.
    QMetaObject::invokeMethod(target, [] {
        std::unique_lock<std::mutex> jl(q().m);
        std::function<void()> job = std::move(q().job);
        jl.unlock();
        job();
        job = nullptr;
        jl.lock();
        q().done = true;
        q().cv.notify_all();
    }, Qt::QueuedConnection);
    q().cv.wait(l, [] { return q().done; });
}

} // namespace enginejobs

#endif
