// The one small interface between the program and the machine it runs on: windows, the screen
// and its presentation, the high-resolution counter, sleeping, key state and the cursor.
// The graphics services and the shell call only this; each backend (SDL2, headless) implements
// it in a folder of its own.
#pragma once

#include <cstdint>

namespace platform {

// Virtual key codes the program asks about.
constexpr int32_t keyEscape = 0x1B;
constexpr int32_t keyF1 = 0x70;
constexpr int32_t keyF2 = 0x71;

// Window options.
constexpr uint32_t windowBorderless = 1;
constexpr uint32_t windowCentred = 2;

struct DisplayInfo {
    int32_t width = 0;
    int32_t height = 0;
    int32_t refreshRate = 0; // Hz, 0 when unknown
    int32_t bitsPerPixel = 0;
};

class Backend {
  public:
    virtual ~Backend() = default;

    // Brings the services up. False when no display can be reached at all.
    virtual bool start() = 0;
    // Takes down everything start() and later calls made (windows, screen, connections).
    virtual void stop() = 0;

    virtual int32_t displayCount() = 0;
    virtual DisplayInfo display(int32_t index) = 0;

    // A top-level window, shown and activated; 0 on failure. Close requests only queue an event.
    virtual uintptr_t openWindow(int32_t x, int32_t y, int32_t width, int32_t height,
                                 const char* title, uint32_t options) = 0;
    virtual void closeWindow(uintptr_t window) = 0;
    virtual void keepWindowOnTop(uintptr_t window, bool on) = 0;
    // Takes at most one pending event and returns its non-zero code; 0 when nothing was pending.
    virtual int32_t pollEvent() = 0;

    // A screen of width x height pixels inside the window's client area at (x, y).
    virtual bool openWindowedScreen(uintptr_t window, int32_t x, int32_t y, int32_t width,
                                    int32_t height) = 0;
    // An exclusive full screen on the primary display.
    virtual bool openFullScreen(int32_t width, int32_t height, int32_t depth,
                                const char* title) = 0;
    virtual void closeScreen() = 0;
    // False while a full screen has lost the activation.
    virtual bool screenAvailable() = 0;
    // Shows a frame of 0x00BBGGRR pixels, synchronised with the vertical blank.
    virtual void present(const uint32_t* pixels, int32_t width, int32_t height) = 0;

    // The high-resolution counter; a frequency of 0 means there is none.
    virtual int64_t counter() = 0;
    virtual int64_t counterFrequency() = 0;
    virtual uint64_t tickCountMs() = 0;
    virtual void sleepMs(uint32_t milliseconds) = 0;
    // Value from which the random generator is seeded at its first use.
    virtual uint64_t randomSeed() = 0;

    // Non-zero when the key is down now or has been pressed since the previous query of that key,
    // whichever window has the keyboard focus.
    virtual int16_t asyncKeyState(int32_t virtualKey) = 0;
    virtual void showCursor(bool show) = 0;
    // The icon of the windows opened from now on: width x height pixels of 0xAABBGGRR.
    virtual void setWindowIcon(const uint32_t* pixels, int32_t width, int32_t height) = 0;
};

// The backend in use; set once by the program's entry (or by a test) before anything else runs.
Backend* backend();
void setBackend(Backend* b);

} // namespace platform
