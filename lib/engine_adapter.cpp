#include "engine_adapter.h"

#include <QDebug>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

#include "storagefault.h"

RecorderEngine* EngineAdapter::m_recorder = nullptr;
std::atomic<EngineState> EngineAdapter::m_engineState{PREVIREW};
std::atomic<WorkMode> EngineAdapter::m_workMode{PHOTO_MODE};

namespace {
EngineAdapter::EngineFactory s_factory = recorder_engine_create;
// Longest capability list taken from an engine; guards against an engine
// that never ends its list.
const REuint32 kMaxCapabilities = 256;
}

REresult event_handler(void* context, REuint32 event, void* param)
{
    Q_UNUSED(param);
    EngineAdapter* adapter = static_cast<EngineAdapter*>(context);
    switch (event) {
    case RE_EVENT_ERROR:
        qDebug("error, post stop message.\n");
        break;
    case RE_EVENT_PREVIEW_BUFFER:
        qDebug("received preview buffer.\n");
        return 0;
    case RE_EVENT_MAX_DURATION:
    case RE_EVENT_MAX_FILESIZE:
        qDebug("reach max duration, post stop message.\n");
        break;
    default:
        return 0;
    }
    // The engine must not be re-entered from its own callback: the stop runs
    // on the engine thread, in order with the other requests.
    if (adapter)
        QMetaObject::invokeMethod(adapter, "handleEngineEvent", Qt::QueuedConnection,
                                  Q_ARG(uint, event));
    return 0;
}

EngineAdapter::EngineAdapter(QObject* parent)
    : QObject(parent), m_options()
{
}

EngineAdapter::~EngineAdapter()
{
    std::lock_guard<std::mutex> lock(m_optionsMutex);
    m_options.capabilities.clear();
}

void EngineAdapter::setEngineFactory(EngineFactory factory)
{
    s_factory = factory ? factory : recorder_engine_create;
}

QVector<CameraCapabilities> EngineAdapter::getCapabilities()
{
    std::lock_guard<std::mutex> lock(m_optionsMutex);
    return m_options.capabilities;
}

void EngineAdapter::changeState(EngineState state)
{
    m_engineState.store(state);
    emit engineStateChanged(state);
}

bool EngineAdapter::reportResult(REresult r, const char* warning, const char* error)
{
    if (r == 0)
        return true;
    qWarning("%s", warning);
    emit errorOccur(QString::fromUtf8(error), 0);
    return false;
}

QString EngineAdapter::outputFailure(const char* otherwise)
{
    const QString folder = QFileInfo(QString::fromUtf8(m_options.path)).path();
    const QString reason = storageProblem(folder);
    if (reason.isEmpty() && otherwise)
        return QString::fromUtf8(otherwise);
    return cannotSaveText(folder, reason.isEmpty() ? storageReason(EIO) : reason);
}

void EngineAdapter::handleEngineEvent(uint event)
{
    const EngineState st = m_engineState.load();
    const bool recording = m_recording && (st == RUNNING || st == PAUSE);
    // The error goes first: the window then still knows the recording it
    // belongs to (a disk that filled is told with the storage box).
    if (event == RE_EVENT_ERROR)
        emit errorOccur(recording ? outputFailure("record engine meet unknown error")
                                  : QStringLiteral("record engine meet unknown error"), 0);
    if (!recording)
        return;
    stopVideoRecording();
    if (event != RE_EVENT_ERROR)
        emit limitReached(int(event));
}

// ---- lifecycle ----

void EngineAdapter::engine_create(bool force)
{
    if (m_recorder) {
        if (!force)
            return;
        engine_destroy();
    }
    m_recorder = s_factory();
    if (!m_recorder) {
        emit errorOccur(QStringLiteral("RecorderEngineCreate fail"), 0);
        return;
    }
    qDebug("RecorderEngineCreate success");
}

void EngineAdapter::engine_init()
{
    if (!m_recorder)
        return;
    m_recorder->init(m_recorder);
    m_recorder->register_event_handler(m_recorder, this, event_handler);
}

void EngineAdapter::engine_prepare(bool updateCaps)
{
    if (!m_recorder)
        return;
    if (m_recorder->prepare(m_recorder) != 0) {
        engineStartUpSuccess = false;
        qWarning("engine prepare failed.");
        emit errorOccur(QStringLiteral("engine prepare failed."), 0);
        return;
    }
    engineStartUpSuccess = true;
    if (updateCaps)
        get_camera_capebilities();
}

void EngineAdapter::reset()
{
    if (!m_recorder)
        return;
    if (m_recorder->reset(m_recorder) != 0) {
        engineStartUpSuccess = false;
        qWarning("engine reset failed");
        emit errorOccur(QStringLiteral("engine reset failed"), 3);
        return;
    }
    engineStartUpSuccess = true;
}

void EngineAdapter::get_camera_capebilities()
{
    {
        std::lock_guard<std::mutex> lock(m_optionsMutex);
        m_options.capabilities.clear();
    }
    if (!engineStartUpSuccess || !m_recorder)
        return;
    QVector<CameraCapabilities> caps;
    for (REuint32 i = 0; i < kMaxCapabilities; ++i) {
        RERawVideoSettings s;
        memset(&s, 0, sizeof s);
        const REresult r = m_recorder->get_camera_capabilities(m_recorder, i, &s);
        if (r != 0) {
            if (r != RE_NO_MORE_CAPABILITIES)
                qWarning() << "capability query ended with result" << r;
            break;
        }
        caps.append(CameraCapabilities{int(s.width), int(s.height), int(s.framesPerSecond)});
        qDebug() << "width: " << s.width << " height: " << s.height << " frames: " << s.framesPerSecond;
    }
    {
        std::lock_guard<std::mutex> lock(m_optionsMutex);
        m_options.capabilities = caps;
    }
    updateCapabilityComplete.store(true);
    emit updateCapability();
}

void EngineAdapter::engine_close()
{
    if (!m_recorder)
        return;
    reportResult(m_recorder->close(m_recorder), "engine close failed.", "engine close failed.");
}

void EngineAdapter::engine_destroy()
{
    changeState(RUNNING);
    if (m_recorder) {
        m_recorder->close(m_recorder);
        m_recorder->delete_it(m_recorder);
        m_recorder = nullptr;
    }
    m_recording = false;
    m_pathAccepted = false; // a new engine has no path until one is set
    changeState(PREVIREW);
    emit engineWorkDone(0, 0);
}

// ---- setters ----

#define KORIN_STORE(field, value)               \
    do {                                        \
        std::lock_guard<std::mutex> lock_(m_optionsMutex);    \
        m_options.field = (value);              \
    } while (0)

void EngineAdapter::set_audio_source(REuint32 source)
{
    KORIN_STORE(audio_source, source);
    if (m_recorder)
        reportResult(m_recorder->set_audio_source(m_recorder, source),
                     "set audio souce failed.", "set audio souce failed.");
}

void EngineAdapter::set_audio_sample_rate(REuint32 rate)
{
    KORIN_STORE(sample_rate, rate);
    if (m_recorder)
        reportResult(m_recorder->set_audio_sample_rate(m_recorder, rate),
                     "set audio sample rate failed.", "set audio sample rate failed.");
}

void EngineAdapter::set_audio_channel(REuint32 channel)
{
    KORIN_STORE(channel, channel);
    if (m_recorder)
        reportResult(m_recorder->set_audio_channel(m_recorder, channel),
                     "set audio channel failed.", "set audio channel failed.");
}

void EngineAdapter::set_video_source(REuint32 source)
{
    KORIN_STORE(video_source, source);
    if (m_recorder)
        reportResult(m_recorder->set_video_source(m_recorder, source),
                     "set video source failed.", "set video source failed.");
}

void EngineAdapter::set_camera_id(REuint32 id)
{
    KORIN_STORE(camera_id, id);
    if (m_recorder)
        reportResult(m_recorder->set_camera_id(m_recorder, id),
                     "set camera id failed.", "set camera id failed");
}

void EngineAdapter::set_camera_output_settings(RERawVideoSettings settings)
{
    KORIN_STORE(video_settings, settings);
    if (m_recorder)
        reportResult(m_recorder->set_camera_output_settings(m_recorder, &m_options.video_settings),
                     "set camera output settings failed.", "set camera output settings failed.");
}

void EngineAdapter::set_preview_region(REVideoRect rect)
{
    KORIN_STORE(video_rect, rect);
    if (m_recorder)
        reportResult(m_recorder->set_preview_region(m_recorder, &m_options.video_rect),
                     "set preview region failed.", "set preview region failed");
}

void EngineAdapter::set_preview_win_id(WId id)
{
    if (!m_recorder || id == 0)
        return;
    reportResult(m_recorder->set_preview_win_id(m_recorder, reinterpret_cast<void*>(id)),
                 "engine set preview win id failed", "set preview win id failed");
}

void EngineAdapter::need_preview_buffer(REuint32 need)
{
    KORIN_STORE(preview_buffer, need);
    if (m_recorder)
        reportResult(m_recorder->need_preview_buffer(m_recorder, need),
                     "set preview buffer failed.", "set preview buffer failed.");
}

void EngineAdapter::set_audio_encoder_settings(REAudioEncoderSettings settings)
{
    KORIN_STORE(audio_encoder_setting, settings);
    if (m_recorder)
        reportResult(m_recorder->set_audio_encoder_settings(m_recorder, &m_options.audio_encoder_setting),
                     "set audio encoder settings failed.", "set audio encoder settings failed.");
}

void EngineAdapter::set_video_encoder_settings(REVideoEncoderSettings settings)
{
    KORIN_STORE(video_encoder_setting, settings);
    if (m_recorder)
        reportResult(m_recorder->set_video_encoder_settings(m_recorder, &m_options.video_encoder_setting),
                     "set video encoder settings failed.", "set video encoder settings failed.");
}

void EngineAdapter::set_container_format(REuint32 format)
{
    KORIN_STORE(container_format, format);
    if (m_recorder)
        reportResult(m_recorder->set_container_format(m_recorder, format),
                     "set container format failed.", "set container format failed.");
}

void EngineAdapter::set_output_file_path(QString path)
{
    const QByteArray utf8 = path.toUtf8();
    if (utf8.isEmpty() || utf8.size() >= int(sizeof m_options.path)) {
        // The engine keeps its previous path: no capture may write there.
        m_pathAccepted = false;
        qWarning("engine set output file path failed");
        emit errorOccur(QStringLiteral("set output file path failed: the path is empty or too long"), 0);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_optionsMutex);
        memcpy(m_options.path, utf8.constData(), size_t(utf8.size()));
        m_options.path[utf8.size()] = '\0';
    }
    if (!m_recorder) {
        m_pathAccepted = false;
        return;
    }
    m_pathAccepted = reportResult(m_recorder->set_output_file_path(m_recorder, utf8.constData()),
                                  "engine set output file path failed", "set output file path failed");
}

void EngineAdapter::set_file_count(REuint32 count)
{
    qDebug() << "set file count: " << count;
    KORIN_STORE(file_count, count);
    if (m_recorder)
        reportResult(m_recorder->set_file_count(m_recorder, count),
                     "engine set file count failed", "set file count failed");
}

void EngineAdapter::set_output_file_settings(REOutputFileSettings settings)
{
    KORIN_STORE(out_file_settings, settings);
    if (m_recorder)
        reportResult(m_recorder->set_output_file_settings(m_recorder, &m_options.out_file_settings),
                     "engine set output file settings failed", "set output file settings failed");
}

void EngineAdapter::set_max_file_duration(REtime duration)
{
    KORIN_STORE(duration, duration);
    if (m_recorder)
        reportResult(m_recorder->set_max_file_duration(m_recorder, duration),
                     "engine set max file duration failed", "set max file duration failed");
}

void EngineAdapter::set_max_file_size_bytes(REuint64 size)
{
    qDebug() << "set max file size " << size;
    KORIN_STORE(file_size, size);
    if (m_recorder)
        reportResult(m_recorder->set_max_file_size_bytes(m_recorder, size),
                     "engine set max file size failed", "set max file size failed");
}

void EngineAdapter::set_rtp_host(QString host, REuint32 port)
{
    qDebug() << "set rtp: host:  " << host << "  port:  " << port;
    const QByteArray utf8 = host.toUtf8();
    if (utf8.size() >= int(sizeof m_options.host)) {
        qWarning("engine set rtp host failed");
        emit errorOccur(QStringLiteral("set rtp host failed: the host name is too long"), 0);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_optionsMutex);
        memcpy(m_options.host, utf8.constData(), size_t(utf8.size()));
        m_options.host[utf8.size()] = '\0';
        m_options.port = port;
    }
    if (m_recorder)
        reportResult(m_recorder->set_rtp_host(m_recorder, utf8.isEmpty() ? nullptr : utf8.constData(), port),
                     "engine set rtp host failed", "set rtp host failed");
}

void EngineAdapter::add_video_effect(REuint32 effect)
{
    KORIN_STORE(video_effect, effect);
    if (m_recorder)
        m_recorder->add_video_effect(m_recorder, effect);
}

void EngineAdapter::add_time_stamp(bool enable)
{
    if (m_recorder)
        m_recorder->add_time_stamp(m_recorder, enable ? 1 : 0);
}

void EngineAdapter::disable_viewfinder(bool disable)
{
    if (m_recorder)
        m_recorder->disable_viewfinder(m_recorder, disable ? 1 : 0);
}

#undef KORIN_STORE

// ---- capture ----

void EngineAdapter::takeSnapShot()
{
    changeState(RUNNING);
    qDebug("take a snapshot");
    REresult r = 1;
    if (!m_recorder) {
        emit errorOccur(QStringLiteral("take snapshot failed: no recorder engine"), 0);
    } else if (!m_pathAccepted) {
        emit errorOccur(QStringLiteral("take snapshot refused: no valid output file path"), 0);
    } else {
        r = m_recorder->take_snapshot(m_recorder);
        if (r != 0) {
            qWarning("take snapshot failed");
            emit errorOccur(outputFailure(nullptr), 0);
        }
    }
    changeState(PREVIREW);
    emit engineWorkDone(SNAPSHOT, int(r));
}

void EngineAdapter::takeVideoRecording()
{
    // A repeated start must not turn the running recording's state back to
    // preview when the engine refuses it.
    if (m_recording) {
        qDebug("a recording is already running");
        return;
    }
    changeState(RUNNING);
    qDebug("start recording");
    QString error;
    if (!m_recorder) {
        error = QStringLiteral("start recording failed: no recorder engine");
    } else if (!m_pathAccepted) {
        error = QStringLiteral("start recording refused: no valid output file path");
    } else if (m_recorder->start(m_recorder) != 0) {
        error = outputFailure("start recording failed");
    }
    if (error.isEmpty()) {
        m_recording = true;
        return;
    }
    qWarning() << error;
    changeState(PREVIREW);
    emit errorOccur(error, 0);
}

void EngineAdapter::stopVideoRecording()
{
    qDebug("stop recording");
    // A second stop (a repeated press, a low-storage report while the first
    // one drains) has nothing left to end: no failure, no second thumbnail.
    if (!m_recording) {
        qDebug("no recording to stop");
        return;
    }
    REresult r = 1;
    if (m_recorder)
        r = m_recorder->stop(m_recorder);
    m_recording = false;
    changeState(PREVIREW);
    if (r != 0) {
        qWarning("stop recording failed");
        emit errorOccur(outputFailure("stop recording failed"), 0);
    }
    emit engineWorkDone(RECORDING, int(r));
}

void EngineAdapter::pauseVideoRecording()
{
    qDebug("pause video recording");
    if (m_recorder)
        m_recorder->pause(m_recorder);
    changeState(PAUSE);
    emit engineWorkDone(0, 0);
}

void EngineAdapter::resumeVideoRecording()
{
    qDebug("resume video recording");
    if (m_recorder)
        m_recorder->resume(m_recorder);
    changeState(RUNNING);
}

void EngineAdapter::get_media_time()
{
    if (!m_recorder)
        return;
    REtime t = 0;
    if (m_recorder->get_media_time(m_recorder, &t) == 0) {
        m_mediaTimeUs = t;
        emit updateRecordingTime(m_mediaTimeUs);
    }
}
