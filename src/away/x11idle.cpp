#include "away/x11idle.h"

#include <QGuiApplication>

#if QT_CONFIG(xcb)
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>
#include <xcb/xcb.h>
#endif

namespace vorlan {

namespace {

#if QT_CONFIG(xcb)
// The display Qt's xcb platform opened, while its connection is sound: Xlib ends the program
// on a request over a broken connection, before the window could tell the others it leaves.
Display *liveDisplay()
{
    const auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->display() || !x11->connection() || xcb_connection_has_error(x11->connection()))
        return nullptr;
    return x11->display();
}
#endif

} // namespace

bool x11IdleAvailable()
{
#if QT_CONFIG(xcb)
    int eventBase = 0;
    int errorBase = 0;
    Display *display = liveDisplay();
    return display && XScreenSaverQueryExtension(display, &eventBase, &errorBase);
#else
    return false;
#endif
}

std::optional<qint64> x11IdleMs()
{
#if QT_CONFIG(xcb)
    Display *display = liveDisplay();
    if (!display)
        return std::nullopt;
    XScreenSaverInfo *info = XScreenSaverAllocInfo();
    if (!info)
        return std::nullopt;
    std::optional<qint64> idle;
    if (XScreenSaverQueryInfo(display, DefaultRootWindow(display), info))
        idle = qint64(info->idle);
    XFree(info);
    return idle;
#else
    return std::nullopt;
#endif
}

} // namespace vorlan
