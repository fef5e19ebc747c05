// korinplayer as a user drives it: a nested folder with broken files opened
// from the menu, empty folders, the keys, a rebuilt engine's volume, and a
// scan of the root folder.
#include "player_test_util.h"
#include "sliderbar.h"
#include "seekdialog.h"
#include "volumwidget.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>

#include <unistd.h>

class TestUse : public QObject
{
    Q_OBJECT
    std::unique_ptr<korinplayer> w;

    QAbstractButton* button(const char* name) { return w->findChild<QAbstractButton*>(QLatin1String(name)); }
    GstState state() const { return w->playControl->getState(); }
    // A key pressed while to has the focus.
    void key(QWidget* to, Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        to->setFocus();
        QTest::keyClick(to, k, mods);
    }
    // open() shows the folder dialog, which is accepted on folder.
    void chooseFolder(const QString& folder, const std::function<void()>& open)
    {
        w->dirPath = folder;
        QTimer::singleShot(0, [] {
            QTRY_VERIFY(QApplication::activeModalWidget());
            QApplication::activeModalWidget()->findChild<QPushButton*>("openBtn")->click();
        });
        open();
    }
    void doubleClickRow(int row)
    {
        auto* table = w->findChild<QTableView*>("tableView");
        QTRY_VERIFY(table->isVisible() && table->viewport()->height() > 50);
        const QPoint at = table->visualRect(table->model()->index(row, 0)).center();
        // As the pointer sends it: a click, then the second press.
        QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }
    bool volumeIs(double v, bool mute) const
    {
        gdouble volume = -1;
        gboolean muted = !mute;
        w->engine->get_volume(w->engine, &volume);
        w->engine->get_mute(w->engine, &muted);
        return qAbs(volume - v) < 0.001 && bool(muted) == mute;
    }

private slots:
    void initTestCase() { initPlayerResources(); }
    void cleanup() { w.reset(); }

    // -r from the menu, the folder dialog, then the whole list: every good
    // file plays in list order, each broken one is reported and skipped
    // with Next, and the window still answers afterwards.
    void nestedFolderWithBrokenFiles()
    {
        QTemporaryDir tmp;
        const QString top = tmp.path() + "/top";
        QVERIFY(QDir().mkpath(top + "/x/y"));
        const char* files[][2] = {{"a.mp4", "a.mp4"},         {"bad-random.mkv", "broken.mkv"},
                                  {"b.mp4", "x/b.mp4"},       {"bad-text.mp4", "x/y/text.mp4"},
                                  {"dir/c.mp4", "x/y/c.mp4"}, {"bad-truncated.mp4", "x/half.mp4"}};
        for (auto& f : files)
            QVERIFY(QFile::copy(media(f[0]), top + "/" + f[1]));
        QVERIFY(openPlayer(w));
        BoxCloser closer;
        w->findChild<QAction*>("menuRecursionDir")->trigger();
        QSignalSpy titles(w.get(), &QWidget::windowTitleChanged);
        chooseFolder(top, [this] { trigger(*w, "Open Folder"); });
        QTRY_COMPARE(w->playlist->mediaCount(), 6);
        QStringList good;
        int broken = 0;
        for (int i = 0; i < 6; ++i) {
            const QString name = QFileInfo(w->playlist->media(i).request().url().fileName()).completeBaseName();
            if (name.size() == 1) {
                good << name;
                QTRY_VERIFY_WITH_TIMEOUT(played(titles).contains(name), 15000);
                continue;
            }
            ++broken; // reported, stopped on it; Next goes on
            QTRY_VERIFY_WITH_TIMEOUT(w->playlist->currentIndex() == i && state() == GST_STATE_NULL
                                         && closer.titles.count("Gstreamer error") >= broken, 15000);
            if (i < 5)
                button("nextTrackBtn")->click();
        }
        QTRY_COMPARE_WITH_TIMEOUT(state(), GST_STATE_NULL, 15000);
        QCOMPARE(played(titles), good);
        QVERIFY(closer.titles.size() == 3 && closer.titles.count("Gstreamer error") == 3); // one each
        w->showPlaylist();
        doubleClickRow(5);
        QTRY_COMPARE(w->playlist->currentIndex(), 5);
    }

    // An empty folder from the menu or the panel: one box naming it.
    void emptyFolderIsReported()
    {
        QTemporaryDir tmp;
        QFile(tmp.path() + "/notes.txt").open(QIODevice::WriteOnly);
        QVERIFY(openPlayer(w));
        BoxCloser closer;
        chooseFolder(tmp.path(), [this] { trigger(*w, "Open Folder"); });
        QTRY_COMPARE(closer.texts.size(), 1);
        w->showPlaylist();
        chooseFolder(tmp.path(), [this] { button("addFolderBtn")->click(); });
        QTRY_COMPARE(closer.texts.size(), 2);
        QVERIFY(closer.texts.at(0).contains(tmp.path()) && closer.texts.at(1) == closer.texts.at(0));
        QCOMPARE(w->playlist->mediaCount(), 0);
    }

    // The keys wherever the focus is; a focused table or slider keeps its
    // arrows, a text field every key, a button does not take Space.
    void keys()
    {
        VolumWidget::muted = false;
        QVERIFY(openPlayer(w, {media("long.mp4"), media("a.mp4")}));
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get(), 20000) && !w->engine->set_volume(w->engine, 0.5));
        w->showPlaylist();
        auto* table = w->findChild<QTableView*>("tableView");
        QAbstractButton* removeAll = button("removeAllBtn");

        // A double click on a row plays it; Space on a button pauses.
        doubleClickRow(0);
        QTRY_COMPARE(state(), GST_STATE_PLAYING);
        key(removeAll, Qt::Key_Space);
        QVERIFY(state() == GST_STATE_PAUSED && w->playlist->mediaCount() == 2);
        key(removeAll, Qt::Key_Space);

        // Arrows seek 10 s from anywhere but the table, which moves its row;
        // Alt+arrows seek from the table too.
        QCOMPARE(state(), GST_STATE_PLAYING);
        w->seekBySlider(10);
        QVERIFY(lands(*w, [&] { key(removeAll, Qt::Key_Right); }, positionOf(*w) + 10)
                && lands(*w, [&] { key(w->centralWidget, Qt::Key_Left); }, positionOf(*w) - 10));
        table->setCurrentIndex(table->model()->index(0, 0));
        QVERIFY(lands(*w, [&] { key(table, Qt::Key_Down), key(table, Qt::Key_Right); }, positionOf(*w))
                && table->currentIndex().row() == 1 && volumeIs(0.5, false));
        QVERIFY(lands(*w, [&] { key(table, Qt::Key_Right, Qt::AltModifier); }, positionOf(*w) + 10));

        // Volume and mute, also through the open pop-up.
        key(removeAll, Qt::Key_Up);
        QVERIFY(volumeIs(0.55, false));
        for (Qt::Key k : {Qt::Key_Down, Qt::Key_Down, Qt::Key_M})
            key(removeAll, k);
        QVERIFY(volumeIs(0.45, true));
        button("volButtom")->click();
        QVERIFY(w->volumWidget->isMuteCkBox->isChecked());
        key(removeAll, Qt::Key_M);
        key(removeAll, Qt::Key_Up);
        QVERIFY(volumeIs(0.5, false) && !w->volumWidget->isMuteCkBox->isChecked()
                && w->volumWidget->volNumber->text() == "50");
        button("volButtom")->click();

        // A text field keeps every key.
        auto* edit = new QLineEdit(w->centralWidget);
        edit->show();
        for (Qt::Key k : {Qt::Key_Space, Qt::Key_M, Qt::Key_F, Qt::Key_Up})
            key(edit, k);
        QCOMPARE(edit->text(), QString(" mf"));
        QVERIFY(state() == GST_STATE_PLAYING && volumeIs(0.5, false) && !w->isFullScreen());
        delete edit;

        // F: full screen without bars and playlist; Esc leaves it, the
        // playlist staying hidden.
        key(table, Qt::Key_F);
        QTRY_VERIFY(w->isFullScreen());
        QVERIFY(!w->playControl->isVisible() && !w->sliderBar->isVisible() && !table->isVisible());
        key(w->centralWidget, Qt::Key_Escape);
        QTRY_VERIFY(!w->isFullScreen());
        QVERIFY(w->playControl->isVisible() && !table->isVisible());

        // Ctrl+G: one seek dialog, however often pressed.
        QTest::keyClick(w.get(), Qt::Key_G, Qt::ControlModifier);
        QTRY_VERIFY(w->seekDialog);
        QPointer<SeekDialog> dialog = w->seekDialog;
        QTest::keyClick(w.get(), Qt::Key_G, Qt::ControlModifier);
        QVERIFY(w->seekDialog == dialog && dialog->close());
    }

    // An engine rebuilt at a stop plays the current item at the volume and
    // mute last chosen; with no sink detected the engine's own plays.
    void rebuiltEngineKeepsVolume()
    {
        VolumWidget::muted = false;
        QVERIFY(openPlayer(w, {media("long.mp4")}));
        button("playButton")->click();
        QTRY_COMPARE(state(), GST_STATE_PLAYING);
        button("volButtom")->click();
        w->volumWidget->volSlider->setValue(30);
        w->volumWidget->isMuteCkBox->click();
        button("volButtom")->click();
        w->menuRenderSubOpt->trigger(); // waits for the stop
        w->m_sink = UNKONWNSINK;
        button("stopButton")->click();
        QVERIFY(w->engine && w->render_subtitle_by_ui && volumeIs(0.3, true));
        button("playButton")->click();
        QTRY_VERIFY(state() == GST_STATE_PLAYING && positionOf(*w) > 0.5 && volumeIs(0.3, true));
        VolumWidget::muted = false;
    }

    // A scan of "/" gives named rows that play.
    void rootFolder()
    {
        const QString file = QString("/korinplayer-test-%1.mp4").arg(::getpid());
        if (!QFile::copy(media("a.mp4"), file))
            QSKIP("the root folder is not writable here");
        const auto remove = qScopeGuard([&] { QFile::remove(file); });
        QVERIFY(openPlayer(w));
        w->startReadDir("/", true, false);
        QTRY_VERIFY_WITH_TIMEOUT(w->windowTitle() == "korinplayer -- " + QFileInfo(file).completeBaseName(), 15000);
        QCOMPARE(w->playlist->currentMedia().request().url().toLocalFile(), file);
        const QAbstractItemModel* rows = w->findChild<QTableView*>("tableView")->model();
        QCOMPARE(rows->index(w->playlist->currentIndex(), 0).data().toString(), QFileInfo(file).fileName());
    }
};

QTEST_MAIN(TestUse)
#include "tst_use.moc"
