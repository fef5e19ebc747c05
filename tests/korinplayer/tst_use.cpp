// korinplayer as a user drives it: a nested folder with broken files opened
// from the menu, empty folders, the keys, a rebuilt engine's volume, a scan
// of the root folder; the playlist panel, and folder scans of generated trees
// (filters, bad folders, interruptions).
#include "player_test_util.h"
#include "playlistmodel.h"
#include "playlistwidget.h"
#include "seekdialog.h"
#include "sliderbar.h"
#include "volumwidget.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
QStringList names(const QMediaPlaylist& list, int from = 0, bool sorted = false)
{
    QStringList out;
    for (int i = from; i < list.mediaCount(); ++i)
        out << list.media(i).request().url().fileName();
    if (sorted)
        out.sort();
    return out;
}

// Root reads every folder: while this lives, the calling thread and the
// threads it starts are held to the permission bits like any user.
struct PermissionBits {
    __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2]{};
    PermissionBits()
    {
        ::syscall(SYS_capget, &head, saved);
        __user_cap_data_struct less[2] = {saved[0], saved[1]};
        less[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        ::syscall(SYS_capset, &head, less);
    }
    ~PermissionBits() { ::syscall(SYS_capset, &head, saved); }
};

void touch(const QString& path)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
}

// Scans folder and waits until every scan of the window has ended.
bool scan(korinplayer& w, const QString& folder, bool recursive)
{
    w.startReadDir(folder, false, recursive);
    return QTest::qWaitFor([&] { return w.dirThreadRunList.isEmpty(); }, 20000);
}
} // namespace

class TestUse : public QObject
{
    Q_OBJECT
    std::unique_ptr<korinplayer> w;

    QAbstractButton* button(const char* name) { return w->findChild<QAbstractButton*>(name); }
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
        return !w->engine->get_volume(w->engine, &volume) && !w->engine->get_mute(w->engine, &muted)
            && qAbs(volume - v) < 0.001 && bool(muted) == mute;
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

        // Ctrl+G opens the seek dialog.
        QTest::keyClick(w.get(), Qt::Key_G, Qt::ControlModifier);
        QTRY_VERIFY(w->seekDialog);
        QVERIFY(w->seekDialog->close());
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


    // The table mirrors the playlist through inserts, scattered removals,
    // opening and clearing; the current item stays the same item.
    void modelAndWidget()
    {
        QMediaPlaylist list;
        PlaylistWidget panel(&list);
        QAbstractItemModelTester tester(panel.getPlaylistModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        panel.show();
        QTableView* view = panel.getTableView();
        PlaylistModel* model = panel.getPlaylistModel();
        QVERIFY(view->horizontalHeader()->isHidden());
        for (const char* n : {"zero.mp4", "one%20x.mp4", "two.mp4", "three.mp4", "four.mp4", "five.mp4", "six.mp4"})
            list.addMedia(QUrl::fromLocalFile("/m/" + QUrl::fromPercentEncoding(n)));
        QVERIFY(!view->horizontalHeader()->isHidden());
        QCOMPARE(model->data(model->index(1, 0)).toString(), QStringLiteral("one x.mp4"));
        QSignalSpy play(&panel, &PlaylistWidget::play);
        panel.openBtn->click(); // no current row
        panel.removeBtn->click(); // nothing selected
        QVERIFY(play.isEmpty() && list.mediaCount() == 7);

        // Rows 4, 1, 2 selected in that order while "five" is current.
        list.setCurrentIndex(5);
        for (int r : {4, 1, 2})
            view->selectionModel()->select(model->index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        panel.removeBtn->click();
        QVERIFY(names(list) == (QStringList{"zero.mp4", "three.mp4", "five.mp4", "six.mp4"}) && list.currentIndex() == 2);
        // The current item itself.
        view->setCurrentIndex(model->index(2, 0));
        panel.removeBtn->click();
        QVERIFY(names(list) == (QStringList{"zero.mp4", "three.mp4", "six.mp4"}) && list.currentIndex() == -1);

        view->setCurrentIndex(model->index(1, 0));
        panel.openBtn->click();
        QVERIFY(play.count() == 1 && play.at(0).at(0).toInt() == 1);
        panel.removeAllBtn->click();
        QVERIFY(list.isEmpty() && list.currentIndex() == -1 && view->horizontalHeader()->isHidden());
    }

    // Scans of a generated tree: MIME filter by name, recursion on and off,
    // a link loop, an unreadable folder, names not in the locale's encoding,
    // odd names; each batch at the end of the list.
    void folderScans()
    {
        QTemporaryDir tmp;
        const QString root = tmp.path() + "/tree";
        QVERIFY(QDir().mkpath(root + "/sub/locked"));
        QFile::copy(media("a.mp4"), root + "/a.mp4");
        QFile::copy(media("a.mp4"), root + "/noext"); // video inside, no name
        // b.mp3 is no audio: judged by name.
        for (const char* n : {"b.mp3", "c.txt", "it's \"odd\" name.mkv", "new\nline.ogg", "sub/d.webm",
                              "sub/locked/e.flac"})
            touch(root + "/" + QString::fromUtf8(n));
        const QByteArray raw = QFile::encodeName(root) + "/\xff\xfe-bad.mp3";
        ::close(::open(raw.constData(), O_CREAT | O_WRONLY, 0644));
        QVERIFY(QFile::link(root, root + "/sub/loop"));
        QFile::setPermissions(root + "/sub/locked", QFileDevice::Permissions());
        const auto unlock = qScopeGuard([&] {
            ::unlink(raw.constData()); // a name QDir cannot delete
            QFile::setPermissions(root + "/sub/locked", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        });
        const PermissionBits asUser;

        korinplayer w;
        QCOMPARE(w.addToPlaylist(QStringList{media("b.mp4"), media("b.mp4"), media("b.mp4")}), 3);
        QVERIFY(scan(w, root, false));
        QTRY_COMPARE(names(*w.playlist, 3, true), (QStringList{"a.mp4", "b.mp3", "it's \"odd\" name.mkv", "new\nline.ogg"}));
        QVERIFY(scan(w, root, true));
        // Once each: the loop is not followed, the locked folder not read.
        QTRY_COMPARE(names(*w.playlist, 7, true), (QStringList{"a.mp4", "b.mp3", "d.webm", "it's \"odd\" name.mkv",
                                                           "new\nline.ogg"}));

        // Names whose type the MIME database decides by more than their
        // ending: the scan keeps exactly what the filter accepts.
        const QString odd = tmp.path() + "/odd";
        QVERIFY(QDir().mkpath(odd));
        QStringList expected;
        for (const char* n : {"README.mp3", "makefile.mp4", "clip.MP4", "clip.mp4", "back.mp4~", "x.tar.mp3",
                              "song.mp3.txt", "001.vdr", "a.ogg,v", "b.ogg", "Core", "d.anim1", "\xc3\xa9t\xc3\xa9.flac"}) {
            touch(odd + "/" + QString::fromUtf8(n));
            QFileInfo info(odd + "/" + QString::fromUtf8(n));
            if (ReadDir::identifyFile(info))
                expected << info.fileName();
        }
        QVERIFY(expected.contains("clip.MP4") && !expected.contains("song.mp3.txt"));
        expected.sort();
        const int oddFirst = w.playlist->mediaCount();
        QVERIFY(scan(w, odd, false));
        QTRY_COMPARE(names(*w.playlist, oddFirst, true), expected);

        // Three scans at once over the odd names, which all go through the
        // shared name patterns; a missing folder adds nothing.
        for (int n = 0; n < 3; ++n)
            w.startReadDir(odd, false, false);
        QVERIFY(scan(w, root + "/missing", true));
        QTRY_COMPARE(w.playlist->mediaCount(), oddFirst + 4 * expected.size());
    }

    // Big trees: a folder vanishing during the scan, the watchdog, and
    // closing the window during a scan; nothing reaches the playlist.
    void scanInterrupted()
    {
        QTemporaryDir tmp;
        const QString big = tmp.path() + "/big", gone = tmp.path() + "/gone";
        for (int d = 0; d < 40; ++d) {
            QVERIFY(QDir().mkpath(big + QString("/d%1").arg(d)));
            for (int i = 0; i < 500; ++i)
                touch(big + QString("/d%1/f%2.%3").arg(d).arg(i).arg(i % 10 ? "dat" : "mp4"));
        }
        QVERIFY(QDir().mkpath(gone));
        for (int i = 0; i < 3000; ++i)
            touch(gone + QString("/g%1.mp3").arg(i));

        korinplayer w;
        w.startReadDir(gone, false, true);
        QVERIFY(QDir(gone).removeRecursively());
        QVERIFY(scan(w, gone, true));
        QCoreApplication::processEvents();
        QVERIFY(w.playlist->mediaCount() <= 3000);

        // The watchdog fires (made short here): the scan stops by itself.
        w.playlist->clear();
        w.startReadDir(big, false, true);
        for (QTimer* t : w.findChildren<QTimer*>())
            if (t->interval() == 3000000)
                t->start(0);
        QVERIFY(scan(w, gone, false));
        QCOMPARE(w.playlist->mediaCount(), 0);
        // Unhindered, the same tree gives its 2000 media files.
        QVERIFY(scan(w, big, true));
        QTRY_COMPARE(w.playlist->mediaCount(), 2000);

        // Closing during a scan joins it; its batch never arrives.
        w.playlist->clear();
        w.startReadDir(big, true, true);
        w.startReadDir(big, false, true);
        QVERIFY(w.close());
        QVERIFY(w.dirThreadRunList.isEmpty());
        QCoreApplication::processEvents(); // what the scans had queued
        QCOMPARE(w.playlist->mediaCount(), 0);
    }
};

QTEST_MAIN(TestUse)
#include "tst_use.moc"
