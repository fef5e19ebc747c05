#ifndef KORIN_SUBTITLEPOLLINGTHREAD_H
#define KORIN_SUBTITLEPOLLINGTHREAD_H

#include <QByteArray>
#include <QThread>

#include <atomic>

#include "playengine.h"

// Asks the engine for the current subtitle text every 100 ms while a file is
// loaded and hands a copy of each non-empty text to the interface thread.
// Ends by itself when the engine goes to NULL or READY, or when told to quit.
class SubtitlePollingThread : public QThread
{
    Q_OBJECT
public:
    SubtitlePollingThread() = default;
    // Only while the thread is not running.
    void setPlayengine(PlayEngine* engine) { pengine = engine; }
    PlayEngine* playengine() const { return pengine; }
    void set_need_quit() { need_quit.store(true); }
    // Called on the starting thread before start(), never in run().
    void clear_need_quit() { need_quit.store(false); }
    // Tells the thread to quit and waits for it.
    void stopAndWait();

signals:
    void updateSubtitle(QByteArray text, quint64 pts, quint64 dur);

protected:
    void run() override;

private:
    // Sleeps ms in short slices, returning early when told to quit.
    void nap(int ms);

    PlayEngine* pengine = nullptr;
    char sub_text[512];
    std::atomic<bool> need_quit{false};
};

#endif
