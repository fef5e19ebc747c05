// Shared by the player tests: clips, the engine's position, a window ready to
// play, menu entries, what played, message boxes closed as a user would.
#ifndef PLAYER_TEST_UTIL_H
#define PLAYER_TEST_UTIL_H

#include "korinplayer.h"
#include "loadstylesheet.h"
#include "playcontrol.h"

#include <QAbstractButton>
#include <QAction>
#include <QMessageBox>
#include <QtTest>

#include <memory>

inline QString media(const char* name)
{
    return QStringLiteral(PLAYER_MEDIA "/") + QLatin1String(name);
}

inline double positionOf(const korinplayer& w)
{
    gint64 pos = -1;
    return w.engine && w.engine->get_position(w.engine, &pos) == PLAYENGINE_SUCCESS ? pos / 1e9 : -1;
}

// The position after action is where it should put it, give or take slack
// plus the time the action took (the clip plays on meanwhile).
template <class F>
bool lands(const korinplayer& w, F action, double expected, double slack = 1.2)
{
    QElapsedTimer clock;
    clock.start();
    action();
    const double at = positionOf(w);
    const bool near = qAbs(at - expected) < slack + clock.elapsed() / 1000.0;
    if (!near)
        qWarning("at %.2f s, expected %.2f s", at, expected);
    return near;
}

// A new shown window with an engine, files in its playlist, the bar connected.
inline bool openPlayer(std::unique_ptr<korinplayer>& w, const QStringList& files = {})
{
    w.reset(new korinplayer);
    w->show();
    if (!QTest::qWaitForWindowExposed(w.get(), 20000) || !w->engine || w->addToPlaylist(files) != files.size())
        return false;
    w->prepareBeforePlay(w->playControl);
    return true;
}

// The menu entry with this text.
inline void trigger(korinplayer& w, const QString& text)
{
    for (QAction* a : w.menuWidget()->findChildren<QAction*>())
        if (a->text() == text)
            return a->trigger();
    QFAIL(qPrintable(text));
}

// The items whose play started, from a spy on the window title, in order.
inline QStringList played(const QSignalSpy& titles)
{
    QStringList out;
    for (const QList<QVariant>& t : titles) {
        const QString title = t.at(0).toString().mid(15);
        if (t.at(0).toString().startsWith("korinplayer -- ") && title != "loading" && (out.isEmpty() || out.last() != title))
            out << title;
    }
    return out;
}

// Closes every message box as it appears and keeps what it said.
class BoxCloser : public QObject
{
public:
    BoxCloser()
    {
        connect(&timer, &QTimer::timeout, this, [this] {
            for (QWidget* top : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(top); box && box->isVisible()) {
                    titles << box->windowTitle();
                    texts << box->text();
                    if (QAbstractButton* close = box->button(QMessageBox::Close))
                        close->click();
                    else
                        box->reject();
                }
        });
        timer.start(50);
    }
    QStringList titles, texts;
    QTimer timer;
};

#endif
