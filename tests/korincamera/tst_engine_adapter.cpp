// The engine adapter against a scripted engine table: what it does with an
// engine's bad answers, failures and events from the engine's own threads.
#include <QtTest>
#include <thread>

#include "engine_adapter.h"
#include "engine_jobs.h"
#include "fake_recorder.h"

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
        return std::exchange(m_log, QStringList());
    }

private slots:
    void initTestCase()
    {
        EngineAdapter::setEngineFactory(fake::create);
        m_adapter = new EngineAdapter;
        m_adapter->moveToThread(&m_thread);
        m_thread.start();
        const Qt::ConnectionType q = Qt::QueuedConnection;
        connect(m_adapter, &EngineAdapter::errorOccur, this, [this](QString s, int) { m_log << "error " + s; }, q);
        connect(m_adapter, &EngineAdapter::engineWorkDone, this,
                [this](int op, int r) { m_log << QString("done %1 %2").arg(op).arg(r); }, q);
        connect(m_adapter, &EngineAdapter::engineStateChanged, this, [this](int s) { m_log << QString("state %1").arg(s); }, q);
        connect(m_adapter, &EngineAdapter::updateCapability, this, [this]() { m_log << "caps"; }, q);
        connect(m_adapter, &EngineAdapter::limitReached, this, [this](int e) { m_log << QString("limit %1").arg(e); }, q);
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
        onEngine([this] {
            m_adapter->engine_create(true);
            m_adapter->engine_init();
            m_adapter->engine_prepare(false);
        });
        takeLog();
        fake::clear();
    }

    // The capability walk ends at the end code (at once for a camera with
    // none), at any other failure, or at 256 entries for an engine that never
    // ends it, and always completes. After a failed prepare the list is
    // emptied and not announced.
    void capabilities()
    {
        struct Row { int offered; REresult end; int kept; };
        for (const Row& row : {Row{0, RE_NO_MORE_CAPABILITIES, 0}, Row{1, 7, 1}, Row{300, 0, 256}}) {
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
        QCOMPARE(takeLog(), QStringList({"error engine prepare failed."}));
        QVERIFY(m_adapter->getCapabilities().isEmpty() && !m_adapter->updateCapabilityCompleted());
    }

    // A path that does not fit, or that the engine refuses, is refused, and
    // no capture then writes to the previous path; a UTF-8 path reaches the
    // engine whole.
    void refusedPath()
    {
        const QString path = QString::fromUtf8("/home/jos\xc3\xa9/v\xc3\xad" "deo_\xe2\x82\xac.mp4");
        const QString tooLong = "/tmp/" + QString(1019, QChar(0xe9)); // 2 bytes each in UTF-8
        onEngine([&] {
            m_adapter->set_output_file_path(path);
            m_adapter->set_output_file_path(tooLong);
            m_adapter->takeSnapShot();
            m_adapter->takeVideoRecording();
        });
        QCOMPARE(fake::names(), QStringList({"set_output_file_path"}));
        QCOMPARE(QString::fromUtf8(fake::calls().first().text), path);
        QCOMPARE(takeLog().filter("error").size(), 3);
        fake::setResult("set_output_file_path", 1);
        onEngine([this] { m_adapter->set_output_file_path("/tmp/a.jpg"); m_adapter->takeSnapShot(); });
        QVERIFY(fake::calls("take_snapshot").isEmpty());
        QCOMPARE(EngineAdapter::m_engineState.load(), PREVIREW);
    }

    // A failed capture says where and why when the folder is at fault; a
    // start that fails for another reason says only that. A second stop
    // ends nothing and reports nothing.
    void failuresSayWhy()
    {
        QTemporaryDir dir;
        fake::setResult("take_snapshot", 4);
        fake::setResult("start", 3);
        const QString missing = dir.filePath("gone");
        onEngine([&] {
            m_adapter->set_output_file_path(missing + "/a.jpg");
            m_adapter->takeSnapShot();
            m_adapter->set_output_file_path(dir.filePath("b.jpg"));
            m_adapter->takeSnapShot();
            m_adapter->takeVideoRecording();
        });
        QCOMPARE(takeLog().filter("error"),
                 QStringList({"error Cannot save to " + missing + ": the folder is missing",
                              "error Cannot save to " + dir.path() + ": write error",
                              "error start recording failed"}));
        fake::setResult("start", 0);
        onEngine([this] { m_adapter->takeVideoRecording(); m_adapter->stopVideoRecording(); });
        takeLog();
        onEngine([this] { m_adapter->stopVideoRecording(); });
        QCOMPARE(takeLog(), QStringList());
        QCOMPARE(fake::calls("stop").size(), 1);
    }

    void events_data()
    {
        QTest::addColumn<QString>("before"); // what was done before the event
        QTest::addColumn<uint>("event");
        QTest::addColumn<QStringList>("log");
        const QStringList stopped = {"state 1", "done 2 0"}, error = {"error record engine meet unknown error"};
        QTest::newRow("duration, recording") << "record" << uint(RE_EVENT_MAX_DURATION) << stopped + QStringList("limit 3");
        QTest::newRow("size, paused") << "pause" << uint(RE_EVENT_MAX_FILESIZE) << stopped + QStringList("limit 4");
        QTest::newRow("size after the user's stop") << "stop" << uint(RE_EVENT_MAX_FILESIZE) << QStringList();
        QTest::newRow("error, recording") << "record" << uint(RE_EVENT_ERROR) << error + stopped;
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
        onEngine([this, before] {
            m_adapter->set_output_file_path(QDir::tempPath() + "/e.mp4");
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
