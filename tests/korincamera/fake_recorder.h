// A scripted stand-in for the recorder engine table: records every call with
// the thread it came on, and answers with results the test chooses.
#ifndef FAKE_RECORDER_H
#define FAKE_RECORDER_H

#include <QHash>
#include <QStringList>
#include <QThread>
#include <QVector>
#include <mutex>
#include <type_traits>

#include "recorderengine.h"

namespace fake {

struct Call {
    QString name;
    QThread* thread;
    QByteArray text;          // path or host as the engine received it; null for none
    unsigned long long value; // the number passed
};

struct State {
    std::mutex lock;
    QVector<Call> calls;
    QHash<QString, REresult> results;  // default 0
    QVector<RERawVideoSettings> caps;  // answered in order, then endResult
    REresult endResult = RE_NO_MORE_CAPABILITIES;
    int created = 0;
    void* context = nullptr;
    RecorderEngineEventHandler handler = nullptr;
};

inline State& st() { static State s; return s; }

// Notes a call's text and number arguments; pointers to other data are not kept.
template <typename... A>
REresult record(const char* name, A... args)
{
    Call c{QString::fromLatin1(name), QThread::currentThread(), QByteArray(), 0};
    [[maybe_unused]] auto note = [&c](auto v) {
        if constexpr (std::is_same<decltype(v), const REchar*>::value)
            c.text = v ? QByteArray(v) : QByteArray();
        else if constexpr (std::is_integral<decltype(v)>::value)
            c.value = v;
    };
    (note(args), ...);
    std::lock_guard<std::mutex> l(st().lock);
    st().calls.append(c);
    return st().results.value(c.name, 0);
}

// The calls made, all or those of one name.
inline QVector<Call> calls(const QString& name = QString())
{
    std::lock_guard<std::mutex> l(st().lock);
    QVector<Call> out;
    for (const Call& c : st().calls)
        if (name.isEmpty() || c.name == name)
            out << c;
    return out;
}

inline QStringList names()
{
    QStringList out;
    for (const Call& c : calls())
        out << c.name;
    return out;
}

inline void setCaps(const QVector<RERawVideoSettings>& caps, REresult end = RE_NO_MORE_CAPABILITIES)
{
    std::lock_guard<std::mutex> l(st().lock);
    st().caps = caps;
    st().endResult = end;
}

inline void setResult(const char* name, REresult r)
{
    std::lock_guard<std::mutex> l(st().lock);
    st().results[QString::fromLatin1(name)] = r;
}

inline void clear()
{
    setCaps({});
    std::lock_guard<std::mutex> l(st().lock);
    st().calls.clear();
    st().results.clear();
}

#define FAKE(op) e->op = [](RecorderEngineHandle, auto... a) -> REresult { return record(#op, a...); };

inline RecorderEngine* create()
{
    RecorderEngine* e = new RecorderEngine();
    FAKE(set_audio_source) FAKE(get_audio_supported_sample_rate) FAKE(set_audio_sample_rate)
    FAKE(get_audio_supported_channel) FAKE(set_audio_channel) FAKE(set_video_source) FAKE(set_camera_id)
    FAKE(set_camera_output_settings) FAKE(disable_viewfinder) FAKE(set_preview_region) FAKE(set_preview_win_id)
    FAKE(need_preview_buffer) FAKE(get_preview_buffer_format) FAKE(add_time_stamp) FAKE(add_video_effect)
    FAKE(add_video_detect) FAKE(set_audio_encoder_settings) FAKE(set_video_encoder_settings)
    FAKE(set_container_format) FAKE(set_output_file_path) FAKE(set_rtp_host) FAKE(set_file_count)
    FAKE(set_max_file_duration) FAKE(set_max_file_size_bytes) FAKE(set_output_file_settings)
    FAKE(set_snapshot_output_format) FAKE(set_snapshot_output_file) FAKE(take_snapshot) FAKE(init)
    FAKE(prepare) FAKE(start) FAKE(pause) FAKE(resume) FAKE(stop) FAKE(close) FAKE(reset) FAKE(get_max_amplitude)
    FAKE(get_media_time)
    e->get_camera_capabilities = [](RecorderEngineHandle, REuint32 i, RERawVideoSettings* s) -> REresult {
        const REresult forced = record("get_camera_capabilities", i);
        std::lock_guard<std::mutex> l(st().lock);
        if (forced == 0 && int(i) < st().caps.size())
            *s = st().caps[int(i)];
        return forced != 0 ? forced : int(i) < st().caps.size() ? 0 : st().endResult;
    };
    e->register_event_handler = [](RecorderEngineHandle, void* ctx, RecorderEngineEventHandler h) -> REresult {
        { std::lock_guard<std::mutex> l(st().lock); st().context = ctx; st().handler = h; }
        return record("register_event_handler");
    };
    e->delete_it = [](RecorderEngineHandle h) -> REresult {
        delete static_cast<RecorderEngine*>(h);
        return record("delete_it");
    };
    std::lock_guard<std::mutex> l(st().lock);
    st().created++;
    return e;
}
#undef FAKE

inline RecorderEngine* createNone() { return nullptr; }

} // namespace fake

#endif
