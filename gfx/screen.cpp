// Displays, windows, screens and the paced frame cycle.
#include "gfx/internal.h"

#include "platform/platform.h"

#include <algorithm>
#include <cstring>

namespace gfx {

State& state() {
    static State s;
    return s;
}

} // namespace gfx

using gfx::state;

namespace {

platform::Backend* be() {
    return platform::backend();
}

gfx::WindowEntry* findWindow(int32_t number) {
    for (auto& w : state().windows)
        if (w.number == number) return &w;
    return nullptr;
}

void openBackBuffer(int32_t width, int32_t height, bool full, int32_t refresh) {
    auto& sc = state().screen;
    sc.open = true;
    sc.full = full;
    sc.refreshRate = refresh;
    sc.back.width = width;
    sc.back.height = height;
    sc.back.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
}

} // namespace

int32_t examineDisplays() {
    auto& st = state();
    st.displayDepths.clear();
    st.displays = be() ? be()->displayCount() : 0;
    for (int32_t i = 0; i < st.displays; ++i)
        st.displayDepths.push_back(be()->display(i).bitsPerPixel);
    return st.displays;
}

int32_t displayDepth(int32_t index) {
    auto& st = state();
    if (index < 0 || index >= static_cast<int32_t>(st.displayDepths.size())) return 0;
    return st.displayDepths[static_cast<size_t>(index)];
}

int32_t openWindow(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                   const char* title, uint32_t options) {
    if (!be() || width <= 0 || height <= 0) return 0;
    auto& st = state();
    if (number == -1) {
        number = 0;
        while (findWindow(number)) ++number;
    } else if (number < 0) {
        return 0;
    } else if (findWindow(number)) {
        closeWindow(number);
    }
    uint32_t backendOptions = 0;
    if (options & windowBorderless) backendOptions |= platform::windowBorderless;
    if (options & windowCentred) backendOptions |= platform::windowCentred;
    uintptr_t handle = be()->openWindow(x, y, width, height, title, backendOptions);
    if (handle == 0) return 0;
    st.windows.push_back({number, handle});
    return number;
}

WindowHandle windowHandle(int32_t number) {
    auto* w = findWindow(number);
    return w ? w->handle : 0;
}

void keepWindowOnTop(int32_t number, int32_t on) {
    if (auto* w = findWindow(number)) be()->keepWindowOnTop(w->handle, on != 0);
}

void closeWindow(int32_t number) {
    auto& ws = state().windows;
    auto it = std::find_if(ws.begin(), ws.end(), [&](const auto& w) { return w.number == number; });
    if (it == ws.end()) return;
    be()->closeWindow(it->handle);
    ws.erase(it);
}

int32_t pollWindowEvent() {
    return be() ? be()->pollEvent() : 0;
}

int32_t openFullScreen(int32_t width, int32_t height, int32_t depth, const char* title) {
    if (!be() || width <= 0 || height <= 0) return 0;
    closeScreen();
    if (!be()->openFullScreen(width, height, depth, title)) return 0;
    openBackBuffer(width, height, true, 0);
    return 1;
}

int32_t openWindowedScreen(WindowHandle window, int32_t x, int32_t y, int32_t width,
                           int32_t height) {
    if (!be() || width <= 0 || height <= 0) return 0;
    closeScreen();
    if (!be()->openWindowedScreen(window, x, y, width, height)) return 0;
    int32_t refresh = be()->displayCount() > 0 ? be()->display(0).refreshRate : 0;
    openBackBuffer(width, height, false, refresh);
    return 1;
}

int32_t setFrameRate(int32_t rate) {
    auto& st = state();
    int64_t f = be() ? be()->counterFrequency() : 0;
    if (f <= 0) return 0;
    st.frameRate = rate;
    st.paceTicks = rate + 1 > 0 ? f / (static_cast<int64_t>(rate) + 1) : 0;
    st.lastFlip = 0;
    return 1;
}

void clearScreen(Colour colour) {
    auto& sc = state().screen;
    if (!sc.open) return;
    std::fill(sc.back.pixels.begin(), sc.back.pixels.end(),
              static_cast<uint32_t>(colour) & 0xFFFFFFu);
}

int32_t flipBuffers() {
    auto& st = state();
    endDrawing();
    if (!st.screen.open || !be()) return 0;
    auto* b = be();
    // A full screen takes every pending message here; a windowed one leaves them to the program.
    auto dispatchMessages = [&] {
        if (st.screen.full)
            while (b->pollEvent() != 0) {
            }
    };
    dispatchMessages();
    if (!b->screenAvailable()) {
        // A lost full screen: wait a little for it to come back, else return unpaced.
        for (int i = 0; i < 32 && !b->screenAvailable(); ++i) {
            b->sleepMs(1);
            dispatchMessages();
        }
        if (!b->screenAvailable()) return 1;
    }
    b->present(st.screen.back.pixels.data(), st.screen.back.width, st.screen.back.height);
    if (st.frameRate > 0 && st.frameRate != st.screen.refreshRate) {
        if (b->counterFrequency() > 0) {
            int64_t now = b->counter();
            while (now - st.lastFlip <= st.paceTicks) now = b->counter();
            st.lastFlip = now;
        }
    }
    return 1;
}

void closeScreen() {
    auto& st = state();
    if (!st.screen.open) return;
    if (st.context.open) endDrawing();
    st.sprites.clear();
    if (be()) be()->closeScreen();
    st.screen = gfx::Screen{};
}

void releaseGraphics() {
    auto& st = state();
    closeScreen();
    while (!st.windows.empty()) closeWindow(st.windows.back().number);
    st = gfx::State{};
}

const uint32_t* backBuffer() {
    auto& sc = state().screen;
    return sc.open ? sc.back.pixels.data() : nullptr;
}
int32_t screenWidth() {
    return state().screen.open ? state().screen.back.width : 0;
}
int32_t screenHeight() {
    return state().screen.open ? state().screen.back.height : 0;
}
int64_t pacingTicks() {
    return state().paceTicks;
}
