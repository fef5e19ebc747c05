// Thumbnail soak: the camera's thumbnailer (on a thread of its own, as in
// the camera) writing the same clip's picture each cycle, or one reused bare
// playbin doing the same (pause, accurate seek to the middle, RGB frame,
// JPEG written with QImage).
// Usage: soak_thumbnail engine|bare CLIP [CYCLES]; prints a soak_report line.
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QThread>
#include <QTimer>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <memory>

#include "soak.h"
#include "videothumbnailer.h"

namespace {

bool engineCycle(VideoThumbnailer* thumb, const QString& clip)
{
    const QString out = VideoThumbnailer::thumbnailName(clip, false);
    QFile::remove(out);
    QEventLoop loop;
    QObject::connect(thumb, &VideoThumbnailer::imageSaved, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    QMetaObject::invokeMethod(thumb, "getVideoFrame", Qt::QueuedConnection, Q_ARG(QString, clip), Q_ARG(bool, false));
    loop.exec();
    return QFile::exists(out);
}

bool engineRun(const QString& clip, SoakRss* s)
{
    QThread thread;
    std::unique_ptr<VideoThumbnailer> thumb(new VideoThumbnailer);
    thumb->moveToThread(&thread);
    thread.start();
    bool ok = true;
    for (int i = 1; ok && i <= s->cycles; ++i) {
        ok = engineCycle(thumb.get(), clip);
        soak_cycle_done(s, i);
    }
    thread.quit();
    thread.wait();
    return ok;
}

bool settled(GstElement* pb)
{
    return gst_element_get_state(pb, nullptr, nullptr, 10 * GST_SECOND) == GST_STATE_CHANGE_SUCCESS;
}

bool saveFrame(GstElement* pb, const QString& out)
{
    GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "RGB", nullptr);
    GstSample* sample = nullptr;
    g_signal_emit_by_name(pb, "convert-sample", caps, &sample);
    gst_caps_unref(caps);
    if (!sample)
        return false;
    bool saved = false;
    GstVideoInfo info;
    GstVideoFrame frame;
    GstBuffer* buf = gst_sample_get_buffer(sample);
    if (buf && gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
        gst_video_frame_map(&frame, &info, buf, GST_MAP_READ)) {
        const QImage img(static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)), GST_VIDEO_INFO_WIDTH(&info),
                         GST_VIDEO_INFO_HEIGHT(&info), GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), QImage::Format_RGB888);
        saved = img.save(out, "JPG");
        gst_video_frame_unmap(&frame);
    }
    gst_sample_unref(sample);
    return saved;
}

bool bareCycle(GstElement* pb, const QString& out)
{
    QFile::remove(out);
    gint64 duration = 0;
    bool ok = gst_element_set_state(pb, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE && settled(pb) &&
              gst_element_query_duration(pb, GST_FORMAT_TIME, &duration) &&
              gst_element_seek_simple(pb, GST_FORMAT_TIME, GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                                      duration / 2) &&
              settled(pb) && saveFrame(pb, out);
    return gst_element_set_state(pb, GST_STATE_NULL) != GST_STATE_CHANGE_FAILURE && ok;
}

bool bareRun(const QString& clip, SoakRss* s)
{
    gst_init(nullptr, nullptr);
    GstElement* pb = gst_element_factory_make("playbin", nullptr);
    GstElement* vs = gst_element_factory_make("fakesink", nullptr);
    GstElement* as = gst_element_factory_make("fakesink", nullptr);
    gchar* uri = gst_filename_to_uri(QFile::encodeName(clip).constData(), nullptr);
    if (!pb || !vs || !as || !uri)
        return false;
    g_object_set(pb, "uri", uri, "video-sink", vs, "audio-sink", as, nullptr);
    g_free(uri);
    const QString out = clip + "_bare.jpg";
    bool ok = true;
    for (int i = 1; ok && i <= s->cycles; ++i) {
        ok = bareCycle(pb, out);
        soak_cycle_done(s, i);
    }
    gst_object_unref(pb);
    QFile::remove(out);
    return ok;
}

int run(int engine, const char* clip, SoakRss* s)
{
    const QString path = QFileInfo(QString::fromLocal8Bit(clip)).absoluteFilePath();
    return (engine ? engineRun(path, s) : bareRun(path, s)) ? 0 : -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    return soak_main(argc, argv, "thumbnail", "CLIP", 200, run);
}
