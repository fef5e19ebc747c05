// A scripted stand-in for the recorder engine table: records every call with
// the thread it came on, and answers with results the test chooses.
#ifndef FAKE_RECORDER_H
#define FAKE_RECORDER_H

#include <QByteArray>
#include <QHash>
#include <mutex>
#include <QStringList>
#include <QThread>
#include <QVector>

#include "recorderengine.h"

namespace fake {

struct Call {
    QString name;
    QThread* thread;
    QByteArray text;   // path or host as the engine received it
    bool nullText;
    unsigned long long value;
};

struct State {
    std::mutex lock;
    QVector<Call> calls;
    QHash<QString, REresult> results;       // default 0
    QVector<RERawVideoSettings> caps;        // answered in order, then endResult
    REresult endResult = RE_NO_MORE_CAPABILITIES;
    bool endless = false;                    // every index answers 0
    int created = 0, deleted = 0;
    void* context = nullptr;
    RecorderEngineEventHandler handler = nullptr;
};

inline State& st()
{
    static State s;
    return s;
}

inline REresult record(const char* name, const char* text = nullptr, bool hasText = false,
                       unsigned long long value = 0)
{
    std::lock_guard<std::mutex> l(st().lock);
    Call c{QString::fromLatin1(name), QThread::currentThread(),
           text ? QByteArray(text) : QByteArray(), hasText && !text, value};
    st().calls.append(c);
    return st().results.value(QString::fromLatin1(name), 0);
}

inline QStringList names()
{
    std::lock_guard<std::mutex> l(st().lock);
    QStringList out;
    for (const Call& c : st().calls)
        out << c.name;
    return out;
}

inline QVector<Call> calls(const QString& name)
{
    std::lock_guard<std::mutex> l(st().lock);
    QVector<Call> out;
    for (const Call& c : st().calls)
        if (c.name == name)
            out << c;
    return out;
}

inline void clear()
{
    std::lock_guard<std::mutex> l(st().lock);
    st().calls.clear();
    st().results.clear();
    st().caps.clear();
    st().endResult = RE_NO_MORE_CAPABILITIES;
    st().endless = false;
}

inline void setCaps(const QVector<RERawVideoSettings>& caps, REresult end = RE_NO_MORE_CAPABILITIES,
                    bool endless = false)
{
    std::lock_guard<std::mutex> l(st().lock);
    st().caps = caps;
    st().endResult = end;
    st().endless = endless;
}

inline int createdCount()
{
    std::lock_guard<std::mutex> l(st().lock);
    return st().created;
}

inline void* context()
{
    std::lock_guard<std::mutex> l(st().lock);
    return st().context;
}

inline QVector<Call> allCalls()
{
    std::lock_guard<std::mutex> l(st().lock);
    return st().calls;
}

inline void setResult(const char* name, REresult r)
{
    std::lock_guard<std::mutex> l(st().lock);
    st().results[QString::fromLatin1(name)] = r;
}

#define FAKE_U32(op) [](RecorderEngineHandle, REuint32 v) -> REresult { return record(#op, nullptr, false, v); }
#define FAKE_PTR(op) [](RecorderEngineHandle, auto*) -> REresult { return record(#op); }
#define FAKE_VOID(op) [](RecorderEngineHandle) -> REresult { return record(#op); }

inline RecorderEngine* create()
{
    RecorderEngine* e = new RecorderEngine();
    e->set_audio_source = FAKE_U32(set_audio_source);
    e->get_audio_supported_sample_rate = [](RecorderEngineHandle, REuint32, REuint32*) -> REresult { return record("get_audio_supported_sample_rate"); };
    e->set_audio_sample_rate = FAKE_U32(set_audio_sample_rate);
    e->get_audio_supported_channel = [](RecorderEngineHandle, REuint32, REuint32*) -> REresult { return record("get_audio_supported_channel"); };
    e->set_audio_channel = FAKE_U32(set_audio_channel);
    e->set_video_source = FAKE_U32(set_video_source);
    e->set_camera_id = FAKE_U32(set_camera_id);
    e->get_camera_capabilities = [](RecorderEngineHandle, REuint32 i, RERawVideoSettings* s) -> REresult {
        const REresult forced = record("get_camera_capabilities", nullptr, false, i);
        std::lock_guard<std::mutex> l(st().lock);
        if (forced != 0)
            return forced;
        if (st().endless) {
            *s = RERawVideoSettings{0, 640, 480, 30};
            return 0;
        }
        if (int(i) < st().caps.size()) {
            *s = st().caps[int(i)];
            return 0;
        }
        return st().endResult;
    };
    e->set_camera_output_settings = FAKE_PTR(set_camera_output_settings);
    e->disable_viewfinder = FAKE_U32(disable_viewfinder);
    e->set_preview_region = FAKE_PTR(set_preview_region);
    e->set_preview_win_id = [](RecorderEngineHandle, void* w) -> REresult { return record("set_preview_win_id", nullptr, false, reinterpret_cast<quintptr>(w)); };
    e->need_preview_buffer = FAKE_U32(need_preview_buffer);
    e->get_preview_buffer_format = FAKE_PTR(get_preview_buffer_format);
    e->add_time_stamp = FAKE_U32(add_time_stamp);
    e->add_video_effect = FAKE_U32(add_video_effect);
    e->add_video_detect = FAKE_U32(add_video_detect);
    e->set_audio_encoder_settings = FAKE_PTR(set_audio_encoder_settings);
    e->set_video_encoder_settings = FAKE_PTR(set_video_encoder_settings);
    e->set_container_format = FAKE_U32(set_container_format);
    e->set_output_file_path = [](RecorderEngineHandle, const REchar* p) -> REresult { return record("set_output_file_path", p, true); };
    e->set_rtp_host = [](RecorderEngineHandle, const REchar* h, REuint32 port) -> REresult { return record("set_rtp_host", h, true, port); };
    e->set_file_count = FAKE_U32(set_file_count);
    e->set_max_file_duration = [](RecorderEngineHandle, REtime d) -> REresult { return record("set_max_file_duration", nullptr, false, d); };
    e->set_max_file_size_bytes = [](RecorderEngineHandle, REuint64 b) -> REresult { return record("set_max_file_size_bytes", nullptr, false, b); };
    e->set_output_file_settings = FAKE_PTR(set_output_file_settings);
    e->set_snapshot_output_format = FAKE_U32(set_snapshot_output_format);
    e->set_snapshot_output_file = [](RecorderEngineHandle, const REchar* p) -> REresult { return record("set_snapshot_output_file", p, true); };
    e->take_snapshot = FAKE_VOID(take_snapshot);
    e->init = FAKE_VOID(init);
    e->register_event_handler = [](RecorderEngineHandle, void* ctx, RecorderEngineEventHandler h) -> REresult {
        { std::lock_guard<std::mutex> l(st().lock); st().context = ctx; st().handler = h; }
        return record("register_event_handler");
    };
    e->prepare = FAKE_VOID(prepare);
    e->start = FAKE_VOID(start);
    e->pause = FAKE_VOID(pause);
    e->resume = FAKE_VOID(resume);
    e->stop = FAKE_VOID(stop);
    e->close = FAKE_VOID(close);
    e->reset = FAKE_VOID(reset);
    e->get_max_amplitude = FAKE_PTR(get_max_amplitude);
    e->get_media_time = [](RecorderEngineHandle, REtime* t) -> REresult { *t = 1234567; return record("get_media_time"); };
    e->delete_it = [](RecorderEngineHandle h) -> REresult {
        record("delete_it");
        { std::lock_guard<std::mutex> l(st().lock); st().deleted++; }
        delete static_cast<RecorderEngine*>(h);
        return 0;
    };
    std::lock_guard<std::mutex> l(st().lock);
    st().created++;
    return e;
}

inline RecorderEngine* createNone() { return nullptr; }

} // namespace fake

#endif
