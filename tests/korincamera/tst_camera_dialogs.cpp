// The camera window over a scripted engine: its start-up calls, a failed
// stop; the settings, effects and save-path dialogs: what each control
// sends, the rules between controls, and the save directory checks.
#include <QtTest>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTreeView>

#include "appsettingsdialog.h"
#include "boxcatcher.h"
#include "effectsdialog.h"
#include "fake_recorder.h"
#include "mainwindow.h"
#include "filesystemwatcher.h"
#include "menubar.h"
#include "videothumbnailer.h"

Q_DECLARE_METATYPE(RERawVideoSettings)
Q_DECLARE_METATYPE(REVideoEncoderSettings)

namespace {
QStringList items(QComboBox* box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

QPushButton* okButton(QDialog* d)
{
    return d->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok);
}
}

class TestCameraDialogs : public QObject
{
    Q_OBJECT
    QTemporaryDir m_home;
    MainWindow* w = nullptr;
    CameraMenuBar* bar = nullptr;

private slots:
    void initTestCase()
    {
        qputenv("HOME", QFile::encodeName(m_home.path()));
        EngineAdapter::setEngineFactory(fake::create);
        fake::setCaps({{0, 640, 480, 30}, {0, 320, 240, 15}});
        w = new MainWindow({"/dev/video3", "/dev/video12"}, 3);
        bar = w->cameraMenuBar();
        QTRY_VERIFY(w->engineAdapter()->updateCapabilityCompleted());
        // Start-up: every setting reaches the engine before the preview starts.
        QCOMPARE(fake::names().mid(0, 18),
                 QStringList({"init", "register_event_handler", "set_audio_source", "set_audio_sample_rate",
                              "set_audio_channel", "set_video_source", "set_camera_id",
                              "set_camera_output_settings", "set_preview_region", "need_preview_buffer",
                              "set_audio_encoder_settings", "set_video_encoder_settings",
                              "set_container_format", "set_file_count", "set_max_file_size_bytes",
                              "set_preview_win_id", "prepare", "get_camera_capabilities"}));
        QCOMPARE(fake::calls("set_camera_id").first().value, 3ull);
    }
    void cleanupTestCase()
    {
        w->close();
        delete w;
        EngineAdapter::setEngineFactory(nullptr);
    }
    void cleanup()
    {
        w->setCurrentSavePath(m_home.path());
    }

    // A stop the engine fails still ends the recording, and its file (maybe
    // usable) is still sent for a thumbnail, which copes with no file.
    void failedStopAsksThumbnail()
    {
        QSignalSpy thumbs(w, &MainWindow::getThumbnail);
        EngineAdapter::m_workMode = VIDEO_MODE;
        QTRY_VERIFY(FileSystemWatcher::getFreeSpace() > 0);
        w->sendCMDtoEngine(VIDEO_MODE);
        QTRY_COMPARE(EngineAdapter::m_engineState.load(), RUNNING);
        fake::setResult("stop", 9);
        w->sendCMDtoEngine(VIDEO_MODE);
        QTRY_COMPARE(thumbs.count(), 1);
        fake::setResult("stop", 0);
        EngineAdapter::m_workMode = PHOTO_MODE;
        QCOMPARE(EngineAdapter::m_engineState.load(), PREVIREW);
        QCOMPARE(thumbs.first().at(0).toString().toUtf8(), fake::calls("set_output_file_path").last().text);
        QTRY_VERIFY(w->videoThumbnailer()->isCaptureDone());
    }

    // The buttons open their dialogs only in preview; the settings dialog
    // is made once and reused.
    void menuOpensDialogs()
    {
        EngineAdapter::m_engineState = RUNNING;
        {
            BoxCatcher refusal;
            bar->settingsButton()->click();
            QCOMPARE(refusal.title, QString("Engine is still working"));
        }
        QVERIFY(!bar->appSettingsDialog());
        EngineAdapter::m_engineState = PREVIREW;
        BoxCatcher settings("AppSettingsDialog"), effects("EffectsDialog");
        bar->settingsButton()->click();
        bar->settingsButton()->click();
        bar->effectsButton()->click();
        QVERIFY(settings.count == 2 && effects.count == 1);
        QCOMPARE(bar->findChildren<AppSettingsDialog*>().size(), 1);
    }

    // Opening sends the first capability; another camera brings its own
    // list, with the boxes and Ok disabled while it is awaited; a list that
    // never comes leaves the box empty.
    void capabilityFollowsCamera()
    {
        QSignalSpy id(w, &MainWindow::set_camera_id), out(w, &MainWindow::set_camera_output_settings);
        AppSettingsDialog d(bar);
        auto* camera = d.findChild<QComboBox*>("cameraComboBox");
        auto* caps = d.findChild<QComboBox*>("capabilityComboBox");
        QCOMPARE(items(camera), QStringList({"/dev/video3", "/dev/video12"}));
        QCOMPARE(camera->currentIndex(), 0);
        QCOMPARE(items(caps), QStringList({"width: 640, height: 480, fps: 30", "width: 320, height: 240, fps: 15"}));
        QCOMPARE(out.count(), 1);
        QCOMPARE(out.last().at(0).value<RERawVideoSettings>().width, 640u);

        fake::setCaps({{0, 1280, 720, 25}});
        bool disabledWhileAwaited = false;
        // The engine thread is kept busy so that the list is surely awaited.
        QMetaObject::invokeMethod(w->engineAdapter(), [] { QThread::msleep(300); }, Qt::QueuedConnection);
        QTimer::singleShot(0, &d, [&] {
            disabledWhileAwaited = !camera->isEnabled() && !caps->isEnabled() && !okButton(&d)->isEnabled();
        });
        camera->setCurrentIndex(1);
        QVERIFY(disabledWhileAwaited);
        QVERIFY(camera->isEnabled() && caps->isEnabled() && okButton(&d)->isEnabled());
        QCOMPARE(id.last().at(0).toUInt(), 12u);
        QCOMPARE(items(caps), QStringList({"width: 1280, height: 720, fps: 25"}));
        QCOMPARE(out.last().at(0).value<RERawVideoSettings>().width, 1280u);

        fake::setResult("reset", 1); // no list follows a failed reset
        QElapsedTimer t;
        t.start();
        camera->setCurrentIndex(0);
        QVERIFY(t.elapsed() > 2000 && t.elapsed() < 4000);
        QCOMPARE(caps->count(), 0);
        QVERIFY(camera->isEnabled() && okButton(&d)->isEnabled());
        fake::setResult("reset", 0);
        camera->setCurrentIndex(1);
        QCOMPARE(caps->count(), 1);
    }

    void containerEncoders_data()
    {
        QTest::addColumn<int>("container");
        QTest::addColumn<QStringList>("encoders");
        QTest::newRow("FLV") << 4 << QStringList({"H264"});
        QTest::newRow("TS") << 5 << QStringList({"H264", "MPEG4"});
        QTest::newRow("AVI") << 3 << QStringList({"H264", "MPEG4", "H263", "MPEG"});
    }
    // Each container offers its encoders and falls back to H264 (each
    // encoder's code shows in camera_settings_engine's recordings).
    void containerEncoders()
    {
        QFETCH(int, container);
        QFETCH(QStringList, encoders);
        AppSettingsDialog d(bar);
        QSignalSpy fmt(w, &MainWindow::set_container_format), enc(w, &MainWindow::set_video_encoder_settings);
        d.findChild<QComboBox*>("containerFmtComboBox")->setCurrentIndex(container);
        QCOMPARE(fmt.last().at(0).toUInt(), uint(container));
        QCOMPARE(items(d.findChild<QComboBox*>("videoEncoderComboBox")), encoders);
        QCOMPARE(enc.last().at(0).value<REVideoEncoderSettings>().encoderType, 1u);
    }

    // Split files and RTP exclude each other and force TS; the size edit
    // clamps to 4096 MB, sent in bytes; a drag sends once, on release; RTP
    // switched off clears the host.
    void splitAndRtp()
    {
        AppSettingsDialog d(bar);
        QSignalSpy size(w, &MainWindow::set_max_file_size_bytes), rtpHost(w, &MainWindow::set_rtp_host);
        auto* split = d.findChild<QCheckBox*>("splitFilesChkBox");
        auto* rtp = d.findChild<QCheckBox*>("enableRtpChkBox");
        auto* container = d.findChild<QComboBox*>("containerFmtComboBox");
        auto* sizeEdit = d.findChild<QLineEdit*>("maxFileSizeShowLineEdit");
        auto* slider = d.findChild<QSlider*>("maxFileSizeHorizontalSlider");

        split->click();
        QVERIFY(split->isChecked() && !container->isEnabled() && slider->isEnabled());
        QCOMPARE(container->currentText(), QString("TS"));
        rtp->click();
        QVERIFY(!rtp->isChecked());

        sizeEdit->selectAll();
        QTest::keyClicks(sizeEdit, "4100");
        QCOMPARE(sizeEdit->text(), QString("4096"));
        QCOMPARE(size.last().at(0).toULongLong(), 4294967296ULL);

        size.clear();
        slider->setSliderDown(true);
        slider->setValue(10);
        slider->setValue(20);
        QCOMPARE(size.count(), 0);
        slider->setSliderDown(false);
        QCOMPARE(size.count(), 1);
        QCOMPARE(size.last().at(0).toULongLong(), 20ULL * 1048576ULL);

        split->click();
        QVERIFY(!split->isChecked() && container->isEnabled() && !slider->isEnabled());
        QCOMPARE(size.last().at(0).toULongLong(), 0ULL);

        container->setCurrentIndex(0);
        rtp->click();
        QVERIFY(rtp->isChecked() && !container->isEnabled());
        QCOMPARE(container->currentText(), QString("TS"));
        split->click();
        QVERIFY(!split->isChecked());
        rtp->click();
        QCOMPARE(rtpHost.last(), QVariantList({QString(), 0u}));
        QVERIFY(container->isEnabled());
    }

    // The IP and port edits drop what cannot belong; Enter and Escape in
    // them do not close the dialog.
    void typingRules()
    {
        AppSettingsDialog d(bar);
        QSignalSpy reset(w, &MainWindow::reset);
        d.show();
        d.findChild<QCheckBox*>("enableRtpChkBox")->click();
        const QVector<QStringList> rows = {{"IPLineEdit", "10.a0", "10.0"},
                                           {"IPLineEdit", "192.168.1.256", "192.168.1.25"},
                                           {"IPLineEdit", "1.2.3.4.5", "1.2.3.45"},
                                           {"portLineEdit", "50a4", "504"},
                                           {"portLineEdit", "65536", "6553"}};
        for (const QStringList& row : rows) {
            auto* line = d.findChild<QLineEdit*>(row[0]);
            line->clear();
            QTest::keyClicks(line, row[1]);
            QCOMPARE(line->text(), row[2]);
            QTest::keyClick(line, Qt::Key_Return);
            QTest::keyClick(line, Qt::Key_Escape);
        }
        QTest::keyClick(&d, Qt::Key_Escape);
        QVERIFY(d.isVisible());
        QCOMPARE(reset.count(), 0);
    }

    void rtpAtClose_data()
    {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("host");
        QTest::addColumn<uint>("sentPort");
        QTest::newRow("valid") << "127.0.0.1" << "5004" << "127.0.0.1" << 5004u;
        QTest::newRow("empty port") << "127.0.0.1" << "" << "" << 0u;
        QTest::newRow("letters in port") << "127.0.0.1" << "50x4" << "" << 0u;
        QTest::newRow("port 0") << "127.0.0.1" << "0" << "" << 0u;
        QTest::newRow("three parts") << "127.0.1" << "5004" << "" << 0u;
        QTest::newRow("empty part") << "127..0.1" << "5004" << "" << 0u;
    }
    // Ok sends the destination only when address and port are valid;
    // otherwise streaming is switched off and the preview comes back.
    void rtpAtClose()
    {
        QFETCH(QString, ip);
        QFETCH(QString, port);
        QFETCH(QString, host);
        QFETCH(uint, sentPort);
        AppSettingsDialog d(bar);
        QSignalSpy rtpHost(w, &MainWindow::set_rtp_host), viewfinder(w, &MainWindow::disable_viewfinder),
            reset(w, &MainWindow::reset);
        d.findChild<QCheckBox*>("enableRtpChkBox")->click();
        d.findChild<QCheckBox*>("hidePreviewChkBox")->click();
        d.findChild<QLineEdit*>("IPLineEdit")->setText(ip);
        d.findChild<QLineEdit*>("portLineEdit")->setText(port);
        okButton(&d)->click();
        QCOMPARE(rtpHost.count(), 1);
        QCOMPARE(rtpHost.last(), QVariantList({host, sentPort}));
        QCOMPARE(viewfinder.last().at(0).toBool(), !host.isEmpty()); // hidden only while streaming
        QCOMPARE(reset.count(), 1);
        okButton(&d)->click();
        QCOMPARE(reset.count(), 1);
        d.findChild<QCheckBox*>("saveTimeChkBox")->click();
        d.reject(); // closing the window applies like Ok
        QCOMPARE(reset.count(), 2);
    }

    // Ok sends the chosen effect's code and a reset, a second Ok nothing;
    // one box at a time; Cancel puts back the effect in use.
    void effects()
    {
        EffectsDialog d(bar);
        QSignalSpy fx(w, &MainWindow::add_video_effect), reset(w, &MainWindow::reset);
        auto box = [&d](const char* name) { return d.findChild<QCheckBox*>(name); };
        d.accept();
        d.accept();
        QVERIFY(fx.count() == 1 && reset.count() == 1);
        const QVector<QPair<const char*, uint>> codes = {{"mirrorBox", 2}, {"cubeBox", 1}, {"squeezeBox", 3},
                                                         {"tunnelBox", 6}, {"twirlBox", 7}, {"fisheyeBox", 4}};
        for (const auto& c : codes) {
            box(c.first)->click();
            d.accept();
            QCOMPARE(fx.last().at(0).toUInt(), c.second);
            const QList<QCheckBox*> boxes = d.findChildren<QCheckBox*>();
            QCOMPARE(std::count_if(boxes.begin(), boxes.end(), [](QCheckBox* b) { return b->isChecked(); }), 1);
        }
        QCOMPARE(reset.count(), 7);
        box("cubeBox")->click();
        box("twirlBox")->click();
        QVERIFY(!box("cubeBox")->isChecked() && !box("fisheyeBox")->isChecked());
        d.reject();
        QVERIFY(box("fisheyeBox")->isChecked() && !box("twirlBox")->isChecked());
        d.accept();
        QCOMPARE(fx.count(), 7);
        box("fisheyeBox")->click();
        d.accept();
        QCOMPARE(fx.last().at(0).toUInt(), 0u);
    }

    // The tree shows directories only; Open without a click reports the
    // directory given, Cancel reports nothing.
    void pathTree()
    {
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath("sub/inner"));
        QFile(root.filePath("plain.txt")).open(QIODevice::WriteOnly);
        ShowPathDialog p(nullptr, root.path());
        QSignalSpy chosen(&p, &ShowPathDialog::selectedPath);
        p.reject();
        QCOMPARE(chosen.count(), 0);
        p.accept();
        QCOMPARE(chosen.last().at(0).toString(), root.path());
        auto* model = static_cast<QFileSystemModel*>(p.tree()->model());
        QTRY_COMPARE(model->rowCount(model->index(root.path())), 1); // "sub", not the file
    }

    void savePath_data()
    {
        QTest::addColumn<QString>("dir");
        QTest::addColumn<bool>("deleteWhileOpen");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("non-ASCII") << QString::fromUtf8("josé") << false << true;
        QTest::newRow("deleted") << "gone" << true << false;
        QTest::newRow("unwritable") << "/proc/1" << false << false;
        QTest::newRow("too long") << (QString(190, 'x') + '/').repeated(5) << false << false;
    }
    // A chosen directory moves the storage watcher; one that cannot hold
    // captures gives a warning and the old directory stays in force.
    void savePath()
    {
        QFETCH(QString, dir);
        QFETCH(bool, deleteWhileOpen);
        QFETCH(bool, accepted);
        QTemporaryDir root;
        if (!dir.startsWith('/'))
            dir = root.filePath(dir);
        QVERIFY(QDir().mkpath(dir));
        AppSettingsDialog d(bar);
        const QString before = w->getCurrentSavePath();
        BoxCatcher picker("ShowPathDialog", [&](QDialog* p) {
            auto* tree = static_cast<ShowPathDialog*>(p)->tree();
            static_cast<ShowPathDialog*>(p)->selectedDir(static_cast<QFileSystemModel*>(tree->model())->index(dir));
            if (deleteWhileOpen)
                QDir(dir).removeRecursively();
            p->accept();
        });
        BoxCatcher warning;
        d.findChild<QPushButton*>("changePathPushButton")->click();
        QCOMPARE(picker.count, 1); // the picker was answered
        const QString inForce = accepted ? QDir(dir).canonicalPath() : before;
        QCOMPARE(w->storageWatcher()->getCurrentDir(), inForce);
        QCOMPARE(d.findChild<QLabel*>("showSavePathLabel")->text(), inForce);
        QCOMPARE(warning.title, accepted ? QString() : QString("Cannot save there"));
    }
};

QTEST_MAIN(TestCameraDialogs)
#include "tst_camera_dialogs.moc"
