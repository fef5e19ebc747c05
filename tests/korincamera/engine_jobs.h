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

inline std::mutex m;
inline std::condition_variable cv;
inline std::function<void()> job; // set until it has run

// Runs f on target's thread, after what is queued there, and waits for it.
inline void run(QObject* target, std::function<void()> f)
{
    std::unique_lock<std::mutex> l(m);
    job = std::move(f);
    QMetaObject::invokeMethod(target, [] { // posted under the lock
        std::unique_lock<std::mutex> jl(m);
        job();
        job = nullptr;
        cv.notify_all();
    }, Qt::QueuedConnection);
    cv.wait(l, [] { return !job; });
}

} // namespace enginejobs

#endif
