// The engine adapter against a scripted engine table: failures and events
// from the engine's threads (with the real engine: camera_window).
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

    template <typename F> void onEngine(F f) { enginejobs::run(m_adapter, f); }
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
        connect(m_adapter, &EngineAdapter::limitReached, this, [this](int e) { m_log << QString("limit %1").arg(e); }, q);
    }

    void cleanupTestCase()
    {
        onEngine([this] { m_adapter->engine_destroy(); });
        m_thread.quit();
        QVERIFY(m_thread.wait());
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

    // A path that does not fit, or that the engine refuses, is refused and
    // no capture writes to the previous one; a UTF-8 path reaches the engine
    // whole. A failed capture says where and why when the folder is at
    // fault, a start failing otherwise only that. A second stop ends nothing.
    void failures()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QString::fromUtf8("v\xc3\xad" "deo_\xe2\x82\xac.mp4"));
        const QString missing = dir.filePath("gone");
        fake::setResult("take_snapshot", 4);
        fake::setResult("start", 3);
        onEngine([&] {
            m_adapter->set_output_file_path(path);
            m_adapter->set_output_file_path("/tmp/" + QString(1019, QChar(0xe9))); // 2 bytes each in UTF-8
            m_adapter->takeSnapShot();
            m_adapter->set_output_file_path(missing + "/a.jpg");
            m_adapter->takeSnapShot();
            m_adapter->set_output_file_path(dir.filePath("b.jpg"));
            m_adapter->takeSnapShot();
            m_adapter->takeVideoRecording();
        });
        QCOMPARE(QString::fromUtf8(fake::calls("set_output_file_path").first().text), path);
        QCOMPARE(fake::calls("take_snapshot").size(), 2);
        QCOMPARE(takeLog().filter("error").mid(2),
                 QStringList({"error Cannot save to " + missing + ": the folder is missing",
                              "error Cannot save to " + dir.path() + ": write error",
                              "error start recording failed"}));
        fake::clear();
        fake::setResult("set_output_file_path", 1);
        onEngine([this] { m_adapter->set_output_file_path("/tmp/a.jpg"); m_adapter->takeSnapShot(); });
        fake::setResult("set_output_file_path", 0);
        onEngine([this] {
            m_adapter->set_output_file_path("/tmp/a.mp4");
            m_adapter->takeVideoRecording();
            m_adapter->stopVideoRecording();
        });
        takeLog();
        onEngine([this] { m_adapter->stopVideoRecording(); });
        QCOMPARE(takeLog(), QStringList());
        QCOMPARE(fake::names(), QStringList({"set_output_file_path", "set_output_file_path", "start", "stop"}));
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
        fake::clear();
        std::thread t([event] { QCOMPARE(event_handler(fake::st().context, event, nullptr), REresult(0)); });
        t.join();
        QCOMPARE(takeLog(), log);
        QCOMPARE(fake::calls("stop").size(), log.contains("done 2 0") ? 1 : 0);
        for (const fake::Call& c : fake::calls())
            QCOMPARE(c.thread, &m_thread);
    }
};

QTEST_GUILESS_MAIN(TestEngineAdapter)
#include "tst_engine_adapter.moc"
