// korinplayer as a user drives it: a nested folder with broken files opened
// from the menu, empty folders, the keys, a rebuilt engine's volume, and a
// scan of the root folder.
#include "player_test_util.h"
#include "sliderbar.h"
#include "volumwidget.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableView>

#include <unistd.h>

class TestUse : public QObject
{
    Q_OBJECT
    std::unique_ptr<korinplayer> w;

    template <class T = QWidget>
    T* child(const char* name)
    {
        T* found = w->findChild<T*>(QLatin1String(name));
        if (!found)
            qWarning("no %s", name);
        return found;
    }
    QAction* action(const char* name) { return w->menuWidget()->findChild<QAction*>(QLatin1String(name)); }
    GstState state() const { return w->playControl->getState(); }
    // A key pressed while to has the focus.
    void key(QWidget* to, Qt::Key k)
    {
        to->setFocus();
        QTest::keyClick(to, k);
    }
    void trigger(const QString& text)
    {
        for (QAction* a : w->menuWidget()->findChildren<QAction*>())
            if (a->text() == text)
                return a->trigger();
        QFAIL(qPrintable(text));
    }
    QPushButton* panelButton(const QString& text)
    {
        for (QPushButton* b : child<>("playlistWidget")->findChildren<QPushButton*>())
            if (b->text() == text)
                return b;
        return nullptr;
    }
    // Opens the folder dialog by open() and accepts folder in it.
    void chooseFolder(const QString& folder, const std::function<void()>& open)
    {
        w->dirPath = folder;
        QTimer::singleShot(0, [] {
            QTRY_VERIFY(QApplication::activeModalWidget());
            QApplication::activeModalWidget()->findChild<QPushButton*>("openBtn")->click();
        });
        open();
    }
    void doubleClickRow(QTableView* table, int row)
    {
        QTRY_VERIFY(table->isVisible() && table->viewport()->height() > 50);
        const QPoint at = table->visualRect(table->model()->index(row, 0)).center();
        // As the pointer sends it: a click, then the second press.
        QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }
    gdouble volume() const
    {
        gdouble v = -1;
        w->engine->get_volume(w->engine, &v);
        return v;
    }
    bool muted() const
    {
        gboolean m = FALSE;
        w->engine->get_mute(w->engine, &m);
        return m;
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
        const char* files[][2] = {{"a.mp4", "a.mp4"},           {"bad-random.mkv", "broken.mkv"},
                                  {"b.mp4", "x/b.mp4"},         {"bad-text.mp4", "x/y/text.mp4"},
                                  {"dir/c.mp4", "x/y/c.mp4"},   {"bad-truncated.mp4", "x/half.mp4"}};
        for (auto& f : files)
            QVERIFY(QFile::copy(media(f[0]), top + "/" + f[1]));
        QVERIFY(openPlayer(w));
        BoxCloser closer;
        action("menuRecursionDir")->trigger();
        QSignalSpy titles(w.get(), &QWidget::windowTitleChanged);
        // Titles of the items that started to play, in order.
        const auto played = [&titles] {
            QStringList out;
            for (const QList<QVariant>& t : titles) {
                const QString title = t.at(0).toString().mid(15);
                if (t.at(0).toString().startsWith("korinplayer -- ") && title != "loading"
                    && (out.isEmpty() || out.last() != title))
                    out << title;
            }
            return out;
        };
        chooseFolder(top, [this] { trigger("Open Folder"); });
        QTRY_COMPARE(w->playlist->mediaCount(), 6);
        QStringList good;
        int broken = 0;
        for (int i = 0; i < 6; ++i) {
            const QString name = QFileInfo(w->playlist->media(i).request().url().fileName()).completeBaseName();
            if (name.size() == 1) {
                good << name;
                QTRY_VERIFY_WITH_TIMEOUT(played().contains(name), 15000);
                continue;
            }
            // Reported, stopped on it; Next goes on.
            ++broken;
            QTRY_VERIFY_WITH_TIMEOUT(w->playlist->currentIndex() == i && state() == GST_STATE_NULL
                                         && closer.titles.count("Gstreamer error") >= broken,
                                     15000);
            if (i < 5)
                child<QAbstractButton>("nextTrackBtn")->click();
        }
        QTRY_COMPARE_WITH_TIMEOUT(state(), GST_STATE_NULL, 15000);
        QCOMPARE(played(), good);
        QTRY_COMPARE(closer.titles.count("Gstreamer error"), 3);
        QCOMPARE(closer.titles.size(), 3);
        // Still usable: a row double-clicked plays.
        w->showPlaylist();
        auto* table = child<QTableView>("tableView");
        const int row = w->playlist->mediaCount() - 1;
        doubleClickRow(table, row);
        QTRY_COMPARE(w->playlist->currentIndex(), row);
    }

    // An empty folder from the menu or the panel: one box naming it.
    void emptyFolderIsReported()
    {
        QTemporaryDir tmp;
        QFile(tmp.path() + "/notes.txt").open(QIODevice::WriteOnly);
        QVERIFY(openPlayer(w));
        BoxCloser closer;
        chooseFolder(tmp.path(), [this] { w->openDir(true); });
        QTRY_COMPARE(closer.texts.size(), 1);
        w->showPlaylist();
        chooseFolder(tmp.path(), [this] { panelButton("Add Folder")->click(); });
        QTRY_COMPARE(closer.texts.size(), 2);
        for (const QString& text : closer.texts)
            QVERIFY2(text.contains(tmp.path()), qPrintable(text));
        QCOMPARE(w->playlist->mediaCount(), 0);
    }

    // The keys wherever the focus is; a focused table or slider keeps its
    // arrows, a text field every key, a button does not take Space.
    void keys()
    {
        VolumWidget::muted = false;
        QVERIFY(openPlayer(w, {media("long.mp4"), media("a.mp4")}));
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get(), 20000));
        w->engine->set_volume(w->engine, 0.5);
        w->showPlaylist();
        auto* table = child<QTableView>("tableView");
        QPushButton* removeAll = panelButton("Remove All");
        QVERIFY(table && removeAll);

        // A double click on the first row plays it; Space on a button pauses.
        doubleClickRow(table, 0);
        QTRY_COMPARE(state(), GST_STATE_PLAYING);
        key(removeAll, Qt::Key_Space);
        QCOMPARE(state(), GST_STATE_PAUSED);
        QCOMPARE(w->playlist->mediaCount(), 2);
        key(removeAll, Qt::Key_Space);
        QCOMPARE(state(), GST_STATE_PLAYING);

        // Arrows seek from anywhere but the table, which moves its row.
        w->seekBySlider(10);
        QElapsedTimer clock;
        clock.start();
        double before = positionOf(*w);
        key(removeAll, Qt::Key_Right);
        QVERIFY2(qAbs(positionOf(*w) - before - 10) < 1.2 + clock.elapsed() / 1000.0,
                 qPrintable(QString::number(positionOf(*w))));
        clock.restart();
        before = positionOf(*w);
        key(w->centralWidget, Qt::Key_Left);
        QVERIFY(qAbs(positionOf(*w) - before + 10) < 1.2 + clock.elapsed() / 1000.0);
        table->setCurrentIndex(table->model()->index(0, 0));
        clock.restart();
        before = positionOf(*w);
        key(table, Qt::Key_Down);
        QCOMPARE(table->currentIndex().row(), 1);
        key(table, Qt::Key_Right);
        QVERIFY(qAbs(positionOf(*w) - before) < 1.2 + clock.elapsed() / 1000.0);
        QCOMPARE(volume(), 0.5);

        // Volume and mute, also through the open pop-up.
        key(removeAll, Qt::Key_Up);
        QVERIFY(qAbs(volume() - 0.55) < 0.001);
        key(removeAll, Qt::Key_Down);
        key(removeAll, Qt::Key_Down);
        QVERIFY(qAbs(volume() - 0.45) < 0.001);
        key(removeAll, Qt::Key_M);
        QVERIFY(muted());
        child<QAbstractButton>("volButtom")->click();
        QVERIFY(w->volumWidget->isMuteCkBox->isChecked());
        key(removeAll, Qt::Key_M);
        QVERIFY(!muted() && !w->volumWidget->isMuteCkBox->isChecked());
        key(removeAll, Qt::Key_Up);
        QCOMPARE(w->volumWidget->volNumber->text(), QString("50"));
        child<QAbstractButton>("volButtom")->click();

        // A text field keeps every key.
        auto* edit = new QLineEdit(w->centralWidget);
        edit->show();
        for (Qt::Key k : {Qt::Key_Space, Qt::Key_M, Qt::Key_F, Qt::Key_Up})
            key(edit, k);
        QCOMPARE(edit->text(), QString(" mf"));
        QCOMPARE(state(), GST_STATE_PLAYING);
        QVERIFY(!muted() && !w->isFullScreen());
        delete edit;

        // F and Esc: full screen on and off.
        key(w->centralWidget, Qt::Key_F);
        QTRY_VERIFY(w->isFullScreen());
        key(w->centralWidget, Qt::Key_Escape);
        QTRY_VERIFY(!w->isFullScreen());
        key(w->centralWidget, Qt::Key_Escape);
        QVERIFY(!w->isFullScreen());
    }

    // An engine rebuilt at a stop plays the current item at the volume and
    // mute last chosen; with no sink detected the engine's own plays.
    void rebuiltEngineKeepsVolume()
    {
        VolumWidget::muted = false;
        QVERIFY(openPlayer(w, {media("long.mp4")}));
        child<QAbstractButton>("playButton")->click();
        QTRY_COMPARE(state(), GST_STATE_PLAYING);
        child<QAbstractButton>("volButtom")->click();
        w->volumWidget->volSlider->setValue(30);
        w->volumWidget->isMuteCkBox->click();
        child<QAbstractButton>("volButtom")->click();
        w->menuRenderSubOpt->trigger(); // waits for the stop
        w->m_sink = UNKONWNSINK;
        child<QAbstractButton>("stopButton")->click();
        QVERIFY(w->engine && w->render_subtitle_by_ui);
        QVERIFY(qAbs(volume() - 0.3) < 0.001 && muted());
        child<QAbstractButton>("playButton")->click();
        QTRY_COMPARE(state(), GST_STATE_PLAYING);
        QTRY_VERIFY(positionOf(*w) > 0.5);
        QVERIFY(qAbs(volume() - 0.3) < 0.001 && muted());
        VolumWidget::muted = false;
    }

    // A scan of "/" gives named rows that play.
    void rootFolder()
    {
        const QString file = QStringLiteral("/korinplayer-test-%1.mp4").arg(::getpid());
        if (!QFile::copy(media("a.mp4"), file))
            QSKIP("the root folder is not writable here");
        const auto remove = qScopeGuard([&] { QFile::remove(file); });
        QVERIFY(openPlayer(w));
        w->startReadDir("/", true, false);
        QTRY_VERIFY_WITH_TIMEOUT(w->windowTitle() == "korinplayer -- " + QFileInfo(file).completeBaseName(), 15000);
        const QMediaContent row = w->playlist->currentMedia();
        QCOMPARE(row.request().url().toLocalFile(), file);
        const QAbstractItemModel* rows = child<QTableView>("tableView")->model();
        QCOMPARE(rows->index(w->playlist->currentIndex(), 0).data().toString(), QFileInfo(file).fileName());
    }
};

QTEST_MAIN(TestUse)
#include "tst_use.moc"
