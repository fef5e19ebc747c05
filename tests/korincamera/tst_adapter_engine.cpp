// The adapter driving the real recorder engine (its test pattern, as with no
// camera): start-up and a 2 s recording with a pause, with the signals of
// each. Recordings that play are checked in capture_record (a pause leaves
// no gap) and camera_window; thumbnails and snapshots in camera_window.
#include <QtTest>
#include <QWidget>

#include "engine_adapter.h"
#include "engine_jobs.h"

class TestAdapterEngine : public QObject
{
    Q_OBJECT

    QThread m_thread;
    EngineAdapter* m_adapter = nullptr;
    QWidget m_preview;
    QStringList m_log;
    QTemporaryDir m_dir;

    template <typename F>
    void queue(F f) { enginejobs::post(m_adapter, f); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_preview.resize(320, 240);
        m_preview.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_preview));
        m_adapter = new EngineAdapter;
        m_adapter->moveToThread(&m_thread);
        m_thread.start();
        const Qt::ConnectionType q = Qt::QueuedConnection;
        connect(m_adapter, &EngineAdapter::errorOccur, this, [this](QString s, int) { m_log << "error " + s; }, q);
        connect(m_adapter, &EngineAdapter::engineWorkDone, this,
                [this](int op, int r) { m_log << QString("done %1 %2").arg(op).arg(r); }, q);
        connect(m_adapter, &EngineAdapter::engineStateChanged, this, [this](int s) { m_log << QString("state %1").arg(s); }, q);
        connect(m_adapter, &EngineAdapter::updateRecordingTime, this, [this](quint64 t) { if (t > 0) m_log << "time"; }, q);
        connect(m_adapter, &EngineAdapter::updateCapability, this, [this]() { m_log << "caps"; }, q);
    }

    void cleanupTestCase()
    {
        enginejobs::run(m_adapter, [this] {
            m_adapter->engine_close();
            m_adapter->engine_destroy();
        });
        m_thread.quit();
        m_thread.wait();
        delete m_adapter;
    }

    void startRecordStop()
    {
        const WId wid = m_preview.winId();
        queue([this, wid] {
            EngineAdapter* a = m_adapter;
            a->engine_create(true);
            a->engine_init();
            a->set_audio_source(1);
            a->set_camera_id(RE_CAMERA_ID_NONE);
            a->set_preview_win_id(wid);
            a->engine_prepare(true);
        });
        QTRY_VERIFY_WITH_TIMEOUT(m_log.contains("caps"), 15000);
        QVERIFY(!m_adapter->getCapabilities().isEmpty());
        QVERIFY2(m_log.filter("error").isEmpty(), qPrintable(m_log.join('|')));
        m_log.clear();

        const QString clip = m_dir.filePath(QString::fromUtf8("d\xc3\xa9j\xc3\xa0_clip.mp4"));
        queue([this, clip] { m_adapter->set_output_file_path(clip); m_adapter->takeVideoRecording(); });
        QTRY_COMPARE_WITH_TIMEOUT(EngineAdapter::m_engineState.load(), RUNNING, 5000);
        QTest::qWait(1000);
        queue([this] { m_adapter->pauseVideoRecording(); });
        QTest::qWait(500);
        queue([this] { m_adapter->resumeVideoRecording(); });
        QTest::qWait(1000);
        queue([this] { m_adapter->get_media_time(); m_adapter->stopVideoRecording(); });
        QTRY_VERIFY_WITH_TIMEOUT(m_log.contains("done 2 0"), 15000);
        QCOMPARE(m_log, QStringList({"state 2", "state 3", "done 0 0", "state 2", "time", "state 1", "done 2 0"}));
        QCOMPARE(EngineAdapter::m_engineState.load(), PREVIREW);
        QVERIFY(QFileInfo(clip).size() > 0);
    }
};

QTEST_MAIN(TestAdapterEngine)
#include "tst_adapter_engine.moc"
