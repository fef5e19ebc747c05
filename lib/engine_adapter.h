#ifndef KORIN_ENGINE_ADAPTER_H
#define KORIN_ENGINE_ADAPTER_H

#include <mutex>
#include <QObject>
#include <QString>
#include <QVector>
#include <qwindowdefs.h>
#include <atomic>

#include "recorderengine.h"

enum EngineState { PREVIREW = 1, RUNNING = 2, PAUSE = 3 };
enum WorkMode_ { PHOTO_MODE = 1, VIDEO_MODE = 2 };
typedef WorkMode_ WorkMode;
enum OPERATIONS { SNAPSHOT = 1, RECORDING = 2 };

struct CameraCapabilities {
    int width;
    int height;
    int frame_rate;
};

// Every setting handed to the engine, as last requested.
struct REOptions {
    REuint32 audio_source;
    REuint32 sample_rate;
    REuint32 channel;
    REuint32 video_source;
    REuint32 camera_id;
    RERawVideoSettings video_settings;
    REVideoRect video_rect;
    REuint32 preview_buffer;
    REuint32 video_effect;
    REAudioEncoderSettings audio_encoder_setting;
    REVideoEncoderSettings video_encoder_setting;
    REuint32 container_format;
    char path[1024];
    char host[32];
    REuint32 port;
    REuint32 file_count;
    REtime duration;
    REuint64 file_size;
    REOutputFileSettings out_file_settings;
    QVector<CameraCapabilities> capabilities;
};

REresult event_handler(void* context, REuint32 event, void* param);

// Owns the recorder engine on the engine thread; every engine operation is a
// slot, answers go out as signals only.
class EngineAdapter : public QObject
{
    Q_OBJECT
public:
    typedef RecorderEngine* (*EngineFactory)();

    explicit EngineAdapter(QObject* parent = nullptr);
    ~EngineAdapter() override;

    static RecorderEngine* m_recorder;
    static std::atomic<EngineState> m_engineState;
    static std::atomic<WorkMode> m_workMode;

    // Where engine_create gets its engine (recorder_engine_create by default).
    static void setEngineFactory(EngineFactory factory);

    bool updateCapabilityCompleted() const { return updateCapabilityComplete.load(); }
    void setUpdateCapabilityCompleted(bool done) { updateCapabilityComplete.store(done); }
    // The options record; hold optionsMutex() while reading or writing it
    // from another thread.
    REOptions* getOptions() { return &m_options; }
    std::mutex* optionsMutex() { return &m_optionsMutex; }
    QVector<CameraCapabilities> getCapabilities();
    int getWorkingMode() const { return m_workMode.load(); }
    void setWorkingMode(int mode) { m_workMode.store(static_cast<WorkMode>(mode)); }
    int getEngineState() const { return m_engineState.load(); }
    void setEngineState(int state) { m_engineState.store(static_cast<EngineState>(state)); }

signals:
    void errorOccur(QString str, int level = 0);
    void engineWorkDone(int operation, int retval);
    void engineStateChanged(int state);
    void updateRecordingTime(quint64 time);
    void updateCapability();
    // The engine ended the recording at a limit (RE_EVENT_MAX_DURATION or
    // RE_EVENT_MAX_FILESIZE).
    void limitReached(int event);

public slots:
    void engine_create(bool force);
    void engine_init();
    void engine_prepare(bool updateCaps);
    void engine_destroy();
    void engine_close();
    void set_audio_source(REuint32 source = 0);
    void set_audio_sample_rate(REuint32 rate = 0);
    void set_audio_channel(REuint32 channel = 0);
    void set_video_source(REuint32 source = 0);
    void set_camera_id(REuint32 id = 0);
    void set_camera_output_settings(RERawVideoSettings settings);
    void set_preview_region(REVideoRect rect);
    void set_preview_win_id(WId id);
    void need_preview_buffer(REuint32 need = 0);
    void set_audio_encoder_settings(REAudioEncoderSettings settings);
    void set_video_encoder_settings(REVideoEncoderSettings settings);
    void set_container_format(REuint32 format = 0);
    void set_output_file_path(QString path);
    void set_file_count(REuint32 count = 0);
    void set_output_file_settings(REOutputFileSettings settings);
    void set_max_file_duration(REtime duration = 0);
    void set_max_file_size_bytes(REuint64 size = 0);
    void get_media_time();
    void get_camera_capebilities();
    void reset();
    void add_video_effect(REuint32 effect = 0);
    void add_time_stamp(bool enable = false);
    void set_rtp_host(QString host, REuint32 port = 0);
    void disable_viewfinder(bool disable);
    void takeSnapShot();
    void takeVideoRecording();
    void stopVideoRecording();
    void pauseVideoRecording();
    void resumeVideoRecording();

private slots:
    // An engine event, carried over from the engine's callback thread.
    void handleEngineEvent(uint event);

private:
    friend REresult event_handler(void* context, REuint32 event, void* param);
    void changeState(EngineState state);
    bool reportResult(REresult r, const char* warning, const char* error);
    // "Cannot save to <folder>: <reason>" for the output path's folder when
    // something is wrong with it; otherwise the text given, or without one
    // a write error in that folder.
    QString outputFailure(const char* otherwise);

    REOptions m_options;
    std::mutex m_optionsMutex;
    quint64 m_mediaTimeUs = 0;
    std::atomic<bool> updateCapabilityComplete{false};
    bool engineStartUpSuccess = false;
    bool m_pathAccepted = false;   // the engine holds the path asked for last
    bool m_recording = false;      // a recording has been started and not stopped
};

#endif
