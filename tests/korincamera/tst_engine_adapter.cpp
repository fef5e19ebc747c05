// The engine adapter against a scripted engine table: the calls it makes, on
// which thread, and the signals it answers with.
#include <QtTest>
#include <thread>

#include "engine_adapter.h"
#include "engine_jobs.h"
#include "fake_recorder.h"

Q_DECLARE_METATYPE(RERawVideoSettings)

class TestEngineAdapter : public QObject
{
    Q_OBJECT

    QThread m_thread;
    EngineAdapter* m_adapter = nullptr;
    QStringList m_log; // signals as they reach this (the test's) thread

    template <typename F>
    void onEngine(F f) { enginejobs::run(m_adapter, f); }
    // The signals of everything done so far, once they have all arrived.
    QStringList takeLog()
    {
        onEngine([] {});
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        return std::exchange(m_log, QStringList());
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

    // create/init/prepare on the engine thread, a second create, and a
    // missing engine.
    void lifecycle()
    {
        onEngine([this] {
            m_adapter->engine_create(true);
            m_adapter->engine_init();
            m_adapter->set_preview_win_id(0); // refused: never reaches the engine
            m_adapter->engine_prepare(true);
        });
        QCOMPARE(fake::names(), QStringList({"init", "register_event_handler", "prepare", "get_camera_capabilities"}));
        for (const fake::Call& c : fake::calls())
            QCOMPARE(c.thread, &m_thread);
        QVERIFY(fake::st().context == m_adapter && fake::st().handler == event_handler);
        QCOMPARE(takeLog(), QStringList({"caps"}));

        // An engine exists: no-op without force.
        const int created = fake::st().created;
        onEngine([this] { m_adapter->engine_create(false); });
        QCOMPARE(fake::st().created, created);

        // Forced: the engine in use is closed and deleted first. Creation
        // fails: reported, and no slot touches the missing table.
        EngineAdapter::setEngineFactory(fake::createNone);
        fake::clear();
        // (Setters, prepare and close without an engine run in camera_window.)
        onEngine([this] {
            m_adapter->engine_create(true);
            m_adapter->get_media_time();
            m_adapter->reset();
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
    }

    // The capability walk ends at the end code (at once for a camera with
    // none), at any other failure, or at 256 entries for an engine that never
    // ends it, and always completes. After a failed prepare the list is
    // emptied and not announced (a failed reset, and the list coming back
    // after a good one, are in camera_dialogs).
    void capabilities()
    {
        startEngine();
        struct Row { int offered; REresult end; int kept; };
        for (const Row& row : {Row{0, RE_NO_MORE_CAPABILITIES, 0}, Row{1, RE_NO_MORE_CAPABILITIES, 1},
                               Row{1, 7, 1}, Row{300, 0, 256}}) {
            fake::setCaps(QVector<RERawVideoSettings>(row.offered, {0, 1280, 720, 25}), row.end);
            m_adapter->setUpdateCapabilityCompleted(false);
            onEngine([this] { m_adapter->get_camera_capebilities(); });
            QCOMPARE(takeLog(), QStringList({"caps"}));
            QVERIFY(m_adapter->updateCapabilityCompleted());
            QCOMPARE(m_adapter->getCapabilities().size(), row.kept);
        }

        fake::setResult("prepare", 1);
        m_adapter->setUpdateCapabilityCompleted(false);
        onEngine([this] { m_adapter->engine_prepare(true); m_adapter->get_camera_capebilities(); });
        QCOMPARE(takeLog(), QStringList({"error engine prepare failed. 0"}));
        QVERIFY(m_adapter->getCapabilities().isEmpty());
        QVERIFY(!m_adapter->updateCapabilityCompleted());
    }

    // A refused setting is reported; paths, hosts and 64-bit sizes reach the
    // engine whole, an empty host as none; a host or path that does not fit
    // is refused, and no capture then writes to the previous path.
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
            m_adapter->set_rtp_host(QString(32, 'h'), 1);
        });
        QCOMPARE(takeLog(), QStringList({"error set container format failed. 0",
                                         "error set rtp host failed: the host name is too long 0"}));
        QCOMPARE(QString::fromUtf8(fake::calls("set_output_file_path").first().text), path);
        QCOMPARE(fake::calls("set_max_file_size_bytes").first().value, 5000000000ull);
        QCOMPARE(fake::calls("set_rtp_host").size(), 1);
        QVERIFY(fake::calls("set_rtp_host").first().text.isNull());

        fake::clear();
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
        // An engine made anew holds no path: refused until one is set.
        onEngine([this] { m_adapter->engine_create(true); m_adapter->takeSnapShot(); });
        QCOMPARE(fake::calls("take_snapshot").size(), 1);
        QVERIFY(takeLog().contains("error take snapshot refused: no valid output file path 0"));
    }

    // Captures the engine fails (good ones are seen with the real engine in
    // camera_adapter_engine).
    void failedCaptures()
    {
        startEngine();
        onEngine([this] { m_adapter->set_output_file_path("/tmp/clip.mp4"); });
        // Failed start: back to preview, an error, and no engineWorkDone.
        fake::setResult("start", 3);
        onEngine([this] { m_adapter->takeVideoRecording(); });
        QCOMPARE(takeLog(), QStringList({"state 2", "state 1", "error start recording failed 0"}));
        fake::setResult("start", 0);

        // Failed stop: still the end of the recording, with the result.
        fake::setResult("stop", 9);
        onEngine([this] { m_adapter->takeVideoRecording(); m_adapter->stopVideoRecording(); });
        QCOMPARE(takeLog(), QStringList({"state 2", "state 1", "error stop recording failed 0", "done 2 9"}));

        fake::setResult("take_snapshot", 4);
        onEngine([this] { m_adapter->takeSnapShot(); });
        QCOMPARE(takeLog(), QStringList({"state 2", "error take snapshot failed 0", "state 1", "done 1 4"}));
        QCOMPARE(EngineAdapter::m_engineState.load(), PREVIREW);
    }

    // A tap pauses and resumes the recording: the engine's pause and resume,
    // PAUSE and back to RUNNING, work done for the
    // pause only; a stop from the pause ends the recording.
    void pauseResume()
    {
        startEngine();
        onEngine([this] { m_adapter->set_output_file_path("/tmp/p.mp4"); m_adapter->takeVideoRecording(); });
        takeLog();
        onEngine([this] { m_adapter->pauseVideoRecording(); });
        QCOMPARE(takeLog(), QStringList({"state 3", "done 0 0"}));
        QCOMPARE(EngineAdapter::m_engineState.load(), PAUSE);
        onEngine([this] { m_adapter->resumeVideoRecording(); m_adapter->pauseVideoRecording(); });
        QCOMPARE(takeLog(), QStringList({"state 2", "state 3", "done 0 0"}));
        onEngine([this] { m_adapter->stopVideoRecording(); });
        QCOMPARE(takeLog(), QStringList({"state 1", "done 2 0"}));
        QCOMPARE(fake::names(), QStringList({"set_output_file_path", "start", "pause", "resume", "pause", "stop"}));
    }

    void events_data()
    {
        QTest::addColumn<QString>("before"); // what was done before the event
        QTest::addColumn<uint>("event");
        QTest::addColumn<QStringList>("log");
        const QStringList stopped = {"state 1", "done 2 0"}, error = {"error record engine meet unknown error 0"};
        QTest::newRow("duration, recording") << "record" << uint(RE_EVENT_MAX_DURATION) << stopped;
        QTest::newRow("size, paused") << "pause" << uint(RE_EVENT_MAX_FILESIZE) << stopped;
        QTest::newRow("size after the user's stop") << "stop" << uint(RE_EVENT_MAX_FILESIZE) << QStringList();
        QTest::newRow("error, recording") << "record" << uint(RE_EVENT_ERROR) << stopped + error;
        QTest::newRow("error, preview") << "" << uint(RE_EVENT_ERROR) << error;
        QTest::newRow("preview buffer") << "record" << uint(RE_EVENT_PREVIEW_BUFFER) << QStringList();
        QTest::newRow("unknown") << "record" << 99u << QStringList();
    }
    // Engine events come on a thread of the engine; the stop runs on the
    // engine thread and only when a recording (paused or not) is under way.
    void events()
    {
        QFETCH(QString, before);
        QFETCH(uint, event);
        QFETCH(QStringList, log);
        startEngine();
        onEngine([this, before] {
            m_adapter->set_output_file_path("/tmp/e.mp4");
            if (!before.isEmpty())
                m_adapter->takeVideoRecording();
            if (before == "pause")
                m_adapter->pauseVideoRecording();
            if (before == "stop")
                m_adapter->stopVideoRecording();
        });
        takeLog();
        const int stops = fake::calls("stop").size();
        std::thread t([event] { QCOMPARE(event_handler(fake::st().context, event, nullptr), REresult(0)); });
        t.join();
        QCOMPARE(takeLog(), log);
        const QVector<fake::Call> calls = fake::calls("stop");
        QCOMPARE(calls.size(), stops + (log.contains("done 2 0") ? 1 : 0));
        QCOMPARE(calls.value(0).thread, calls.isEmpty() ? nullptr : &m_thread);
    }
};

QTEST_GUILESS_MAIN(TestEngineAdapter)
#include "tst_engine_adapter.moc"
