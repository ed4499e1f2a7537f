// A backend without any window system, for tests and render tools: the screen is a block of
// memory, keys come from a script keyed to the number of frames presented, the counter and clock
// are under the caller's control and the random generator gets a fixed value to start from.
#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

namespace platform {

class HeadlessBackend final : public Backend {
  public:
    // --- script and observation, for the test or tool that owns the backend ---
    // The key reads as pressed once, at the first query made after `frame` frames were presented.
    void pressKey(int32_t key, int64_t frame);
    // The key reads as down while the number of presented frames lies in [fromFrame, toFrame).
    void holdKey(int32_t key, int64_t fromFrame,
                 int64_t toFrame = std::numeric_limits<int64_t>::max());
    // Queues a window event code (non-zero) for pollEvent.
    void queueEvent(int32_t code);

    int64_t framesPresented() const { return presented; }
    int32_t screenWidth() const { return width; }
    int32_t screenHeight() const { return height; }
    const std::vector<uint32_t>& screenPixels() const { return shown; }
    bool screenOpen() const { return screenIsOpen; }
    bool screenIsFull() const { return fullScreen; }
    bool cursorShown() const { return cursorVisible; }
    int32_t windowsOpen() const { return openWindows; }
    bool windowOnTop(uintptr_t window) const;
    int64_t counterReads() const { return reads; }
    int64_t sleptMs() const { return sleptTotal; }

    // Called for every presented frame with the number of frames presented before it.
    std::function<void(int64_t frame, const uint32_t* pixels, int32_t w, int32_t h)> onPresent;

    // --- settings ---
    bool displayReachable = true;
    DisplayInfo desktop{1920, 1080, 60, 32};
    bool available = true; // screenAvailable()
    int64_t counterValue = 1'000'000'000;
    int64_t counterStep = 100'000;  // added to the counter after every read
    int64_t frequency = 10'000'000; // 0: no high-resolution counter
    uint64_t ticksMs = 5000;
    uint64_t seed = 1;

    // --- Backend ---
    bool start() override;
    void stop() override;
    int32_t displayCount() override { return 1; }
    DisplayInfo display(int32_t index) override;
    uintptr_t openWindow(int32_t x, int32_t y, int32_t w, int32_t h, const char* title,
                         uint32_t options) override;
    void closeWindow(uintptr_t window) override;
    void keepWindowOnTop(uintptr_t window, bool on) override;
    int32_t pollEvent() override;
    bool openWindowedScreen(uintptr_t window, int32_t x, int32_t y, int32_t w, int32_t h) override;
    bool openFullScreen(int32_t w, int32_t h, int32_t depth, const char* title) override;
    void closeScreen() override;
    bool screenAvailable() override { return available; }
    void present(const uint32_t* pixels, int32_t w, int32_t h) override;
    int64_t counter() override;
    int64_t counterFrequency() override { return frequency; }
    uint64_t tickCountMs() override { return ticksMs; }
    void sleepMs(uint32_t ms) override;
    uint64_t randomSeed() override { return seed; }
    int16_t asyncKeyState(int32_t key) override;
    void showCursor(bool show) override { cursorVisible = show; }
    void setWindowIcon(const uint32_t*, int32_t w, int32_t h) override { iconSize = w * h; }
    int32_t iconPixels() const { return iconSize; }

  private:
    struct KeyScript {
        int32_t key;
        int64_t from;
        int64_t to;
        bool latch; // a press that is reported once
        bool reported;
    };
    std::vector<KeyScript> keys;
    std::vector<int32_t> events;
    std::vector<uintptr_t> topmost;
    std::vector<uint32_t> shown;
    int64_t presented = 0;
    int64_t reads = 0;
    int64_t sleptTotal = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t openWindows = 0;
    int32_t iconSize = 0;
    uintptr_t nextWindow = 1;
    bool screenIsOpen = false;
    bool fullScreen = false;
    bool cursorVisible = true;
};

} // namespace platform
