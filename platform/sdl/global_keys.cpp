#include "platform/sdl/global_keys.h"

#include "platform/platform.h"

#ifdef INTRO_HAVE_X11
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>
#endif

namespace platform {

#ifdef INTRO_HAVE_X11

struct GlobalKeys {
    Display* display = nullptr;
    int xiOpcode = -1; // -1: no raw key events, keymap only
    bool latched[256] = {};
};

GlobalKeys* openGlobalKeys() {
    Display* d = XOpenDisplay(nullptr);
    if (!d) return nullptr;
    auto* keys = new GlobalKeys;
    keys->display = d;
    int event = 0, error = 0, opcode = 0;
    if (XQueryExtension(d, "XInputExtension", &opcode, &event, &error)) {
        int major = 2, minor = 0;
        if (XIQueryVersion(d, &major, &minor) == Success) {
            unsigned char mask[XIMaskLen(XI_LASTEVENT)] = {};
            XISetMask(mask, XI_RawKeyPress);
            XIEventMask em;
            em.deviceid = XIAllMasterDevices;
            em.mask_len = sizeof(mask);
            em.mask = mask;
            XISelectEvents(d, DefaultRootWindow(d), &em, 1);
            XFlush(d);
            keys->xiOpcode = opcode;
        }
    }
    return keys;
}

void closeGlobalKeys(GlobalKeys* keys) {
    if (!keys) return;
    XCloseDisplay(keys->display);
    delete keys;
}

namespace {

KeySym keySymFor(int32_t virtualKey) {
    switch (virtualKey) {
    case keyEscape:
        return XK_Escape;
    case keyF1:
        return XK_F1;
    case keyF2:
        return XK_F2;
    default:
        return NoSymbol;
    }
}

void drainRawPresses(GlobalKeys* keys) {
    Display* d = keys->display;
    while (XPending(d) > 0) {
        XEvent ev;
        XNextEvent(d, &ev);
        XGenericEventCookie* cookie = &ev.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != keys->xiOpcode) continue;
        if (!XGetEventData(d, cookie)) continue;
        if (cookie->evtype == XI_RawKeyPress) {
            auto* raw = static_cast<XIRawEvent*>(cookie->data);
            if (raw->detail >= 0 && raw->detail < 256) keys->latched[raw->detail] = true;
        }
        XFreeEventData(d, cookie);
    }
}

} // namespace

int16_t globalKeyState(GlobalKeys* keys, int32_t virtualKey) {
    if (!keys) return 0;
    KeySym sym = keySymFor(virtualKey);
    if (sym == NoSymbol) return 0;
    KeyCode code = XKeysymToKeycode(keys->display, sym);
    if (code == 0) return 0;
    int16_t state = 0;
    if (keys->xiOpcode >= 0) {
        drainRawPresses(keys);
        if (keys->latched[code]) {
            keys->latched[code] = false;
            state |= 1;
        }
    }
    char map[32] = {};
    XQueryKeymap(keys->display, map);
    if (map[code >> 3] & (1 << (code & 7))) state |= static_cast<int16_t>(0x8000);
    return state;
}

#else

struct GlobalKeys {};
GlobalKeys* openGlobalKeys() {
    return nullptr;
}
void closeGlobalKeys(GlobalKeys*) {}
int16_t globalKeyState(GlobalKeys*, int32_t) {
    return 0;
}

#endif

} // namespace platform
