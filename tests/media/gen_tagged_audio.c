/*
 * gen_tagged_audio OUTFILE
 *
 * Writes a short tone as MP3 (OUTFILE ends in .mp3, ID3v2 tags) or FLAC
 * (.flac, Vorbis comments) carrying title, artist, album, genre, a long
 * multi-byte comment and a front-cover JPEG picture of 64x48 pixels.
 * gst-launch-1.0 cannot attach a picture tag, hence this small program.
 */
#include <gst/gst.h>
#include <gst/tag/tag.h>
#include <stdio.h>
#include <string.h>

#define COVER_WIDTH 64
#define COVER_HEIGHT 48

static gboolean run_to_eos(GstElement* pipeline, const char* what)
{
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        fprintf(stderr, "gen_tagged_audio: %s: cannot start\n", what);
        return FALSE;
    }
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* msg = gst_bus_timed_pop_filtered(bus, 30 * GST_SECOND,
                                                 GST_MESSAGE_EOS | GST_MESSAGE_ERROR);
    gboolean ok = FALSE;
    if (!msg) {
        fprintf(stderr, "gen_tagged_audio: %s: timed out\n", what);
    } else if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) {
        GError* err = NULL;
        gst_message_parse_error(msg, &err, NULL);
        fprintf(stderr, "gen_tagged_audio: %s: %s\n", what, err ? err->message : "error");
        g_clear_error(&err);
    } else {
        ok = TRUE;
    }
    if (msg)
        gst_message_unref(msg);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    return ok;
}

/* One JPEG frame made by GStreamer itself, as an image sample for the tag. */
static GstSample* make_cover(void)
{
    GError* err = NULL;
    gchar* desc = g_strdup_printf(
        "videotestsrc num-buffers=1 pattern=smpte ! "
        "video/x-raw,format=I420,width=%d,height=%d ! jpegenc ! "
        "appsink name=sink sync=false",
        COVER_WIDTH, COVER_HEIGHT);
    GstElement* pipeline = gst_parse_launch(desc, &err);
    g_free(desc);
    if (!pipeline) {
        fprintf(stderr, "gen_tagged_audio: cover pipeline: %s\n", err ? err->message : "?");
        g_clear_error(&err);
        return NULL;
    }
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstSample* jpeg = NULL;
    g_signal_emit_by_name(sink, "pull-sample", &jpeg);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    if (!jpeg) {
        fprintf(stderr, "gen_tagged_audio: no JPEG frame\n");
        return NULL;
    }

    GstSample* image = NULL;
    GstMapInfo map;
    GstBuffer* buf = gst_sample_get_buffer(jpeg);
    if (buf && gst_buffer_map(buf, &map, GST_MAP_READ)) {
        image = gst_tag_image_data_to_image_sample(map.data, (guint)map.size,
                                                   GST_TAG_IMAGE_TYPE_FRONT_COVER);
        gst_buffer_unmap(buf, &map);
    }
    gst_sample_unref(jpeg);
    if (!image)
        fprintf(stderr, "gen_tagged_audio: JPEG not recognised as an image\n");
    return image;
}

int main(int argc, char** argv)
{
    gst_init(&argc, &argv);
    if (argc != 2) {
        fprintf(stderr, "usage: gen_tagged_audio OUTFILE.mp3|OUTFILE.flac\n");
        return 2;
    }
    const char* out = argv[1];
    const char* encoder;
    if (g_str_has_suffix(out, ".mp3"))
        encoder = "lamemp3enc target=bitrate bitrate=128 ! id3v2mux name=tagger";
    else if (g_str_has_suffix(out, ".flac"))
        encoder = "flacenc name=tagger";
    else {
        fprintf(stderr, "gen_tagged_audio: %s: unknown extension\n", out);
        return 2;
    }

    GstSample* cover = make_cover();
    if (!cover)
        return 1;

    /* 3 s of 44.1 kHz stereo. */
    gchar* desc = g_strdup_printf(
        "audiotestsrc num-buffers=300 samplesperbuffer=441 freq=660 ! "
        "audio/x-raw,rate=44100,channels=2 ! audioconvert ! %s ! filesink name=out",
        encoder);
    GError* err = NULL;
    GstElement* pipeline = gst_parse_launch(desc, &err);
    g_free(desc);
    if (!pipeline) {
        fprintf(stderr, "gen_tagged_audio: %s\n", err ? err->message : "?");
        g_clear_error(&err);
        gst_sample_unref(cover);
        return 1;
    }
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
    g_object_set(sink, "location", out, NULL);
    gst_object_unref(sink);

    GstElement* tagger = gst_bin_get_by_name(GST_BIN(pipeline), "tagger");
    if (!tagger || !GST_IS_TAG_SETTER(tagger)) {
        fprintf(stderr, "gen_tagged_audio: no tag setter in the pipeline\n");
        return 1;
    }
    /* A comment longer than any fixed text field. In FLAC it is made of
     * two-byte characters, so a reader that cuts it must cut at a character
     * boundary; id3v2mux stores non-ASCII comments re-encoded as if they were
     * Latin-1, so the MP3 gets 300 ASCII digits instead. */
    GString* comment = g_string_new(NULL);
    for (int i = 0; i < 300; i++) {
        if (g_str_has_suffix(out, ".flac")) {
            if (i < 200)
                g_string_append(comment, "\xC3\xA9"); /* U+00E9 */
        } else {
            g_string_append_c(comment, (char)('0' + i % 10));
        }
    }
    gst_tag_setter_add_tags(GST_TAG_SETTER(tagger), GST_TAG_MERGE_REPLACE,
                            GST_TAG_TITLE, "Korin Test Title",
                            GST_TAG_ARTIST, "Korin Test Artist",
                            GST_TAG_ALBUM, "Korin Test Album",
                            GST_TAG_GENRE, "Test",
                            GST_TAG_COMMENT, comment->str,
                            GST_TAG_IMAGE, cover,
                            NULL);
    g_string_free(comment, TRUE);
    gst_object_unref(tagger);
    gst_sample_unref(cover);

    gboolean ok = run_to_eos(pipeline, out);
    gst_object_unref(pipeline);
    return ok ? 0 : 1;
}
