/*
 * Threads: the player's subtitle thread polls get_state/get_subtitle_text
 * while its user-interface thread drives playback; the camera creates its
 * thumbnailer's engine on one thread and uses it on another; two engines
 * work side by side. Nothing may crash, deadlock or stall the pollers.
 */
#include "engine_test_util.h"

#include <atomic>

class TestThreads : public QObject {
    Q_OBJECT

private slots:
    void pollWhileControlling();
    void createOnOneThreadUseOnAnother();
    void twoEnginesSideBySide();
};

namespace {

struct Poller {
    explicit Poller(PlayEngine* engine) : e(engine) {}
    PlayEngine* e;
    std::atomic<bool> quit{false};
    std::atomic<int> calls{0};
    std::atomic<int> failures{0};
    std::atomic<qint64> worstStateMs{0};
    std::atomic<qint64> worstTextMs{0};
    std::atomic<qint64> worstOtherMs{0};
    QByteArray failure;

    static void bumpMax(std::atomic<qint64>& v, qint64 x)
    {
        qint64 cur = v.load();
        while (x > cur && !v.compare_exchange_weak(cur, x)) {
        }
    }

    void run(bool heavy)
    {
        QElapsedTimer t;
        while (!quit.load()) {
            t.start();
            GstState s;
            if (ENG(e, get_state, &s) != PLAYENGINE_SUCCESS)
                failures++;
            bumpMax(worstStateMs, t.elapsed());

            t.start();
            char buf[512];
            guint64 pts = 0, dur = 0;
            if (ENG(e, get_subtitle_text, buf, 512u, &pts, &dur) != PLAYENGINE_SUCCESS)
                failures++;
            else if (!memchr(buf, 0, sizeof(buf)))
                failure = "unterminated subtitle text";
            bumpMax(worstTextMs, t.elapsed());

            t.start();
            gint64 v;
            ENG(e, get_position, &v);
            ENG(e, get_duration, &v);
            gint n;
            ENG(e, get_cur_audio_no, &n);
            ENG(e, get_audio_num, &n);
            if (heavy) {
                korin_metadata m;
                ENG(e, get_metadata, &m);
                gdouble vol;
                ENG(e, get_volume, &vol);
                gboolean seekable;
                ENG(e, get_seekable, &seekable);
            }
            bumpMax(worstOtherMs, t.elapsed());
            calls++;
            QThread::msleep(heavy ? 7 : 3);
        }
    }
};

} // namespace

#define STEP(call)                                                                             \
    do {                                                                                       \
        QElapsedTimer stepTimer;                                                               \
        stepTimer.start();                                                                     \
        PlayEngineResult stepResult = (call);                                                  \
        QVERIFY2(stepResult == PLAYENGINE_SUCCESS,                                             \
                 qPrintable(QStringLiteral("%1 gave %2 (round %3)").arg(#call).arg(stepResult) \
                                .arg(round)));                                                 \
        QVERIFY2(stepTimer.elapsed() < 10500, #call " took too long");                        \
    } while (0)

void TestThreads::pollWhileControlling()
{
    REQUIRE_MEDIA("multi.mkv");
    REQUIRE_MEDIA("subs.mp4");
    XWindow window;
    QVERIFY(window.ok());
    EventLog log;
    Engine e(&log);
    QVERIFY(e.get());
    ENG(e, set_text_sink, "appsink");
    ENG(e, set_window, window.id());

    Poller light(e.get()), heavy(e.get());
    QThread* t1 = QThread::create([&] { light.run(false); });
    QThread* t2 = QThread::create([&] { heavy.run(true); });
    t1->start();
    t2->start();

    for (int round = 0; round < 3; round++) {
        const char* file = round == 1 ? "subs.mp4" : "multi.mkv";
        STEP(ENG(e, set_file, mediaPath(file).constData()));
        if (round == 1)
            STEP(ENG(e, set_subtitle_uri, mediaPath("subs.srt").constData()));
        STEP(ENG(e, pause));
        STEP(ENG(e, play));
        QThread::msleep(150);
        STEP(ENG(e, seek, (guint64)(3 * kSecond), TRUE));
        STEP(ENG(e, set_play_rate, 2.0));
        QThread::msleep(150);
        STEP(ENG(e, set_play_rate, 1.0));
        if (round != 1) {
            STEP(ENG(e, select_audio, 1));
            STEP(ENG(e, select_subtitle, 0));
            // Let the switch settle before pausing: a pause and seek right
            // after a switch is tst_tracks_subtitles' business.
            QThread::msleep(400);
        }
        STEP(ENG(e, set_volume, 0.5));
        STEP(ENG(e, set_mute, TRUE));
        STEP(ENG(e, pause));
        STEP(ENG(e, seek, (guint64)kSecond, FALSE));
        STEP(ENG(e, set_rotate, 90));
        STEP(ENG(e, play));
        QThread::msleep(150);
        STEP(ENG(e, set_play_rate, -1.0));
        QThread::msleep(150);
        STEP(ENG(e, stop));
        STEP(ENG(e, play));
        QThread::msleep(100);
        STEP(ENG(e, stop));
        STEP(ENG(e, set_rotate, 0));
        STEP(ENG(e, set_mute, FALSE));
    }
    // Subtitle text and state keep being answered during a failed load too.
    ENG(e, set_file, mediaPath("bad-random.mkv").constData());
    QVERIFY(ENG(e, pause) != PLAYENGINE_SUCCESS);
    QCOMPARE(ENG(e, stop), PLAYENGINE_SUCCESS);

    light.quit = true;
    heavy.quit = true;
    QVERIFY2(t1->wait(10000), "light poller stuck");
    QVERIFY2(t2->wait(10000), "heavy poller stuck");
    delete t1;
    delete t2;

    QVERIFY2(light.failure.isEmpty(), light.failure.constData());
    QVERIFY2(heavy.failure.isEmpty(), heavy.failure.constData());
    QCOMPARE(light.failures.load() + heavy.failures.load(), 0);
    QVERIFY2(light.calls.load() > 100, qPrintable(QString::number(light.calls.load())));
    QVERIFY(heavy.calls.load() > 20);
    // get_state and get_subtitle_text never wait for an operation in
    // progress; the slowest answer stays far below a state change's wait.
    QVERIFY2(light.worstStateMs.load() < 1000,
             qPrintable(QStringLiteral("get_state took %1 ms").arg(light.worstStateMs.load())));
    QVERIFY2(light.worstTextMs.load() < 1000,
             qPrintable(QStringLiteral("get_subtitle_text took %1 ms").arg(light.worstTextMs.load())));
    QVERIFY2(heavy.worstOtherMs.load() < 11000, "a getter stalled");
}

void TestThreads::createOnOneThreadUseOnAnother()
{
    REQUIRE_MEDIA("colours.mp4");
    // Created on the "GUI" thread, used only on the worker, destroyed on the
    // GUI thread again, like the camera's thumbnailer.
    PlayEngine* e = nullptr;
    QThread* creator = QThread::create([&] {
        e = play_engine_create();
        if (e) {
            ENG(e, set_text_sink, "appsink");
            ENG(e, set_video_sink, "fakesink");
        }
    });
    creator->start();
    QVERIFY(creator->wait(10000));
    delete creator;
    QVERIFY(e);

    std::atomic<int> good{0};
    QByteArray problem;
    QThread* worker = QThread::create([&] {
        for (int i = 0; i < 3; i++) {
            ENG(e, set_file, mediaPath("colours.mp4").constData());
            if (ENG(e, pause) != PLAYENGINE_SUCCESS) {
                problem = "pause failed";
                return;
            }
            korin_image_info info{};
            if (ENG(e, get_video_thumbnail, i == 1 ? 3 : 1, &info) != PLAYENGINE_SUCCESS ||
                !info.image || info.width != 320) {
                problem = "thumbnail failed";
                return;
            }
            const guint8* p = info.image + (info.size / info.height) * 120 + 160 * 3;
            bool red = p[0] > 200 && p[2] < 60, blue = p[2] > 200 && p[0] < 60;
            if (i == 1 ? !blue : !red) {
                problem = "wrong frame";
                return;
            }
            if (ENG(e, stop) != PLAYENGINE_SUCCESS) {
                problem = "stop failed";
                return;
            }
            good++;
        }
    });
    worker->start();
    QVERIFY2(worker->wait(60000), "thumbnail worker stuck");
    delete worker;
    QVERIFY2(problem.isEmpty(), problem.constData());
    QCOMPARE(good.load(), 3);
    ENG(e, stop_wait_state_change);
    play_engine_destroy(e);
}

void TestThreads::twoEnginesSideBySide()
{
    REQUIRE_MEDIA("clip.mp4");
    REQUIRE_MEDIA("clip.mkv");
    // The camera's thumbnailer and a player each with their own engine.
    std::atomic<int> done{0};
    QByteArray problemA, problemB;
    auto player = [&](const char* file, QByteArray* problem) {
        EventLog log;
        Engine e(&log);
        if (!e.get()) {
            *problem = "create failed";
            return;
        }
        ENG(e, set_file, mediaPath(file).constData());
        if (ENG(e, play) != PLAYENGINE_SUCCESS) {
            *problem = "play failed";
            return;
        }
        if (waitForPositionAbove(e, kSecond, 6000) < 0) {
            *problem = "does not advance";
            return;
        }
        ENG(e, seek, (guint64)(3 * kSecond), TRUE);
        if (log.waitFor(EVENT_ID_EOS, 6000) < 0) {
            *problem = "no EOS";
            return;
        }
        if (log.countOf(EVENT_ID_ERROR)) {
            *problem = "error event";
            return;
        }
        done++;
    };
    QThread* a = QThread::create([&] { player("clip.mp4", &problemA); });
    QThread* b = QThread::create([&] { player("clip.mkv", &problemB); });
    a->start();
    b->start();
    QVERIFY2(a->wait(30000), "first engine stuck");
    QVERIFY2(b->wait(30000), "second engine stuck");
    delete a;
    delete b;
    QVERIFY2(problemA.isEmpty(), problemA.constData());
    QVERIFY2(problemB.isEmpty(), problemB.constData());
    QCOMPARE(done.load(), 2);
}

QTEST_GUILESS_MAIN(TestThreads)
#include "tst_threads.moc"
