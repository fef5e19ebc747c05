/* The engine's two threads: a main loop for bus messages and timers, and an
 * event thread that calls the user's handler and carries out stops that the
 * engine decides on itself (errors, limits). */
#include "engine_private.h"

namespace cc {

namespace {

enum EvKind { EV_DELIVER = 1, EV_FINISH = 2, EV_QUIT = 3 };

struct EvItem {
    EvKind kind;
    REuint32 code;
    guint gen;
};

/* Waits for the next item and takes it off the queue. */
EvItem next_event(Engine *e)
{
    EvItem *it = static_cast<EvItem *>(g_async_queue_pop(e->evq));
    EvItem copy = *it;
    g_free(it);
    return copy;
}

gpointer event_thread_main(gpointer data)
{
    Engine *e = static_cast<Engine *>(data);
    for (;;) {
        const EvItem it = next_event(e);
        if (it.kind == EV_QUIT)
            break;
        /* The handler learns of the limit or error only once the file is
         * final, so whatever it does next sees a complete recording.  A
         * recording the caller stopped meanwhile needs no event. */
        if (it.kind == EV_FINISH && record_finish(e, true, it.gen) != CC_OK)
            continue;
        events_deliver(e, it.code, nullptr);
    }
    return nullptr;
}

void post(Engine *e, EvKind kind, REuint32 code, guint gen = 0)
{
    if (!e->evq)
        return;
    EvItem *it = g_new0(EvItem, 1);
    it->kind = kind;
    it->code = code;
    it->gen = gen;
    g_async_queue_push(e->evq, it);
}

} // namespace

bool events_start(Engine *e)
{
    e->ctx = g_main_context_new();
    e->loop = g_main_loop_new(e->ctx, FALSE);
    e->evq = g_async_queue_new();
    e->bus_thread = eng_loop_start(e->loop, "capturecore-bus");
    e->ev_thread = g_thread_try_new("capturecore-events", event_thread_main, e, nullptr);
    if (!e->bus_thread || !e->ev_thread) {
        eng_warn("could not start the engine threads");
        events_stop(e);
        return false;
    }
    return true;
}

void events_stop(Engine *e)
{
    if (e->ev_thread) {
        /* Pending events are dropped: the caller is tearing the engine down. */
        EvItem *it;
        while ((it = static_cast<EvItem *>(g_async_queue_try_pop(e->evq))) != nullptr)
            g_free(it);
        post(e, EV_QUIT, 0);
        g_thread_join(e->ev_thread);
        e->ev_thread = nullptr;
    }
    if (e->bus_thread) {
        eng_loop_quit(e->loop);
        g_thread_join(e->bus_thread);
        e->bus_thread = nullptr;
    }
    if (e->evq) {
        EvItem *it;
        while ((it = static_cast<EvItem *>(g_async_queue_try_pop(e->evq))) != nullptr)
            g_free(it);
        g_async_queue_unref(e->evq);
        e->evq = nullptr;
    }
    if (e->loop) {
        g_main_loop_unref(e->loop);
        e->loop = nullptr;
    }
    if (e->ctx) {
        g_main_context_unref(e->ctx);
        e->ctx = nullptr;
    }
}

void events_deliver(Engine *e, REuint32 code, void *param)
{
    g_mutex_lock(&e->hlock);
    RecorderEngineEventHandler fn = e->handler;
    void *ctx = e->handler_ctx;
    g_mutex_unlock(&e->hlock);
    if (fn)
        fn(ctx, code, param);
}

void events_post(Engine *e, REuint32 code)
{
    post(e, EV_DELIVER, code);
}

void events_post_finish(Engine *e, REuint32 code, guint gen)
{
    post(e, EV_FINISH, code, gen);
}

bool events_on_event_thread(Engine *e)
{
    return e->ev_thread && g_thread_self() == e->ev_thread;
}

GSource *events_add_bus_watch(Engine *e, GstElement *pipeline, GstBusFunc fn, gpointer data,
                              GDestroyNotify notify)
{
    GstBus *bus = gst_element_get_bus(pipeline);
    if (!bus)
        return nullptr;
    GSource *src = gst_bus_create_watch(bus);
    gst_object_unref(bus);
    if (!src)
        return nullptr;
    /* Bus sources call back with the GstBusFunc signature (GLib idiom). */
    g_source_set_callback(src, reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)(void)>(fn)), data, notify);
    g_source_attach(src, e->ctx);
    return src; /* caller owns one reference */
}

GSource *events_add_timer(Engine *e, guint ms, GSourceFunc fn, gpointer data)
{
    GSource *src = g_timeout_source_new(ms);
    g_source_set_callback(src, fn, data, nullptr);
    g_source_attach(src, e->ctx);
    return src;
}

} // namespace cc

namespace cc {

namespace {
struct DestroyJob {
    GSource *src;
    GMutex m;
    GCond c;
    bool done;
};

gboolean destroy_on_bus_thread(gpointer data)
{
    DestroyJob *j = static_cast<DestroyJob *>(data);
    g_source_destroy(j->src);
    g_mutex_lock(&j->m);
    j->done = true;
    g_cond_signal(&j->c);
    g_mutex_unlock(&j->m);
    return G_SOURCE_REMOVE;
}
} // namespace

void events_destroy_source_sync(Engine *e, GSource *src)
{
    if (!src)
        return;
    if (!e->bus_thread || g_thread_self() == e->bus_thread) {
        g_source_destroy(src);
        g_source_unref(src);
        return;
    }
    DestroyJob j;
    j.src = src;
    j.done = false;
    g_mutex_init(&j.m);
    g_cond_init(&j.c);
    GSource *idle = g_idle_source_new();
    g_source_set_priority(idle, G_PRIORITY_HIGH);
    g_source_set_callback(idle, destroy_on_bus_thread, &j, nullptr);
    g_source_attach(idle, e->ctx);
    g_source_unref(idle);
    g_mutex_lock(&j.m);
    while (!j.done)
        g_cond_wait(&j.c, &j.m);
    g_mutex_unlock(&j.m);
    g_mutex_clear(&j.m);
    g_cond_clear(&j.c);
    g_source_unref(src);
}

} // namespace cc
