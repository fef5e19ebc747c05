/* The media information record: tags, per-stream details and album art. */
#include "engine_private.h"

#include <gst/pbutils/pbutils.h>
#include <gst/tag/tag.h>
#include <gst/video/video.h>
#include <gst/audio/audio.h>

#include <string.h>

/* Copies src into dst of size bytes, always NUL-terminated, cut at a UTF-8
 * character boundary (invalid bytes are cut off, never passed on). */
void metadata_copy_text(gchar* dst, gsize size, const gchar* src)
{
    if (!dst || size == 0)
        return;
    dst[0] = '\0';
    if (!src)
        return;
    const gchar* end = nullptr;
    g_utf8_validate(src, -1, &end);
    gsize len = (gsize)(end - src);
    if (len >= size) {
        len = size - 1;
        /* Step back over continuation bytes to the start of a character. */
        while (len > 0 && ((guchar)src[len] & 0xC0) == 0x80)
            --len;
    }
    memcpy(dst, src, len);
    dst[len] = '\0';
}

static void copy_tag_string(const GstTagList* tags, const gchar* tag, gchar* dst, gsize size)
{
    if (!tags || dst[0])
        return;
    guint n = gst_tag_list_get_tag_size(tags, tag);
    if (n == 0)
        return;
    GString* joined = g_string_new(nullptr);
    for (guint i = 0; i < n; ++i) {
        gchar* v = nullptr;
        if (gst_tag_list_get_string_index(tags, tag, i, &v) && v && *v) {
            if (joined->len)
                g_string_append(joined, ", ");
            g_string_append(joined, v);
        }
        g_free(v);
    }
    metadata_copy_text(dst, size, joined->str);
    g_string_free(joined, TRUE);
}

static guint tag_uint(const GstTagList* tags, const gchar* tag)
{
    guint v = 0;
    if (tags)
        gst_tag_list_get_uint(tags, tag, &v);
    return v;
}

static void copy_tag_double(const GstTagList* tags, const gchar* tag, gchar* dst, gsize size)
{
    gdouble v = 0;
    if (tags && !dst[0] && gst_tag_list_get_double(tags, tag, &v)) {
        gchar buf[G_ASCII_DTOSTR_BUF_SIZE];
        metadata_copy_text(dst, size, g_ascii_formatd(buf, sizeof buf, "%.6f", v));
    }
}

static void fill_year(const GstTagList* tags, gchar* dst, gsize size)
{
    if (!tags || dst[0])
        return;
    GstDateTime* dt = nullptr;
    GDate* date = nullptr;
    if (gst_tag_list_get_date_time(tags, GST_TAG_DATE_TIME, &dt) && dt) {
        if (gst_date_time_has_year(dt))
            g_snprintf(dst, size, "%d", gst_date_time_get_year(dt));
        gst_date_time_unref(dt);
    } else if (gst_tag_list_get_date(tags, GST_TAG_DATE, &date) && date) {
        if (g_date_valid(date))
            g_snprintf(dst, size, "%d", g_date_get_year(date));
        g_date_free(date);
    }
}

static guint bitrate_of(const GstTagList* tags)
{
    guint v = tag_uint(tags, GST_TAG_BITRATE);
    if (!v)
        v = tag_uint(tags, GST_TAG_NOMINAL_BITRATE);
    if (!v)
        v = tag_uint(tags, GST_TAG_MAXIMUM_BITRATE);
    return v;
}

static void fill_codec_language(const GstTagList* tags, const gchar* codec_tag, gchar* codec,
                                gchar* language)
{
    copy_tag_string(tags, codec_tag, codec, 64);
    copy_tag_string(tags, GST_TAG_CODEC, codec, 64);
    copy_tag_string(tags, GST_TAG_LANGUAGE_CODE, language, 64);
    copy_tag_string(tags, GST_TAG_LANGUAGE_NAME, language, 64);
}

/* Tags and current caps of stream i of a kind ("video", "audio", "text"). */
static void stream_info(EnginePriv* p, const char* kind, gint i, GstTagList** tags, GstCaps** caps)
{
    gchar* tags_sig = g_strdup_printf("get-%s-tags", kind);
    gchar* pad_sig = g_strdup_printf("get-%s-pad", kind);
    GstPad* pad = nullptr;
    *tags = nullptr;
    g_signal_emit_by_name(p->playbin, tags_sig, i, tags);
    g_signal_emit_by_name(p->playbin, pad_sig, i, &pad);
    *caps = pad ? gst_pad_get_current_caps(pad) : nullptr;
    if (pad)
        gst_object_unref(pad);
    g_free(tags_sig);
    g_free(pad_sig);
}

/* Width and height of a PNG or JPEG picture, read from its header. */
static void picture_size(const guint8* d, gsize n, gint* w, gint* h)
{
    *w = *h = 0;
    if (n >= 24 && memcmp(d, "\x89PNG\r\n\x1a\n", 8) == 0 && memcmp(d + 12, "IHDR", 4) == 0) {
        *w = (gint)GST_READ_UINT32_BE(d + 16);
        *h = (gint)GST_READ_UINT32_BE(d + 20);
        return;
    }
    if (n < 4 || d[0] != 0xFF || d[1] != 0xD8)
        return;
    gsize i = 2;
    while (i + 4 <= n) {
        if (d[i] != 0xFF) {
            ++i;
            continue;
        }
        const guint8 marker = d[i + 1];
        if (marker == 0xFF) {
            ++i;
            continue;
        }
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            i += 2;
            continue;
        }
        const gsize len = GST_READ_UINT16_BE(d + i + 2);
        const gboolean sof = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 &&
                             marker != 0xC8 && marker != 0xCC;
        if (sof && i + 9 <= n) {
            *h = GST_READ_UINT16_BE(d + i + 5);
            *w = GST_READ_UINT16_BE(d + i + 7);
            return;
        }
        if (len < 2)
            return;
        i += 2 + len;
    }
}

static void fill_album_art(EnginePriv* p, const GstTagList* tags, korin_album_art_info* art)
{
    GstSample* sample = nullptr;
    if (!tags)
        return;
    if (!gst_tag_list_get_sample(tags, GST_TAG_IMAGE, &sample) &&
        !gst_tag_list_get_sample(tags, GST_TAG_PREVIEW_IMAGE, &sample))
        return;
    GstBuffer* buf = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (buf && gst_buffer_map(buf, &map, GST_MAP_READ)) {
        if (map.size > 0) {
            p->album_art = static_cast<guint8*>(g_memdup2(map.data, map.size));
            art->image = p->album_art;
            art->size = map.size;
            picture_size(map.data, map.size, &art->width, &art->height);
            const GstStructure* s =
                gst_sample_get_caps(sample) ? gst_caps_get_structure(gst_sample_get_caps(sample), 0)
                                            : nullptr;
            if (s && (!art->width || !art->height)) {
                gst_structure_get_int(s, "width", &art->width);
                gst_structure_get_int(s, "height", &art->height);
            }
        }
        gst_buffer_unmap(buf, &map);
    }
    gst_sample_unref(sample);
}

PlayEngineResult metadata_fill(EnginePriv* p, korin_metadata* md)
{
    memset(md, 0, sizeof *md);
    g_clear_pointer(&p->album_art, g_free);

    gchar* uri = nullptr;
    g_object_get(p->playbin, "current-uri", &uri, nullptr);
    if (uri) {
        gchar* path = g_str_has_prefix(uri, "file:") ? g_filename_from_uri(uri, nullptr, nullptr)
                                                      : nullptr;
        metadata_copy_text(md->pathname, sizeof md->pathname, path ? path : uri);
        g_free(path);
        g_free(uri);
    }
    if (engine_current_state(p) < GST_STATE_PAUSED)
        return PLAYENGINE_FAILURE;

    g_object_get(p->playbin, "n-video", &md->n_video, "n-audio", &md->n_audio, "n-text",
                 &md->n_subtitle, nullptr);

    /* Global tags from the bus, completed by each stream's own tags. */
    g_mutex_lock(&p->tag_lock);
    GstTagList* all = p->tags ? gst_tag_list_copy(p->tags) : gst_tag_list_new_empty();
    GstCaps* container_caps = p->container_caps ? gst_caps_ref(p->container_caps) : nullptr;
    g_mutex_unlock(&p->tag_lock);

    for (gint i = 0; i < md->n_video; ++i) {
        GstTagList* tags;
        GstCaps* caps;
        stream_info(p, "video", i, &tags, &caps);
        if (i < KORIN_METADATA_MAX_TRACKS) {
            korin_video_info* v = &md->video_info[i];
            fill_codec_language(tags, GST_TAG_VIDEO_CODEC, v->codec_type, v->language);
            v->bitrate = bitrate_of(tags);
            GstVideoInfo vi;
            if (caps && gst_video_info_from_caps(&vi, caps)) {
                v->width = GST_VIDEO_INFO_WIDTH(&vi);
                v->height = GST_VIDEO_INFO_HEIGHT(&vi);
                v->framerate_numerator = GST_VIDEO_INFO_FPS_N(&vi);
                v->framerate_denominator = GST_VIDEO_INFO_FPS_D(&vi);
            }
        }
        if (tags) {
            gst_tag_list_insert(all, tags, GST_TAG_MERGE_KEEP);
            gst_tag_list_unref(tags);
        }
        if (caps)
            gst_caps_unref(caps);
    }
    for (gint i = 0; i < md->n_audio; ++i) {
        GstTagList* tags;
        GstCaps* caps;
        stream_info(p, "audio", i, &tags, &caps);
        if (i < KORIN_METADATA_MAX_TRACKS) {
            korin_audio_info* a = &md->audio_info[i];
            fill_codec_language(tags, GST_TAG_AUDIO_CODEC, a->codec_type, a->language);
            a->bitrate = bitrate_of(tags);
            GstAudioInfo ai;
            if (caps && gst_audio_info_from_caps(&ai, caps)) {
                a->samplerate = GST_AUDIO_INFO_RATE(&ai);
                a->channels = GST_AUDIO_INFO_CHANNELS(&ai);
            }
        }
        if (tags) {
            gst_tag_list_insert(all, tags, GST_TAG_MERGE_KEEP);
            gst_tag_list_unref(tags);
        }
        if (caps)
            gst_caps_unref(caps);
    }
    for (gint i = 0; i < md->n_subtitle && i < KORIN_METADATA_MAX_TRACKS; ++i) {
        GstTagList* tags;
        GstCaps* caps;
        stream_info(p, "text", i, &tags, &caps);
        korin_subtitle_info* s = &md->subtitle_info[i];
        fill_codec_language(tags, GST_TAG_SUBTITLE_CODEC, s->codec_type, s->language);
        if (!s->codec_type[0] && caps) {
            const GstStructure* st = gst_caps_get_structure(caps, 0);
            const gchar* fmt = st ? gst_structure_get_string(st, "format") : nullptr;
            metadata_copy_text(s->codec_type, sizeof s->codec_type,
                               fmt ? fmt : gst_structure_get_name(st));
        }
        if (tags)
            gst_tag_list_unref(tags);
        if (caps)
            gst_caps_unref(caps);
    }

    copy_tag_string(all, GST_TAG_CONTAINER_FORMAT, md->container, sizeof md->container);
    if (!md->container[0] && container_caps) {
        gchar* desc = gst_pb_utils_get_codec_description(container_caps);
        metadata_copy_text(md->container, sizeof md->container, desc);
        g_free(desc);
    }
    copy_tag_string(all, GST_TAG_TITLE, md->title, sizeof md->title);
    copy_tag_string(all, GST_TAG_ARTIST, md->artist, sizeof md->artist);
    copy_tag_string(all, GST_TAG_ALBUM, md->album, sizeof md->album);
    fill_year(all, md->year, sizeof md->year);
    copy_tag_string(all, GST_TAG_GENRE, md->genre, sizeof md->genre);
    copy_tag_string(all, GST_TAG_ALBUM_ARTIST, md->albumartist, sizeof md->albumartist);
    copy_tag_string(all, GST_TAG_COMPOSER, md->composer, sizeof md->composer);
    copy_tag_string(all, GST_TAG_COMMENT, md->comment, sizeof md->comment);
    copy_tag_string(all, GST_TAG_DESCRIPTION, md->description, sizeof md->description);
    copy_tag_string(all, GST_TAG_COPYRIGHT, md->copyright, sizeof md->copyright);
    copy_tag_string(all, GST_TAG_KEYWORDS, md->keywords, sizeof md->keywords);
    copy_tag_string(all, GST_TAG_PERFORMER, md->performer, sizeof md->performer);
    copy_tag_string(all, GST_TAG_APPLICATION_NAME, md->tool, sizeof md->tool);
    copy_tag_string(all, GST_TAG_ENCODER, md->tool, sizeof md->tool);
    copy_tag_double(all, GST_TAG_GEO_LOCATION_LATITUDE, md->location_latitude,
                    sizeof md->location_latitude);
    copy_tag_double(all, GST_TAG_GEO_LOCATION_LONGITUDE, md->location_longtitude,
                    sizeof md->location_longtitude);
    md->track_count = (gint)tag_uint(all, GST_TAG_TRACK_COUNT);
    md->track_number = (gint)tag_uint(all, GST_TAG_TRACK_NUMBER);
    md->disc_number = (gint)tag_uint(all, GST_TAG_ALBUM_VOLUME_NUMBER);
    md->rating = (gint)tag_uint(all, GST_TAG_USER_RATING);
    fill_album_art(p, all, &md->album_art_info);

    gst_tag_list_unref(all);
    if (container_caps)
        gst_caps_unref(container_caps);
    return PLAYENGINE_SUCCESS;
}
