// Whether a recording plays: opened by the play engine, with a video track,
// a duration, its container, codec and size.
#ifndef PLAYCHECK_H
#define PLAYCHECK_H

#include <QProcess>
#include <QString>
#include <cstring>

#include "playengine.h"

struct PlayCheck {
    bool opened = false;
    int videoTracks = 0;
    double seconds = 0;
    QString container, videoCodec; // as the play engine names them
    int width = 0, height = 0;
};

inline PlayCheck checkPlays(const QString& file)
{
    PlayCheck c;
    PlayEngine* e = play_engine_create();
    if (!e)
        return c;
    e->set_video_sink(e, "fakesink");
    e->set_audio_sink(e, "fakesink");
    e->set_file(e, file.toUtf8().constData());
    if (e->pause(e) == PLAYENGINE_SUCCESS) {
        c.opened = true;
        static korin_metadata md;
        memset(&md, 0, sizeof md);
        e->get_metadata(e, &md);
        c.videoTracks = md.n_video;
        c.container = QString::fromUtf8(md.container);
        c.videoCodec = QString::fromUtf8(md.video_info[0].codec_type);
        c.width = md.video_info[0].width;
        c.height = md.video_info[0].height;
        gint64 d = 0;
        e->get_duration(e, &d);
        c.seconds = d / 1e9;
    }
    e->stop(e);
    e->stop_wait_state_change(e);
    play_engine_destroy(e);
    return c;
}

// Frames of the file's video track, counted by GStreamer's own parsers
// (one line per buffer that reaches the sink); -1 when that fails.
inline int countFrames(const QString& file)
{
    QProcess p;
    p.start("gst-launch-1.0", {"-v", "filesrc", "location=" + file, "!", "parsebin", "!", "fakesink",
                               "silent=false"});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return -1;
    return QString::fromUtf8(p.readAllStandardOutput()).count("last-message = chain");
}

#endif
