#include "FirstFrame.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>

#include <poll.h>
#include <set>
#include <time.h>

namespace {

double now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// A window may be gone before the request to watch it arrives; that is no
// fault of ours, and Xlib would otherwise end the program for it.
int ignoreError(Display *, XErrorEvent *)
{
    return 0;
}

// Waits for the next event up to the deadline; false when none came.
bool nextEvent(Display *display, XEvent *event, double deadline)
{
    while (!XPending(display)) {
        const double left = deadline - now();
        if (left <= 0)
            return false;
        pollfd connection{ConnectionNumber(display), POLLIN, 0};
        poll(&connection, 1, int(left * 1000) + 1);
    }
    XNextEvent(display, event);
    return true;
}

} // namespace

double secondsToFirstFrame(const std::function<bool()> &start, double timeoutSeconds)
{
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return -1;
    XSetErrorHandler(ignoreError);
    int damageEvent = 0, damageError = 0;
    if (!XDamageQueryExtension(display, &damageEvent, &damageError)) {
        XCloseDisplay(display);
        return -1;
    }
    // Windows made by the program are children of the root (no window
    // manager runs here): each is watched from its creation on, so no
    // drawing can come before the watch.
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);

    const double started = now();
    double frame = -1;
    if (start()) {
        const double deadline = started + timeoutSeconds;
        std::set<Window> mapped;
        XEvent event;
        while (frame < 0 && nextEvent(display, &event, deadline)) {
            if (event.type == CreateNotify) {
                XDamageCreate(display, event.xcreatewindow.window, XDamageReportNonEmpty);
                XFlush(display);
            } else if (event.type == MapNotify) {
                mapped.insert(event.xmap.window);
            } else if (event.type == damageEvent + XDamageNotify) {
                const auto *damage = reinterpret_cast<XDamageNotifyEvent *>(&event);
                if (mapped.count(damage->drawable))
                    frame = now() - started;
                else // not on the screen yet: wait for its next drawing
                    XDamageSubtract(display, damage->damage, None, None);
            }
        }
    }
    XCloseDisplay(display);
    return frame;
}
