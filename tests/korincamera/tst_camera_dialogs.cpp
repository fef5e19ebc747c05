// The camera window over a scripted engine: its start-up calls and a failed
// stop; the settings dialog as a user drives it: what each control sends,
// the rules between controls, and the save directory checks.
#include <QtTest>
#include <QtWidgets>

#include "appsettingsdialog.h"
#include "fake_recorder.h"
#include "menubar.h"
#include "window_util.h"

Q_DECLARE_METATYPE(RERawVideoSettings)

namespace {

QCheckBox* box(QDialog* d, const char* name) { return d->findChild<QCheckBox*>(name); }
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
        QCOMPARE(fake::names().mid(0, 18).join(' '),
                 QString("init register_event_handler set_audio_source set_audio_sample_rate set_audio_channel "
                         "set_video_source set_camera_id set_camera_output_settings set_preview_region "
                         "need_preview_buffer set_audio_encoder_settings set_video_encoder_settings "
                         "set_container_format set_file_count set_max_file_size_bytes set_preview_win_id prepare "
                         "get_camera_capabilities"));
        QCOMPARE(fake::calls("set_camera_id").first().value, 3ull);
    }
    void cleanupTestCase()
    {
        w->close();
        delete w;
    }

    // A stop the engine fails still ends the recording, and its file (maybe
    // usable) is still sent for a thumbnail, which copes with no file.
    void failedStopAsksThumbnail()
    {
        QSignalSpy thumbs(w, &MainWindow::getThumbnail);
        EngineAdapter::m_workMode = VIDEO_MODE;
        QTRY_VERIFY(FileSystemWatcher::getFreeSpace() > 0);
        w->sendCMDtoEngine(VIDEO_MODE);
        QTRY_COMPARE(centre(bar->snapshotButton()), QColor(Qt::red)); // the window knows it records
        fake::setResult("stop", 9);
        w->sendCMDtoEngine(VIDEO_MODE);
        QTRY_COMPARE(thumbs.count(), 1);
        fake::setResult("stop", 0);
        EngineAdapter::m_workMode = PHOTO_MODE;
        QCOMPARE(EngineAdapter::m_engineState.load(), PREVIREW);
        QCOMPARE(thumbs.first().at(0).toString().toUtf8(), fake::calls("set_output_file_path").last().text);
    }

    // Refused while recording. Another camera brings its capabilities; after
    // a failed reset the list is empty and the dialog usable.
    void cameraAndCapabilities()
    {
        EngineAdapter::m_engineState = RUNNING;
        BoxCatcher refusal;
        bar->settingsButton()->click();
        QCOMPARE(refusal.title, QString("Engine is still working"));
        EngineAdapter::m_engineState = PREVIREW;
        QSignalSpy id(w, &MainWindow::set_camera_id), out(w, &MainWindow::set_camera_output_settings);
        AppSettingsDialog d(bar);
        auto* camera = d.findChild<QComboBox*>("cameraComboBox");
        auto* caps = d.findChild<QComboBox*>("capabilityComboBox");
        QVERIFY(caps->count() == 2 && caps->itemText(1) == "width: 320, height: 240, fps: 15");
        fake::setCaps({{0, 1280, 720, 25}});
        camera->setCurrentIndex(1);
        QCOMPARE(id.last().at(0).toUInt(), 12u);
        QVERIFY(caps->count() == 1 && caps->itemText(0) == "width: 1280, height: 720, fps: 25");
        QCOMPARE(out.last().at(0).value<RERawVideoSettings>().width, 1280u);
        fake::setResult("reset", 1); // no list follows a failed reset
        camera->setCurrentIndex(0);
        QVERIFY(caps->count() == 0 && camera->isEnabled()
                && d.findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok)->isEnabled());
        fake::setResult("reset", 0);
    }

    // Split files and RTP exclude each other and fix TS; sizes clamp to 4096
    // MB, sent in bytes. Closing (like Ok; not Enter or Escape) sends RTP
    // only to a valid address and port, else streaming and hiding stop.
    void splitAndRtp()
    {
        const QStringList rows[] = {{"127.0.0.1", "5004", "127.0.0.1"}, {"127.0.0.1", "50x4", ""},
                                    {"127.0.0.1", "0", ""}, {"127.0.1", "5004", ""}, {"127..0.1", "5004", ""}};
        for (const QStringList& row : rows) {
            AppSettingsDialog d(bar);
            d.show();
            QSignalSpy size(w, &MainWindow::set_max_file_size_bytes), rtpHost(w, &MainWindow::set_rtp_host),
                viewfinder(w, &MainWindow::disable_viewfinder), reset(w, &MainWindow::reset);
            QCheckBox *split = box(&d, "splitFilesChkBox"), *rtp = box(&d, "enableRtpChkBox");
            auto* container = d.findChild<QComboBox*>("containerFmtComboBox");
            auto* sizeEdit = d.findChild<QLineEdit*>("maxFileSizeShowLineEdit");
            for (QCheckBox* on : {split, rtp}) {
                QCheckBox* other = on == split ? rtp : split;
                container->setCurrentIndex(0);
                on->click();
                other->click();
                QVERIFY(on->isChecked() && !other->isChecked() && !container->isEnabled());
                QCOMPARE(container->currentText(), QString("TS"));
                if (on == split) {
                    sizeEdit->selectAll();
                    QTest::keyClicks(sizeEdit, "4100");
                    QCOMPARE(size.last().at(0).toULongLong(), 4294967296ULL);
                    on->click();
                    QVERIFY(container->isEnabled() && size.last().at(0).toULongLong() == 0);
                }
            }
            box(&d, "hidePreviewChkBox")->click();
            d.findChild<QLineEdit*>("IPLineEdit")->setText(row[0]);
            auto* port = d.findChild<QLineEdit*>("portLineEdit");
            port->setText(row[1]);
            QTest::keyClick(port, Qt::Key_Return);
            QTest::keyClick(port, Qt::Key_Escape);
            QVERIFY(d.isVisible() && reset.isEmpty());
            d.reject();
            QCOMPARE(rtpHost.last(), QVariantList({row[2], row[2].isEmpty() ? 0u : row[1].toUInt()}));
            QCOMPARE(viewfinder.last().at(0).toBool(), !row[2].isEmpty());
            QCOMPARE(reset.count(), 1);
        }
    }

    // A chosen directory moves the storage watcher; one that cannot hold
    // captures gives a warning and the old directory stays in force.
    void savePath()
    {
        const QPair<QString, bool> rows[] = {{QString::fromUtf8("josé"), true}, {"gone", false}, {"/proc/1", false},
                                             {(QString(190, 'x') + '/').repeated(5), false}};
        for (auto row : rows) {
            QTemporaryDir root;
            const QString dir = row.first.startsWith('/') ? row.first : root.filePath(row.first);
            QVERIFY(QDir().mkpath(dir));
            AppSettingsDialog d(bar);
            const QString before = w->getCurrentSavePath();
            BoxCatcher picker("ShowPathDialog", [&](QDialog* p) {
                auto* tree = static_cast<ShowPathDialog*>(p)->tree();
                static_cast<ShowPathDialog*>(p)->selectedDir(static_cast<QFileSystemModel*>(tree->model())->index(dir));
                if (row.first == "gone") // deleted while the picker is open
                    QDir(dir).removeRecursively();
                p->accept();
            });
            BoxCatcher warning;
            d.findChild<QPushButton*>("changePathPushButton")->click();
            const QString inForce = row.second ? QDir(dir).canonicalPath() : before;
            QCOMPARE(w->storageWatcher()->getCurrentDir(), inForce);
            QCOMPARE(d.findChild<QLabel*>("showSavePathLabel")->text(), inForce);
            QCOMPARE(warning.title, row.second ? QString() : QString("Cannot save there"));
            w->setCurrentSavePath(m_home.path());
        }
    }
};

QTEST_MAIN(TestCameraDialogs)
#include "tst_camera_dialogs.moc"
