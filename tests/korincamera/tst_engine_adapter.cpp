// The engine adapter against a scripted engine table: the calls it makes, on
// which thread, and the signals it answers with.
#include <QtTest>
#include <condition_variable>
#include <functional>
#include <thread>

#include "engine_adapter.h"
#include "fake_recorder.h"

Q_DECLARE_METATYPE(RERawVideoSettings)

class TestEngineAdapter : public QObject
{
    Q_OBJECT

    QThread m_thread;
    EngineAdapter* m_adapter = nullptr;
    QStringList m_log; // signals as they reach this (the test's) thread

    // Runs f on the engine thread and waits for it. The job is handed over
    // through std::mutex/condition_variable (the queued call carries no
    // data) so that race checkers see the ordering.
    template <typename F>
    void onEngine(F f)
    {
        Handover& h = handover();
        std::unique_lock<std::mutex> l(h.m);
        h.job = f;
        h.finished = false;
        QMetaObject::invokeMethod(m_adapter, [] { runHandedOver(); }, Qt::QueuedConnection);
        h.cv.wait(l, [&h] { return h.finished; });
    }
    struct Handover {
        std::mutex m;
        std::condition_variable cv;
        std::function<void()> job;
        bool finished = false;
    };
    static Handover& handover()
    {
        static Handover h;
        return h;
    }
    static void runHandedOver()
    {
        Handover& h = handover();
        std::lock_guard<std::mutex> l(h.m);
        h.job();
        h.job = nullptr;
        h.finished = true;
        h.cv.notify_all();
    }
    // Lets the queued signals of everything done so far arrive.
    void settle()
    {
        onEngine([] {});
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
    QStringList takeLog()
    {
        settle();
        QStringList l = m_log;
        m_log.clear();
        return l;
    }
    void startEngine()
    {
        onEngine([this] {
            m_adapter->engine_create(true);
            m_adapter->engine_init();
            m_adapter->engine_prepare(false);
        });
        takeLog();
        fake::clear();
    }

private slots:
    void initTestCase()
    {
        EngineAdapter::setEngineFactory(fake::create);
        m_adapter = new EngineAdapter;
        m_adapter->moveToThread(&m_thread);
        m_thread.start();
        const Qt::ConnectionType q = Qt::QueuedConnection;
        connect(m_adapter, &EngineAdapter::errorOccur, this,
                [this](QString s, int level) { m_log << QString("error %1 %2").arg(s).arg(level); }, q);
        connect(m_adapter, &EngineAdapter::engineWorkDone, this,
                [this](int op, int r) { m_log << QString("done %1 %2").arg(op).arg(r); }, q);
        connect(m_adapter, &EngineAdapter::engineStateChanged, this,
                [this](int s) { m_log << QString("state %1").arg(s); }, q);
        connect(m_adapter, &EngineAdapter::updateRecordingTime, this,
                [this](quint64 t) { m_log << QString("time %1").arg(t); }, q);
        connect(m_adapter, &EngineAdapter::updateCapability, this,
                [this]() { m_log << "caps"; }, q);
    }

    void cleanupTestCase()
    {
        onEngine([this] { m_adapter->engine_destroy(); });
        m_thread.quit();
        m_thread.wait();
        delete m_adapter;
    }

    void init()
    {
        fake::clear();
        m_log.clear();
        EngineAdapter::setEngineFactory(fake::create);
    }

    // create/init/prepare order, the forced re-create, and a missing engine.
    void lifecycle()
    {
        onEngine([this] {
            m_adapter->engine_create(true);
            m_adapter->engine_init();
            m_adapter->set_camera_id(0xFFFFFFFFu);
            m_adapter->set_preview_win_id(0x1234);
            m_adapter->set_preview_win_id(0); // refused: never reaches the engine
            m_adapter->engine_prepare(true);
        });
        QCOMPARE(fake::names(), QStringList({"init", "register_event_handler", "set_camera_id",
                                             "set_preview_win_id", "prepare", "get_camera_capabilities"}));
        QCOMPARE(fake::calls("set_camera_id").first().value, 0xFFFFFFFFull);
        QCOMPARE(fake::calls("set_preview_win_id").first().value, 0x1234ull);
        for (const fake::Call& c : fake::allCalls())
            QCOMPARE(c.thread, &m_thread);
        QCOMPARE(fake::context(), static_cast<void*>(m_adapter));
        QVERIFY(fake::st().handler == event_handler);
        QCOMPARE(takeLog(), QStringList({"caps"}));
        QVERIFY(m_adapter->updateCapabilityCompleted());

        // An engine exists: no-op without force, destroy first with it.
        const int created = fake::createdCount();
        onEngine([this] { m_adapter->engine_create(false); });
        QCOMPARE(fake::createdCount(), created);
        QVERIFY(takeLog().isEmpty());
        fake::clear();
        onEngine([this] { m_adapter->engine_create(true); });
        QCOMPARE(fake::names(), QStringList({"close", "delete_it"}));
        QCOMPARE(fake::createdCount(), created + 1);
        QCOMPARE(takeLog(), QStringList({"state 2", "state 1", "done 0 0"}));

        // Creation fails: reported, and no slot touches the missing table.
        EngineAdapter::setEngineFactory(fake::createNone);
        fake::clear();
        onEngine([this] {
            m_adapter->engine_create(true);
            m_adapter->engine_init();
            m_adapter->set_audio_source(1);
            m_adapter->engine_prepare(true);
            m_adapter->get_media_time();
            m_adapter->reset();
            m_adapter->engine_close();
            m_adapter->set_output_file_path("/tmp/x.mp4");
            m_adapter->takeVideoRecording();
            m_adapter->takeSnapShot();
        });
        QCOMPARE(fake::names(), QStringList({"close", "delete_it"}));
        const QStringList log = takeLog();
        QCOMPARE(log.mid(0, 4), QStringList({"state 2", "state 1", "done 0 0", "error RecorderEngineCreate fail 0"}));
        QVERIFY(log.contains("error start recording failed: no recorder engine 0"));
        QCOMPARE(log.filter("done 1").size(), 1);
        QVERIFY(log.filter("done 2").isEmpty());
        QCOMPARE(EngineAdapter::m_engineState.load(), PREVIREW);
        EngineAdapter::setEngineFactory(fake::create);
        onEngine([this] { m_adapter->engine_create(true); });
        bool haveEngine = false;
        onEngine([&haveEngine] { haveEngine = EngineAdapter::m_recorder != nullptr; });
        QVERIFY(haveEngine);
    }

    // The capability walk: normal end, empty list, other end codes, a runaway
    // engine, and a failed prepare or reset.
    void capabilities()
    {
        startEngine();
        fake::setCaps({{0, 640, 480, 30}, {0, 1280, 720, 25}});
        onEngine([this] { m_adapter->engine_prepare(true); });
        QCOMPARE(takeLog(), QStringList({"caps"}));
        QVector<CameraCapabilities> caps = m_adapter->getCapabilities();
        QCOMPARE(caps.size(), 2);
        QCOMPARE(caps[1].width, 1280);
        QCOMPARE(caps[1].height, 720);
        QCOMPARE(caps[1].frame_rate, 25);

        fake::setCaps({});
        m_adapter->setUpdateCapabilityCompleted(false);
        onEngine([this] { m_adapter->get_camera_capebilities(); });
        QCOMPARE(takeLog(), QStringList({"caps"}));
        QVERIFY(m_adapter->getCapabilities().isEmpty());
        QVERIFY(m_adapter->updateCapabilityCompleted());

        // A failure code other than 10 still ends the walk and completes it.
        fake::setCaps({{0, 320, 240, 15}}, 7);
        m_adapter->setUpdateCapabilityCompleted(false);
        onEngine([this] { m_adapter->get_camera_capebilities(); });
        QCOMPARE(takeLog(), QStringList({"caps"}));
        QCOMPARE(m_adapter->getCapabilities().size(), 1);
        QVERIFY(m_adapter->updateCapabilityCompleted());

        fake::setCaps({}, RE_NO_MORE_CAPABILITIES, true);
        onEngine([this] { m_adapter->get_camera_capebilities(); });
        QCOMPARE(takeLog(), QStringList({"caps"}));
        QCOMPARE(m_adapter->getCapabilities().size(), 256);
        fake::setCaps({});

        // After a failed prepare the list is emptied and not announced.
        fake::setResult("prepare", 1);
        m_adapter->setUpdateCapabilityCompleted(false);
        onEngine([this] { m_adapter->engine_prepare(true); m_adapter->get_camera_capebilities(); });
        QCOMPARE(takeLog(), QStringList({"error engine prepare failed. 0"}));
        QVERIFY(m_adapter->getCapabilities().isEmpty());
        QVERIFY(!m_adapter->updateCapabilityCompleted());
        fake::setResult("reset", 2);
        onEngine([this] { m_adapter->reset(); });
        QCOMPARE(takeLog(), QStringList({"error engine reset failed 3"}));
        fake::setResult("reset", 0);
        onEngine([this] { m_adapter->reset(); m_adapter->get_camera_capebilities(); });
        QCOMPARE(takeLog(), QStringList({"caps"}));
    }

    // Setters store what they are given, pass it on, and report refusals;
    // paths and hosts are copied whole and checked against their buffers.
    void settersAndPaths()
    {
        startEngine();
        fake::setResult("set_container_format", 5);
        const QString path = QString::fromUtf8("/home/jos\xc3\xa9/v\xc3\xad" "deo_\xe2\x82\xac.mp4");
        onEngine([this, path] {
            m_adapter->set_container_format(3);
            m_adapter->set_max_file_size_bytes(5000000000ull);
            m_adapter->set_output_file_path(path);
            m_adapter->set_rtp_host(QString(), 5000);
        });
        QCOMPARE(takeLog(), QStringList({"error set container format failed. 0"}));
        {
            std::lock_guard<std::mutex> l(*m_adapter->optionsMutex());
            const REOptions* o = m_adapter->getOptions();
            QCOMPARE(o->container_format, 3u); // kept although refused
            QCOMPARE(o->file_size, 5000000000ull);
            QCOMPARE(QString::fromUtf8(o->path), path);
            QCOMPARE(o->host[0], '\0');
            QCOMPARE(o->port, 5000u);
        }
        QCOMPARE(QString::fromUtf8(fake::calls("set_output_file_path").first().text), path);
        QCOMPARE(fake::calls("set_max_file_size_bytes").first().value, 5000000000ull);
        QVERIFY(fake::calls("set_rtp_host").first().nullText);
        QCOMPARE(fake::calls("set_rtp_host").first().value, 5000ull);

        onEngine([this] { m_adapter->set_rtp_host("192.168.1.255", 5004); });
        QCOMPARE(fake::calls("set_rtp_host").last().text, QByteArray("192.168.1.255"));

        // A host that does not fit is refused and never reaches the engine.
        fake::clear();
        onEngine([this] { m_adapter->set_rtp_host(QString(32, 'h'), 1); });
        QVERIFY(fake::calls("set_rtp_host").isEmpty());
        QCOMPARE(takeLog().filter("set rtp host failed").size(), 1);

        // A path that does not fit: refused, and the next capture does not
        // write over the file of the previous path.
        const QString tooLong = "/tmp/" + QString(1019, QChar(0xe9)); // 2 bytes each in UTF-8
        onEngine([this, tooLong] { m_adapter->set_output_file_path(tooLong); });
        QVERIFY(fake::calls("set_output_file_path").isEmpty());
        QCOMPARE(takeLog().filter("set output file path failed").size(), 1);
        onEngine([this] { m_adapter->takeSnapShot(); m_adapter->takeVideoRecording(); });
        QVERIFY(fake::calls("take_snapshot").isEmpty());
        QVERIFY(fake::calls("start").isEmpty());
        QStringList log = takeLog();
        QCOMPARE(log.filter("refused").size(), 2);
        QVERIFY(log.contains("done 1 1"));
        QCOMPARE(log.last(), QString("error start recording refused: no valid output file path 0"));
        QCOMPARE(EngineAdapter::m_engineState.load(), PREVIREW);

        // The engine refusing the path counts the same.
        fake::setResult("set_output_file_path", 1);
        onEngine([this] { m_adapter->set_output_file_path("/tmp/a.jpg"); m_adapter->takeSnapShot(); });
        QVERIFY(fake::calls("take_snapshot").isEmpty());
        fake::setResult("set_output_file_path", 0);
        onEngine([this] { m_adapter->set_output_file_path("/tmp/a.jpg"); m_adapter->takeSnapShot(); });
        QCOMPARE(fake::calls("take_snapshot").size(), 1);
    }

    // Recording commands, with their states and results, including failures.
    void capture()
    {
        startEngine();
        onEngine([this] {
            m_adapter->set_output_file_path("/tmp/clip.mp4");
            m_adapter->takeVideoRecording();
        });
        QCOMPARE(takeLog(), QStringList({"state 2"}));
        QCOMPARE(EngineAdapter::m_engineState.load(), RUNNING);
        onEngine([this] { m_adapter->get_media_time(); m_adapter->pauseVideoRecording(); });
        QCOMPARE(takeLog(), QStringList({"time 1234567", "state 3", "done 0 0"}));
        onEngine([this] { m_adapter->resumeVideoRecording(); });
        QCOMPARE(takeLog(), QStringList({"state 2"})); // no engineWorkDone on resume
        onEngine([this] { m_adapter->stopVideoRecording(); });
        QCOMPARE(takeLog(), QStringList({"state 1", "done 2 0"}));
        QCOMPARE(fake::names().filter(QRegularExpression("^(start|pause|resume|stop)$")),
                 QStringList({"start", "pause", "resume", "stop"}));

        // Failed start: back to preview, an error, and no engineWorkDone.
        fake::setResult("start", 3);
        onEngine([this] { m_adapter->takeVideoRecording(); });
        QCOMPARE(takeLog(), QStringList({"state 2", "state 1", "error start recording failed 0"}));
        QCOMPARE(EngineAdapter::m_engineState.load(), PREVIREW);
        fake::setResult("start", 0);

        // Failed stop: still the end of the recording, with the result.
        fake::setResult("stop", 9);
        onEngine([this] { m_adapter->takeVideoRecording(); m_adapter->stopVideoRecording(); });
        QCOMPARE(takeLog(), QStringList({"state 2", "state 1", "error stop recording failed 0", "done 2 9"}));

        // Snapshot, good and failed.
        onEngine([this] { m_adapter->takeSnapShot(); });
        QCOMPARE(takeLog(), QStringList({"state 2", "state 1", "done 1 0"}));
        fake::setResult("take_snapshot", 4);
        onEngine([this] { m_adapter->takeSnapShot(); });
        QCOMPARE(takeLog(), QStringList({"state 2", "error take snapshot failed 0", "state 1", "done 1 4"}));
        QCOMPARE(EngineAdapter::m_engineState.load(), PREVIREW);
    }

    // Engine events come on a thread of the engine; the stop runs on the
    // engine thread and only when a recording is under way.
    void events()
    {
        startEngine();
        auto fire = [](REuint32 ev) {
            std::thread t([ev] { QCOMPARE(event_handler(fake::context(), ev, nullptr), REresult(0)); });
            t.join();
        };
        onEngine([this] { m_adapter->set_output_file_path("/tmp/e.mp4"); m_adapter->takeVideoRecording(); });
        takeLog();
        fire(RE_EVENT_MAX_DURATION);
        QTRY_COMPARE(m_log, QStringList({"state 1", "done 2 0"}));
        QCOMPARE(fake::calls("stop").size(), 1);
        QCOMPARE(fake::calls("stop").first().thread, &m_thread);
        m_log.clear();

        // A late duplicate (the user's stop came first) changes nothing.
        fire(RE_EVENT_MAX_FILESIZE);
        QVERIFY(takeLog().isEmpty());
        QCOMPARE(fake::calls("stop").size(), 1);

        // Size limit while paused.
        onEngine([this] { m_adapter->takeVideoRecording(); m_adapter->pauseVideoRecording(); });
        takeLog();
        fire(RE_EVENT_MAX_FILESIZE);
        QTRY_COMPARE(m_log, QStringList({"state 1", "done 2 0"}));
        m_log.clear();

        // Error during a recording: stopped, then reported.
        onEngine([this] { m_adapter->takeVideoRecording(); });
        takeLog();
        fire(RE_EVENT_ERROR);
        QTRY_COMPARE(m_log, QStringList({"state 1", "done 2 0", "error record engine meet unknown error 0"}));
        m_log.clear();

        // Error in preview: reported, but no recording is claimed to end.
        const int stops = fake::calls("stop").size();
        fire(RE_EVENT_ERROR);
        QTRY_COMPARE(m_log, QStringList({"error record engine meet unknown error 0"}));
        QCOMPARE(fake::calls("stop").size(), stops);
        m_log.clear();
        fire(RE_EVENT_PREVIEW_BUFFER);
        fire(99);
        QVERIFY(takeLog().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestEngineAdapter)
#include "tst_engine_adapter.moc"
