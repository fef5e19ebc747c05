/* Play engine test helpers: media, an event recorder, an owning handle, waits. */
#ifndef KORIN_ENGINE_TEST_UTIL_H
#define KORIN_ENGINE_TEST_UTIL_H

#include "playengine.h"

#include <QWaitCondition>
#include <QtTest>

#include <functional>

#include "../xwindow.h"

/* Calls a slot of the table with the table itself as handle. */
#define ENG(e, slot, ...) ((e)->slot((e), ##__VA_ARGS__))
#define OK(call) QCOMPARE((call), PLAYENGINE_SUCCESS)

static constexpr gint64 kSecond = 1000000000LL;
static constexpr gint64 kMs = 1000000LL;
static constexpr gint64 kFrame = kSecond / 25; /* every generated clip is 25 fps */

/* A file of the set make_test_media wrote ($KORIN_TEST_MEDIA). */
inline QByteArray mediaPath(const char* name)
{
    QString dir = qEnvironmentVariable("KORIN_TEST_MEDIA", QStringLiteral(KORIN_TEST_MEDIA_DEFAULT));
    return QDir(dir).absoluteFilePath(QString::fromUtf8(name)).toUtf8();
}

inline QElapsedTimer startedTimer()
{
    QElapsedTimer t;
    t.start();
    return t;
}

struct RecordedEvent {
    EventType type;
    PlayEngineState st; /* STATE_CHANGE only */
    QByteArray message; /* ERROR only */
    Qt::HANDLE thread;
};

/* One engine's events. */
class EventLog {
public:
    static void handler(void* context, EventType event, void* data)
    {
        EventLog* self = static_cast<EventLog*>(context);
        RecordedEvent ev{event, {}, QByteArray(), QThread::currentThreadId()};
        if (event == EVENT_ID_STATE_CHANGE && data)
            ev.st = *static_cast<PlayEngineState*>(data);
        if (event == EVENT_ID_ERROR && data)
            ev.message = QByteArray(static_cast<const char*>(data));
        QMutexLocker lock(&self->mutex);
        self->events.append(ev);
        self->cond.wakeAll();
    }
    QVector<RecordedEvent> snapshot()
    {
        QMutexLocker lock(&mutex);
        return events;
    }
    int count() { return snapshot().size(); }
    /* Index of the first event of this type at or after from, or -1 on time-out. */
    int waitFor(EventType type, int timeoutMs, int from = 0)
    {
        QElapsedTimer t = startedTimer();
        QMutexLocker lock(&mutex);
        for (;;) {
            for (int i = from; i < events.size(); i++)
                if (events[i].type == type)
                    return i;
            if (t.elapsed() >= timeoutMs)
                return -1;
            cond.wait(&mutex, (unsigned long)(timeoutMs - t.elapsed()));
        }
    }
    int countOf(EventType type)
    {
        int n = 0;
        for (const auto& ev : snapshot())
            n += ev.type == type;
        return n;
    }
private:
    QMutex mutex;
    QWaitCondition cond;
    QVector<RecordedEvent> events;
};

/* Owns one engine; optional sinks as the thumbnailer sets them. */
class Engine {
public:
    explicit Engine(EventLog* log = nullptr, const char* videoSink = nullptr, bool appsinkText = false)
    {
        e = play_engine_create();
        if (e && log)
            ENG(e, reg_event_handler, log, &EventLog::handler);
        if (e && videoSink)
            ENG(e, set_video_sink, videoSink);
        if (e && appsinkText)
            ENG(e, set_text_sink, "appsink");
    }
    ~Engine()
    {
        if (e) {
            ENG(e, stop_wait_state_change);
            play_engine_destroy(e);
        }
    }
    /* Gives the engine up without destroying it (it is stuck). */
    void release() { e = nullptr; }
    Engine(const Engine&) = delete;
    operator PlayEngine*() const { return e; }
    PlayEngine* operator->() const { return e; }

private:
    PlayEngine* e = nullptr;
};

inline PlayEngineResult setFile(PlayEngine* e, const char* name)
{
    return ENG(e, set_file, mediaPath(name).constData());
}

inline bool load(PlayEngine* e, const char* name)
{
    return setFile(e, name) == PLAYENGINE_SUCCESS && ENG(e, pause) == PLAYENGINE_SUCCESS;
}

template <typename T>
inline T engineGet(PlayEngine* e, PlayEngineResult (*getter)(PlayEngineHandle, T*), T fallback)
{
    T v = fallback;
    return getter(e, &v) == PLAYENGINE_SUCCESS ? v : fallback;
}
inline GstState engineState(PlayEngine* e) { return engineGet(e, e->get_state, GST_STATE_VOID_PENDING); }
inline gint64 enginePosition(PlayEngine* e) { return engineGet<gint64>(e, e->get_position, -1); }
inline gdouble engineRate(PlayEngine* e) { return engineGet(e, e->get_play_rate, 0.0); }
inline gint engineInt(PlayEngine* e, PlayEngineResult (*get)(PlayEngineHandle, gint*)) { return engineGet(e, get, -100); }

/* Polls cond every 10 ms until it holds or timeoutMs has passed. */
inline bool waitUntil(const std::function<bool()>& cond, int timeoutMs)
{
    QElapsedTimer t = startedTimer();
    while (!cond() && t.elapsed() <= timeoutMs)
        QThread::msleep(10);
    return cond();
}

/* Position once it has moved past minPos, or -1 on time-out. */
inline gint64 waitForPositionAbove(PlayEngine* e, gint64 minPos, int timeoutMs)
{
    gint64 pos = -1;
    return waitUntil([&] { return (pos = enginePosition(e)) > minPos; }, timeoutMs) ? pos : -1;
}

inline QString secs(gint64 ns) { return QString::number(ns / 1e9, 'f', 3); }

/* Whether fn returns within ms; if not, fn's thread is left running (deadlock). */
inline bool returnsWithin(int ms, std::function<void()> fn)
{
    QThread* t = QThread::create(fn);
    t->start();
    if (!t->wait(ms))
        return false;
    delete t;
    return true;
}

#endif /* KORIN_ENGINE_TEST_UTIL_H */
