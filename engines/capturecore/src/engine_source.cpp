/* Source selection: the V4L2 camera, or the test pattern when there is none;
 * what each can deliver; and the audio capture device. */
#include "engine_private.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace cc {

namespace {

/* The pattern can be any size; these are the ones offered to the user. */
const Capability kPatternCaps[] = {
    {640, 480, 30, true},  {1280, 720, 30, true}, {1920, 1080, 30, true},
    {320, 240, 30, true},  {800, 600, 30, true},   {640, 480, 15, true},
};

int fraction_to_fps(const GValue *v)
{
    int n = gst_value_get_fraction_numerator(v);
    int d = gst_value_get_fraction_denominator(v);
    if (n <= 0 || d <= 0)
        return 0;
    return (int)std::lround((double)n / d);
}

void collect_rates(const GValue *fr, std::vector<int> &rates)
{
    if (!fr)
        return;
    if (GST_VALUE_HOLDS_FRACTION(fr)) {
        rates.push_back(fraction_to_fps(fr));
    } else if (GST_VALUE_HOLDS_LIST(fr)) {
        for (guint i = 0; i < gst_value_list_get_size(fr); i++)
            collect_rates(gst_value_list_get_value(fr, i), rates);
    } else if (GST_VALUE_HOLDS_FRACTION_RANGE(fr)) {
        int lo = fraction_to_fps(gst_value_get_fraction_range_min(fr));
        int hi = fraction_to_fps(gst_value_get_fraction_range_max(fr));
        if (hi > 0)
            rates.push_back(hi);
        if (lo <= 30 && hi > 30)
            rates.push_back(30);
    }
}

void collect_sizes(const GstStructure *st, std::vector<std::pair<int, int>> &sizes)
{
    int w = 0, h = 0;
    if (gst_structure_get_int(st, "width", &w) && gst_structure_get_int(st, "height", &h)) {
        sizes.emplace_back(w, h);
        return;
    }
    const GValue *wv = gst_structure_get_value(st, "width");
    const GValue *hv = gst_structure_get_value(st, "height");
    if (!wv || !hv || !GST_VALUE_HOLDS_INT_RANGE(wv) || !GST_VALUE_HOLDS_INT_RANGE(hv))
        return;
    /* A stepwise device: offer the usual sizes it covers, and its largest. */
    int wmin = gst_value_get_int_range_min(wv), wmax = gst_value_get_int_range_max(wv);
    int hmin = gst_value_get_int_range_min(hv), hmax = gst_value_get_int_range_max(hv);
    static const int common[][2] = {{640, 480}, {1280, 720}, {1920, 1080}};
    for (const auto &c : common)
        if (c[0] >= wmin && c[0] <= wmax && c[1] >= hmin && c[1] <= hmax)
            sizes.emplace_back(c[0], c[1]);
    if (wmax <= 8192 && hmax <= 8192)
        sizes.emplace_back(wmax, hmax);
}

void caps_to_capabilities(GstCaps *caps, std::vector<Capability> &out)
{
    for (guint i = 0; i < gst_caps_get_size(caps); i++) {
        const GstStructure *st = gst_caps_get_structure(caps, i);
        bool raw = gst_structure_has_name(st, "video/x-raw");
        if (!raw && !gst_structure_has_name(st, "image/jpeg"))
            continue;
        std::vector<std::pair<int, int>> sizes;
        collect_sizes(st, sizes);
        std::vector<int> rates;
        collect_rates(gst_structure_get_value(st, "framerate"), rates);
        for (auto &sz : sizes) {
            for (int fps : rates) {
                if (fps <= 0)
                    continue;
                auto same = [&](const Capability &c) {
                    return c.width == sz.first && c.height == sz.second && c.fps == fps;
                };
                auto it = std::find_if(out.begin(), out.end(), same);
                if (it == out.end())
                    out.push_back({sz.first, sz.second, fps, raw});
                else if (raw)
                    it->raw = true;
            }
        }
    }
}

bool device_opens(const char *path)
{
    int fd = open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        eng_warn("camera %s does not open: %s", path, g_strerror(errno));
        return false;
    }
    ::close(fd);
    return true;
}

bool probe_device(const char *path, std::vector<Capability> &out)
{
    if (!device_opens(path))
        return false;
    GstElement *src = gst_element_factory_make("v4l2src", nullptr);
    if (!src) {
        eng_warn("v4l2src is not available; cannot use camera %s", path);
        return false;
    }
    g_object_set(src, "device", path, NULL);
    bool ok = false;
    if (gst_element_set_state(src, GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
        eng_warn("camera %s is not a usable capture device", path);
    } else {
        GstPad *pad = gst_element_get_static_pad(src, "src");
        if (pad) {
            GstCaps *caps = gst_pad_query_caps(pad, nullptr);
            if (caps) {
                caps_to_capabilities(caps, out);
                gst_caps_unref(caps);
            }
            gst_object_unref(pad);
        }
        ok = !out.empty();
        if (!ok)
            eng_warn("camera %s offers no video format the engine can use", path);
    }
    gst_element_set_state(src, GST_STATE_NULL);
    gst_object_unref(src);
    return ok;
}

/* How far a capability is from the size and rate asked for: size first,
 * then rate (0 asks for none in particular, 30 preferred). */
double distance(const Capability &c, const Capability &want)
{
    double size = std::fabs(std::log((double)c.width * c.height / ((double)want.width * want.height))) +
                  std::fabs(std::log((double)c.width * want.height / ((double)c.height * want.width)));
    int fps = want.fps ? want.fps : 30;
    return size * 1000 + std::abs(c.fps - fps) + (c.raw ? 0 : 0.5);
}

/* Chooses the capture mode: the source's capability nearest to the one
 * asked for (a source gives only what it lists), else 640x480 when the
 * source has it, else the first it offers. */
Capability choose(const Settings &s, const std::vector<Capability> &caps)
{
    Capability want = {(int)s.output.width, (int)s.output.height, (int)s.output.framesPerSecond, true};
    if (want.width <= 0 || want.height <= 0)
        want = {640, 480, (int)s.output.framesPerSecond, true};
    if (caps.empty())
        return {want.width, want.height, want.fps ? want.fps : 30, true};
    const Capability *best = &caps.front();
    for (const auto &c : caps)
        if (distance(c, want) < distance(*best, want))
            best = &c;
    if (best->width != want.width || best->height != want.height || (want.fps && best->fps != want.fps))
        eng_info("the source has no %dx%d@%d; using its nearest, %dx%d@%d", want.width, want.height, want.fps,
                best->width, best->height, best->fps);
    return *best;
}

} // namespace

bool source_is_pattern(const Settings &s)
{
    return s.video_source == 1 || s.camera_id == RE_CAMERA_ID_NONE;
}

gchar *source_device_path(const Settings &s)
{
    return g_strdup_printf("/dev/video%u", s.camera_id);
}

bool source_capabilities(Engine *e, std::vector<Capability> &out)
{
    out.clear();
    if (source_is_pattern(e->s)) {
        out.assign(std::begin(kPatternCaps), std::end(kPatternCaps));
        return true;
    }
    if (e->caps_cache_valid && e->caps_cache_id == e->s.camera_id) {
        out = e->caps_cache;
        return true;
    }
    gchar *path = source_device_path(e->s);
    bool ok = probe_device(path, out);
    g_free(path);
    if (ok) {
        e->caps_cache = out;
        e->caps_cache_id = e->s.camera_id;
        e->caps_cache_valid = true;
    }
    return ok;
}

GstElement *source_create_bin(Engine *e, int *width, int *height, int *fps, bool *is_camera)
{
    std::vector<Capability> caps;
    bool pattern = source_is_pattern(e->s);
    gchar *path = pattern ? nullptr : source_device_path(e->s);
    if (!source_capabilities(e, caps)) {
        eng_warn("camera %s cannot be used", path);
        g_free(path);
        return nullptr;
    }
    Capability c = choose(e->s, caps);

    GstElement *bin = gst_bin_new("source");
    GstElement *src = nullptr, *last = nullptr;
    bool ok = true;
    if (pattern) {
        eng_info("video source: generated test pattern (no camera), %dx%d@%d", c.width, c.height, c.fps);
        src = eng_make(bin, "videotestsrc");
        if (src) {
            /* Moving colour bars: plainly synthetic, and changing every frame. */
            g_object_set(src, "is-live", TRUE, "horizontal-speed", 4, NULL);
            gst_util_set_object_arg(G_OBJECT(src), "pattern", "smpte");
        }
        last = src;
    } else {
        eng_info("video source: camera %s, %dx%d@%d%s", path, c.width, c.height, c.fps,
                c.raw ? "" : " (MJPEG)");
        src = eng_make(bin, "v4l2src");
        if (src)
            g_object_set(src, "device", path, NULL);
        GstElement *f = eng_make(bin, "capsfilter");
        if (src && f) {
            GstCaps *fc = gst_caps_new_simple(c.raw ? "video/x-raw" : "image/jpeg", "width", G_TYPE_INT,
                                              c.width, "height", G_TYPE_INT, c.height, "framerate",
                                              GST_TYPE_FRACTION, c.fps, 1, NULL);
            g_object_set(f, "caps", fc, NULL);
            gst_caps_unref(fc);
            ok = gst_element_link(src, f);
            last = f;
            if (ok && !c.raw) {
                GstElement *dec = eng_make(bin, "jpegdec");
                ok = dec && gst_element_link(last, dec);
                last = dec;
            }
            GstElement *conv = eng_make(bin, "videoconvert");
            ok = ok && conv && gst_element_link(last, conv);
            last = conv;
        } else {
            ok = false;
        }
    }
    GstElement *filter = eng_make(bin, "capsfilter");
    if (ok && src && last && filter) {
        GstCaps *fc = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", "width",
                                          G_TYPE_INT, c.width, "height", G_TYPE_INT, c.height,
                                          "framerate", GST_TYPE_FRACTION, c.fps, 1, NULL);
        if (pattern)
            gst_caps_set_simple(fc, "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, NULL);
        g_object_set(filter, "caps", fc, NULL);
        gst_caps_unref(fc);
        ok = gst_element_link(last, filter);
    } else {
        ok = false;
    }
    if (ok) {
        GstPad *pad = gst_element_get_static_pad(filter, "src");
        GstPad *ghost = pad ? gst_ghost_pad_new("src", pad) : nullptr;
        if (pad)
            gst_object_unref(pad);
        ok = ghost && gst_element_add_pad(bin, ghost);
    }
    g_free(path);
    if (!ok) {
        eng_warn("could not build the video source");
        gst_object_unref(bin);
        return nullptr;
    }
    *width = c.width;
    *height = c.height;
    *fps = c.fps;
    *is_camera = !pattern;
    return bin;
}

/* The default capture device, if one answers: PulseAudio, then ALSA's default. */
bool source_probe_audio(GstElement **src_out)
{
    *src_out = nullptr;
    static const char *const candidates[][2] = {{"pulsesrc", nullptr}, {"alsasrc", "default"}};
    for (const auto &cand : candidates) {
        GstElement *src = gst_element_factory_make(cand[0], nullptr);
        if (!src)
            continue;
        if (cand[1])
            g_object_set(src, "device", cand[1], NULL);
        GstStateChangeReturn r = gst_element_set_state(src, GST_STATE_READY);
        gst_element_set_state(src, GST_STATE_NULL);
        if (r != GST_STATE_CHANGE_FAILURE) {
            *src_out = src;
            return true;
        }
        gst_object_unref(src);
    }
    return false;
}

} // namespace cc
