/*
 * Helpers shared by the play engine tests: where the generated media are,
 * an event recorder, an owning engine handle, polling waits and a plain X11
 * window for the video overlay.
 */
#ifndef KORIN_ENGINE_TEST_UTIL_H
#define KORIN_ENGINE_TEST_UTIL_H

#include "playengine.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QThread>
#include <QVector>
#include <QWaitCondition>
#include <QtTest>

#include <X11/Xlib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

/* Calls a slot of the table with the table itself as handle. */
#define ENG(e, slot, ...) ((e)->slot((e), ##__VA_ARGS__))

static constexpr gint64 kSecond = 1000000000LL;
static constexpr gint64 kFrame = kSecond / 25; /* every generated clip is 25 fps */

/* The folder make-media.sh wrote: $KORIN_TEST_MEDIA, else the build tree's. */
inline QString mediaDir()
{
    QByteArray env = qgetenv("KORIN_TEST_MEDIA");
    if (!env.isEmpty())
        return QString::fromLocal8Bit(env);
#ifdef KORIN_TEST_MEDIA_DEFAULT
    return QStringLiteral(KORIN_TEST_MEDIA_DEFAULT);
#else
    return QDir::currentPath() + QStringLiteral("/testmedia");
#endif
}

inline QByteArray mediaPath(const char* name)
{
    return QDir(mediaDir()).absoluteFilePath(QString::fromUtf8(name)).toUtf8();
}

/* Fails the calling test when the media set is missing. */
#define REQUIRE_MEDIA(name)                                                                    \
    do {                                                                                       \
        if (!QFileInfo::exists(QString::fromUtf8(mediaPath(name))))                            \
            QFAIL(qPrintable(QStringLiteral("missing test media %1 (run make_test_media)")     \
                                 .arg(QString::fromUtf8(mediaPath(name)))));                   \
    } while (0)

struct RecordedEvent {
    EventType type;
    PlayEngineState st; /* STATE_CHANGE only */
    QByteArray message; /* ERROR only */
    bool messageNull = false;
    Qt::HANDLE thread = nullptr;
    qint64 atMs = 0;
};

/*
 * Collects the events of one engine from whatever thread delivers them.
 * With callBack set, the handler also calls get_state on the engine for every
 * STATE_CHANGE, as a caller's handler may do.
 */
class EventLog {
public:
    EventLog() { clock.start(); }

    static void handler(void* context, EventType event, void* data)
    {
        static_cast<EventLog*>(context)->record(event, data);
    }

    void record(EventType event, void* data)
    {
        RecordedEvent ev;
        ev.type = event;
        ev.thread = QThread::currentThreadId();
        ev.atMs = clock.elapsed();
        if (event == EVENT_ID_STATE_CHANGE && data)
            ev.st = *static_cast<PlayEngineState*>(data);
        if (event == EVENT_ID_ERROR) {
            if (data)
                ev.message = QByteArray(static_cast<const char*>(data));
            else
                ev.messageNull = true;
        }
        if (event == EVENT_ID_STATE_CHANGE && !data)
            badStateData++;
        PlayEngine* e = callBack.load();
        if (e && event == EVENT_ID_STATE_CHANGE) {
            GstState s = GST_STATE_VOID_PENDING;
            if (ENG(e, get_state, &s) == PLAYENGINE_SUCCESS)
                callBacksDone++;
        }
        QMutexLocker lock(&mutex);
        events.append(ev);
        cond.wakeAll();
    }

    QVector<RecordedEvent> snapshot()
    {
        QMutexLocker lock(&mutex);
        return events;
    }

    int count()
    {
        QMutexLocker lock(&mutex);
        return events.size();
    }

    void clear()
    {
        QMutexLocker lock(&mutex);
        events.clear();
    }

    /* Index of the first event of this type at or after from, or -1 on time-out. */
    int waitFor(EventType type, int timeoutMs, int from = 0)
    {
        QElapsedTimer t;
        t.start();
        QMutexLocker lock(&mutex);
        for (;;) {
            for (int i = from; i < events.size(); i++)
                if (events[i].type == type)
                    return i;
            qint64 left = timeoutMs - t.elapsed();
            if (left <= 0)
                return -1;
            cond.wait(&mutex, (unsigned long)left);
        }
    }

    int countOf(EventType type)
    {
        QMutexLocker lock(&mutex);
        int n = 0;
        for (const auto& ev : events)
            if (ev.type == type)
                n++;
        return n;
    }

    std::atomic<PlayEngine*> callBack{nullptr};
    std::atomic<int> callBacksDone{0};
    std::atomic<int> badStateData{0};

private:
    QMutex mutex;
    QWaitCondition cond;
    QVector<RecordedEvent> events;
    QElapsedTimer clock;
};

/* Owns one engine; stops and destroys it the way callers do. */
class Engine {
public:
    explicit Engine(EventLog* log = nullptr)
    {
        e = play_engine_create();
        if (e && log)
            ENG(e, reg_event_handler, log, &EventLog::handler);
    }
    ~Engine() { reset(); }
    void reset()
    {
        if (e) {
            ENG(e, stop_wait_state_change);
            play_engine_destroy(e);
            e = nullptr;
        }
    }
    PlayEngine* get() const { return e; }
    /* Gives the engine up without destroying it (it is stuck). */
    PlayEngine* release()
    {
        PlayEngine* r = e;
        e = nullptr;
        return r;
    }
    PlayEngine* operator->() const { return e; }
    operator PlayEngine*() const { return e; }
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

private:
    PlayEngine* e = nullptr;
};

inline GstState engineState(PlayEngine* e)
{
    GstState s = GST_STATE_VOID_PENDING;
    if (ENG(e, get_state, &s) != PLAYENGINE_SUCCESS)
        return GST_STATE_VOID_PENDING;
    return s;
}

inline gint64 enginePosition(PlayEngine* e)
{
    gint64 pos = -1;
    if (ENG(e, get_position, &pos) != PLAYENGINE_SUCCESS)
        return -1;
    return pos;
}

inline gint64 engineDuration(PlayEngine* e)
{
    gint64 d = -1;
    if (ENG(e, get_duration, &d) != PLAYENGINE_SUCCESS)
        return -1;
    return d;
}

/* Polls cond every 10 ms until it holds or timeoutMs has passed. */
inline bool waitUntil(const std::function<bool()>& cond, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    for (;;) {
        if (cond())
            return true;
        if (t.elapsed() > timeoutMs)
            return false;
        QThread::msleep(10);
    }
}

/* Position once it has moved past minPos (playing), or -1 on time-out. */
inline gint64 waitForPositionAbove(PlayEngine* e, gint64 minPos, int timeoutMs)
{
    gint64 pos = -1;
    bool ok = waitUntil([&] {
        pos = enginePosition(e);
        return pos > minPos;
    }, timeoutMs);
    return ok ? pos : -1;
}

/*
 * Runs fn on a helper thread and waits at most ms for it. On false fn is
 * still running (the engine is deadlocked); the thread is left behind, so fn
 * may only capture what outlives the test (heap objects given up on).
 */
inline bool returnsWithin(int ms, std::function<void()> fn)
{
    struct State {
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
    };
    auto st = std::make_shared<State>();
    std::thread t([st, fn] {
        fn();
        std::lock_guard<std::mutex> l(st->m);
        st->done = true;
        st->cv.notify_all();
    });
    std::unique_lock<std::mutex> l(st->m);
    bool ok = st->cv.wait_for(l, std::chrono::milliseconds(ms), [&] { return st->done; });
    l.unlock();
    if (ok)
        t.join();
    else
        t.detach();
    return ok;
}

inline QString stateName(GstState s)
{
    return QString::fromUtf8(gst_element_state_get_name(s));
}

/* A plain mapped X11 window, as the programs hand their video area's id over. */
class XWindow {
public:
    XWindow(int width = 320, int height = 240)
    {
        // Connections made in quick succession are sometimes refused by the
        // X server here (reset or EAGAIN): try a few times.
        for (int attempt = 0; attempt < 20 && !dpy; attempt++) {
            dpy = XOpenDisplay(nullptr);
            if (!dpy)
                QThread::msleep(50);
        }
        if (!dpy)
            return;
        int screen = DefaultScreen(dpy);
        win = XCreateSimpleWindow(dpy, RootWindow(dpy, screen), 0, 0, width, height, 0,
                                  BlackPixel(dpy, screen), BlackPixel(dpy, screen));
        XMapWindow(dpy, win);
        XSync(dpy, False);
    }
    ~XWindow()
    {
        if (dpy) {
            if (win)
                XDestroyWindow(dpy, win);
            XCloseDisplay(dpy);
        }
    }
    bool ok() const { return dpy && win; }
    guintptr id() const { return (guintptr)win; }
    XWindow(const XWindow&) = delete;
    XWindow& operator=(const XWindow&) = delete;

private:
    Display* dpy = nullptr;
    Window win = 0;
};

/* True when every text field of the record is NUL-terminated within its size. */
inline bool textFieldsTerminated(const korin_metadata& m, QString* which)
{
#define KORIN_CHECK_FIELD(f)                                                                   \
    if (!memchr(m.f, 0, sizeof(m.f))) {                                                        \
        *which = QStringLiteral(#f);                                                           \
        return false;                                                                          \
    }
    KORIN_CHECK_FIELD(container)
    KORIN_CHECK_FIELD(pathname)
    KORIN_CHECK_FIELD(title)
    KORIN_CHECK_FIELD(artist)
    KORIN_CHECK_FIELD(album)
    KORIN_CHECK_FIELD(year)
    KORIN_CHECK_FIELD(genre)
    KORIN_CHECK_FIELD(albumartist)
    KORIN_CHECK_FIELD(composer)
    KORIN_CHECK_FIELD(comment)
    KORIN_CHECK_FIELD(description)
    KORIN_CHECK_FIELD(copyright)
    KORIN_CHECK_FIELD(keywords)
    KORIN_CHECK_FIELD(performer)
    KORIN_CHECK_FIELD(tool)
    KORIN_CHECK_FIELD(location_latitude)
    KORIN_CHECK_FIELD(location_longtitude)
    for (int i = 0; i < KORIN_METADATA_MAX_TRACKS; i++) {
        KORIN_CHECK_FIELD(audio_info[i].codec_type)
        KORIN_CHECK_FIELD(audio_info[i].language)
        KORIN_CHECK_FIELD(video_info[i].codec_type)
        KORIN_CHECK_FIELD(video_info[i].language)
        KORIN_CHECK_FIELD(subtitle_info[i].codec_type)
        KORIN_CHECK_FIELD(subtitle_info[i].language)
    }
#undef KORIN_CHECK_FIELD
    return true;
}

/* get_metadata into a record pre-filled with garbage, so unterminated
 * fields show up. */
inline PlayEngineResult fetchMetadata(PlayEngine* e, korin_metadata* m)
{
    memset(m, 0xAA, sizeof(*m));
    return ENG(e, get_metadata, m);
}

#endif /* KORIN_ENGINE_TEST_UTIL_H */
