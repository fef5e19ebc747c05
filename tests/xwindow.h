/* A plain mapped X11 window on the test display, as the programs hand their
 * video area or preview over. */
#ifndef KORIN_TEST_XWINDOW_H
#define KORIN_TEST_XWINDOW_H

#include <QThread>

#include <X11/Xlib.h>

struct XWindow {
    Display *dpy = nullptr;
    Window win = 0;

    explicit XWindow(int width = 320, int height = 240, unsigned long background = 0)
    {
        // The X server here sometimes refuses a quick reconnection: retry.
        for (int attempt = 0; attempt < 20 && !(dpy = XOpenDisplay(nullptr)); attempt++)
            QThread::msleep(50);
        if (dpy) {
            win = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, width, height, 0, 0, background);
            XMapWindow(dpy, win);
            XSync(dpy, False);
        }
    }
    ~XWindow()
    {
        if (dpy)
            XCloseDisplay(dpy); // destroys the window too
    }
    XWindow(const XWindow &) = delete;
    bool ok() const { return dpy && win; }
    unsigned long id() const { return win; }
};

#endif
