#include "platform/headless/headless_platform.h"

#include <algorithm>
#include <cstring>

namespace platform {

void HeadlessBackend::pressKey(int32_t key, int64_t frame) {
    keys.push_back({key, frame, frame, true, false});
}

void HeadlessBackend::holdKey(int32_t key, int64_t fromFrame, int64_t toFrame) {
    keys.push_back({key, fromFrame, toFrame, false, false});
}

void HeadlessBackend::queueEvent(int32_t code) {
    events.push_back(code);
}

bool HeadlessBackend::windowOnTop(uintptr_t window) const {
    return std::find(topmost.begin(), topmost.end(), window) != topmost.end();
}

bool HeadlessBackend::start() {
    return displayReachable;
}

void HeadlessBackend::stop() {
    closeScreen();
    openWindows = 0;
    topmost.clear();
}

DisplayInfo HeadlessBackend::display(int32_t index) {
    return index == 0 ? desktop : DisplayInfo{};
}

uintptr_t HeadlessBackend::openWindow(int32_t, int32_t, int32_t w, int32_t h, const char*,
                                      uint32_t) {
    if (w <= 0 || h <= 0) return 0;
    ++openWindows;
    return nextWindow++;
}

void HeadlessBackend::closeWindow(uintptr_t window) {
    if (window == 0 || openWindows == 0) return;
    --openWindows;
    topmost.erase(std::remove(topmost.begin(), topmost.end(), window), topmost.end());
}

void HeadlessBackend::keepWindowOnTop(uintptr_t window, bool on) {
    topmost.erase(std::remove(topmost.begin(), topmost.end(), window), topmost.end());
    if (on) topmost.push_back(window);
}

int32_t HeadlessBackend::pollEvent() {
    if (events.empty()) return 0;
    int32_t code = events.front();
    events.erase(events.begin());
    return code;
}

bool HeadlessBackend::openWindowedScreen(uintptr_t window, int32_t, int32_t, int32_t w, int32_t h) {
    if (window == 0 || w <= 0 || h <= 0) return false;
    width = w;
    height = h;
    shown.assign(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
    screenIsOpen = true;
    fullScreen = false;
    return true;
}

bool HeadlessBackend::openFullScreen(int32_t w, int32_t h, int32_t depth, const char*) {
    if (w <= 0 || h <= 0 || (depth != 16 && depth != 32)) return false;
    width = w;
    height = h;
    shown.assign(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
    screenIsOpen = true;
    fullScreen = true;
    cursorVisible = false;
    return true;
}

void HeadlessBackend::closeScreen() {
    if (screenIsOpen && fullScreen) cursorVisible = true;
    screenIsOpen = false;
    fullScreen = false;
}

void HeadlessBackend::present(const uint32_t* pixels, int32_t w, int32_t h) {
    if (screenIsOpen && w == width && h == height)
        std::memcpy(shown.data(), pixels, shown.size() * sizeof(uint32_t));
    if (onPresent) onPresent(presented, pixels, w, h);
    ++presented;
}

int64_t HeadlessBackend::counter() {
    ++reads;
    int64_t now = counterValue;
    counterValue += counterStep;
    return now;
}

void HeadlessBackend::sleepMs(uint32_t ms) {
    sleptTotal += ms;
    ticksMs += ms;
    if (frequency > 0) counterValue += frequency / 1000 * ms;
}

int16_t HeadlessBackend::asyncKeyState(int32_t key) {
    int16_t state = 0;
    for (auto& k : keys) {
        if (k.key != key) continue;
        if (k.latch) {
            if (!k.reported && presented >= k.from) {
                k.reported = true;
                state |= 1;
            }
        } else if (presented >= k.from && presented < k.to) {
            state |= static_cast<int16_t>(0x8000);
        }
    }
    return state;
}

} // namespace platform
