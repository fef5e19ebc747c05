// Runs test code on the adapter's (engine) thread. The code is handed over
// under a std::mutex and the queued call itself carries nothing, so that
// ThreadSanitizer, which cannot see Qt's own locking, sees the ordering.
#ifndef ENGINE_JOBS_H
#define ENGINE_JOBS_H

#include <QObject>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace enginejobs {

struct Queue {
    std::mutex m;
    std::condition_variable cv;
    std::deque<std::function<void()>> jobs;
    unsigned long long posted = 0, done = 0;
};

inline Queue& q()
{
    static Queue s;
    return s;
}

// Queues f to run on target's thread, after the jobs already queued.
inline unsigned long long post(QObject* target, std::function<void()> f)
{
    // Posted under the lock too: Qt's call object is then made before the
    // engine thread takes the lock, and freed after.
    std::lock_guard<std::mutex> posting(q().m);
    q().jobs.push_back(std::move(f));
    QMetaObject::invokeMethod(target, [] {
        std::function<void()> job;
        {
            std::lock_guard<std::mutex> l(q().m);
            job = std::move(q().jobs.front());
            q().jobs.pop_front();
        }
        job();
        job = nullptr;
        std::lock_guard<std::mutex> l(q().m);
        ++q().done;
        q().cv.notify_all();
    }, Qt::QueuedConnection);
    return ++q().posted;
}

// Runs f on target's thread and waits until it has run.
inline void run(QObject* target, std::function<void()> f)
{
    const unsigned long long n = post(target, std::move(f));
    std::unique_lock<std::mutex> l(q().m);
    q().cv.wait(l, [n] { return q().done >= n; });
}

} // namespace enginejobs

#endif
