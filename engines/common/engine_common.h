/* What both engines share: one way to log, to make elements and to read the
 * bus's errors and warnings. */
#ifndef KORIN_ENGINE_COMMON_H
#define KORIN_ENGINE_COMMON_H

#include <gst/gst.h>

/* Each library is built with its own G_LOG_DOMAIN ("capturecore",
 * "mediacore"), so a log line tells which engine wrote it. */
#define eng_info(...) g_log(G_LOG_DOMAIN, G_LOG_LEVEL_MESSAGE, __VA_ARGS__)
#define eng_warn(...) g_log(G_LOG_DOMAIN, G_LOG_LEVEL_WARNING, __VA_ARGS__)

/* Makes an element of the factory and adds it to the bin; null (with a log
 * line when the factory is missing) when either fails. */
GstElement *eng_make(GstElement *bin, const char *factory, const char *name = nullptr);

/* Parses an ERROR message, logs "<what> error from <element>: <message>
 * (<details>)" and hands the error back; the caller frees it. */
GError *eng_bus_error(GstMessage *msg, const char *what);

/* Logs a WARNING message as "<what> warning from <element>: <message>". */
void eng_bus_warning(GstMessage *msg, const char *what);

/* Runs the loop on a new thread with the loop's context as that thread's
 * default, so bus watches and timers attached there run on it; null (with a
 * log line) when the thread cannot start. */
GThread *eng_loop_start(GMainLoop *loop, const char *name);

/* Asks the loop to end, through a source of its own context: a bus message
 * would be dropped while the pipeline is NULL, and a direct quit before the
 * loop runs would be lost. The caller joins the thread. */
void eng_loop_quit(GMainLoop *loop);

#endif
