#include "platform/sdl/sdl_platform.h"

#include "platform/sdl/global_keys.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace platform {

namespace {

struct WindowSlot {
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr; // made when a windowed screen opens inside it
};

SDL_Scancode scancodeFor(int32_t virtualKey) {
    switch (virtualKey) {
    case keyEscape:
        return SDL_SCANCODE_ESCAPE;
    case keyF1:
        return SDL_SCANCODE_F1;
    case keyF2:
        return SDL_SCANCODE_F2;
    default:
        return SDL_SCANCODE_UNKNOWN;
    }
}

class SdlBackend final : public Backend {
  public:
    ~SdlBackend() override { stop(); }

    bool start() override {
        if (started) return true;
        SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "0");
        if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS | SDL_INIT_TIMER) != 0) return false;
        const char* driver = SDL_GetCurrentVideoDriver();
        // Without a real window system no key can ever be read.
        if (!driver || std::strcmp(driver, "dummy") == 0 || std::strcmp(driver, "offscreen") == 0 ||
            std::strcmp(driver, "evdev") == 0) {
            SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS | SDL_INIT_TIMER);
            return false;
        }
        if (std::strcmp(driver, "x11") == 0) keys = openGlobalKeys();
        SDL_AddEventWatch(&SdlBackend::watchEvents, this);
        started = true;
        return true;
    }

    void stop() override {
        if (!started) return;
        closeScreen();
        for (auto& w : windows) destroyWindow(w);
        windows.clear();
        SDL_DelEventWatch(&SdlBackend::watchEvents, this);
        closeGlobalKeys(keys);
        keys = nullptr;
        if (icon) SDL_FreeSurface(icon);
        icon = nullptr;
        SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS | SDL_INIT_TIMER);
        started = false;
    }

    int32_t displayCount() override { return std::max(0, SDL_GetNumVideoDisplays()); }

    DisplayInfo display(int32_t index) override {
        DisplayInfo info;
        SDL_DisplayMode mode;
        if (SDL_GetDesktopDisplayMode(index, &mode) != 0) return info;
        info.width = mode.w;
        info.height = mode.h;
        info.refreshRate = mode.refresh_rate;
        int bytes = SDL_BYTESPERPIXEL(mode.format);
        info.bitsPerPixel = bytes == 4 ? 32 : static_cast<int32_t>(SDL_BITSPERPIXEL(mode.format));
        return info;
    }

    uintptr_t openWindow(int32_t x, int32_t y, int32_t w, int32_t h, const char* title,
                         uint32_t options) override {
        if (!started) return 0;
        Uint32 flags = SDL_WINDOW_HIDDEN;
        if (options & windowBorderless) flags |= SDL_WINDOW_BORDERLESS;
        if (options & windowCentred) {
            SDL_Rect bounds{0, 0, 0, 0};
            if (SDL_GetDisplayBounds(0, &bounds) == 0) {
                x = bounds.x + (bounds.w - std::min(bounds.w, w)) / 2;
                y = bounds.y + (bounds.h - std::min(bounds.h, h)) / 2;
            }
        }
        SDL_Window* win = SDL_CreateWindow(title ? title : "", x, y, w, h, flags);
        if (!win) return 0;
        if (icon) SDL_SetWindowIcon(win, icon);
        SDL_ShowWindow(win);
        SDL_RaiseWindow(win);
        windows.push_back({win, nullptr});
        return static_cast<uintptr_t>(SDL_GetWindowID(win));
    }

    void closeWindow(uintptr_t handle) override {
        auto it = std::find_if(windows.begin(), windows.end(), [&](const WindowSlot& s) {
            return SDL_GetWindowID(s.window) == handle;
        });
        if (it == windows.end()) return;
        if (screenWindow == it->window && !fullScreen) closeScreen();
        destroyWindow(*it);
        windows.erase(it);
    }

    void keepWindowOnTop(uintptr_t handle, bool on) override {
        if (SDL_Window* w = find(handle)) SDL_SetWindowAlwaysOnTop(w, on ? SDL_TRUE : SDL_FALSE);
    }

    int32_t pollEvent() override {
        SDL_Event e;
        if (!SDL_PollEvent(&e)) return 0;
        return static_cast<int32_t>(e.type);
    }

    bool openWindowedScreen(uintptr_t handle, int32_t x, int32_t y, int32_t w, int32_t h) override {
        closeScreen();
        auto it = std::find_if(windows.begin(), windows.end(), [&](const WindowSlot& s) {
            return SDL_GetWindowID(s.window) == handle;
        });
        if (it == windows.end() || w <= 0 || h <= 0) return false;
        if (!it->renderer) it->renderer = makeRenderer(it->window);
        if (!it->renderer) return false;
        if (!makeTexture(it->renderer, w, h)) return false;
        screenWindow = it->window;
        screenRenderer = it->renderer;
        dest = SDL_Rect{x, y, w, h};
        fullScreen = false;
        return true;
    }

    bool openFullScreen(int32_t w, int32_t h, int32_t depth, const char* title) override {
        closeScreen();
        if (!started || w <= 0 || h <= 0 || (depth != 16 && depth != 32)) return false;
        SDL_Window* win = SDL_CreateWindow(title ? title : "", SDL_WINDOWPOS_CENTERED,
                                           SDL_WINDOWPOS_CENTERED, w, h, SDL_WINDOW_FULLSCREEN);
        if (!win) return false;
        SDL_DisplayMode want{SDL_PIXELFORMAT_UNKNOWN, w, h, 0, nullptr};
        SDL_DisplayMode got;
        if (SDL_GetClosestDisplayMode(0, &want, &got)) SDL_SetWindowDisplayMode(win, &got);
        if (icon) SDL_SetWindowIcon(win, icon);
        SDL_Renderer* r = makeRenderer(win);
        if (!r || !makeTexture(r, w, h)) {
            if (r) SDL_DestroyRenderer(r);
            SDL_DestroyWindow(win);
            return false;
        }
        SDL_RenderSetLogicalSize(r, w, h);
        SDL_ShowCursor(SDL_DISABLE);
        SDL_RaiseWindow(win);
        fullWindow = win;
        screenWindow = win;
        screenRenderer = r;
        dest = SDL_Rect{0, 0, w, h};
        fullScreen = true;
        return true;
    }

    void closeScreen() override {
        if (texture) SDL_DestroyTexture(texture);
        texture = nullptr;
        if (fullWindow) {
            SDL_DestroyRenderer(screenRenderer);
            SDL_DestroyWindow(fullWindow);
            SDL_ShowCursor(SDL_ENABLE);
            fullWindow = nullptr;
        } else if (screenRenderer) {
            // The window stays open; its screen area is cleared away.
            SDL_SetRenderDrawColor(screenRenderer, 0, 0, 0, 255);
            SDL_RenderClear(screenRenderer);
            SDL_RenderPresent(screenRenderer);
        }
        screenRenderer = nullptr;
        screenWindow = nullptr;
        fullScreen = false;
    }

    bool screenAvailable() override {
        if (!fullWindow) return screenRenderer != nullptr;
        SDL_PumpEvents();
        return (SDL_GetWindowFlags(fullWindow) & SDL_WINDOW_MINIMIZED) == 0;
    }

    void present(const uint32_t* pixels, int32_t w, int32_t h) override {
        if (!screenRenderer || !texture || w != dest.w || h != dest.h) return;
        SDL_UpdateTexture(texture, nullptr, pixels, w * static_cast<int>(sizeof(uint32_t)));
        SDL_RenderCopy(screenRenderer, texture, nullptr, &dest);
        SDL_RenderPresent(screenRenderer);
    }

    int64_t counter() override { return static_cast<int64_t>(SDL_GetPerformanceCounter()); }
    int64_t counterFrequency() override {
        return static_cast<int64_t>(SDL_GetPerformanceFrequency());
    }
    uint64_t tickCountMs() override { return SDL_GetTicks64(); }
    void sleepMs(uint32_t ms) override { SDL_Delay(ms); }
    uint64_t randomSeed() override {
        uint64_t thread = static_cast<uint64_t>(SDL_ThreadID());
        return thread * 0x9E3779B97F4A7C15ull ^ SDL_GetTicks64() ^ SDL_GetPerformanceCounter();
    }

    int16_t asyncKeyState(int32_t key) override {
        if (keys) return globalKeyState(keys, key);
        // No global state: the focused window's keyboard state, plus presses seen since.
        SDL_Scancode sc = scancodeFor(key);
        if (sc == SDL_SCANCODE_UNKNOWN) return 0;
        SDL_PumpEvents();
        int16_t state = 0;
        if (latched[sc]) {
            latched[sc] = false;
            state |= 1;
        }
        const Uint8* now = SDL_GetKeyboardState(nullptr);
        if (now && now[sc]) state |= static_cast<int16_t>(0x8000);
        return state;
    }

    void showCursor(bool show) override { SDL_ShowCursor(show ? SDL_ENABLE : SDL_DISABLE); }

    void setWindowIcon(const uint32_t* pixels, int32_t w, int32_t h) override {
        if (icon) SDL_FreeSurface(icon);
        icon = nullptr;
        if (!pixels || w <= 0 || h <= 0) return;
        iconPixels.assign(pixels, pixels + static_cast<size_t>(w) * static_cast<size_t>(h));
        icon = SDL_CreateRGBSurfaceWithFormatFrom(iconPixels.data(), w, h, 32, w * 4,
                                                  SDL_PIXELFORMAT_ABGR8888);
    }

  private:
    static int watchEvents(void* self, SDL_Event* e) {
        auto* b = static_cast<SdlBackend*>(self);
        if (e->type == SDL_KEYDOWN && e->key.keysym.scancode < SDL_NUM_SCANCODES)
            b->latched[e->key.keysym.scancode] = true;
        return 0;
    }

    SDL_Window* find(uintptr_t handle) {
        for (auto& s : windows)
            if (SDL_GetWindowID(s.window) == handle) return s.window;
        return nullptr;
    }

    static SDL_Renderer* makeRenderer(SDL_Window* w) {
        SDL_Renderer* r = SDL_CreateRenderer(w, -1, SDL_RENDERER_PRESENTVSYNC);
        if (!r) r = SDL_CreateRenderer(w, -1, SDL_RENDERER_SOFTWARE);
        return r;
    }

    bool makeTexture(SDL_Renderer* r, int32_t w, int32_t h) {
        texture = SDL_CreateTexture(r, SDL_PIXELFORMAT_XBGR8888, SDL_TEXTUREACCESS_STREAMING, w, h);
        return texture != nullptr;
    }

    void destroyWindow(WindowSlot& s) {
        if (s.renderer) {
            if (screenRenderer == s.renderer) {
                if (texture) SDL_DestroyTexture(texture);
                texture = nullptr;
                screenRenderer = nullptr;
                screenWindow = nullptr;
            }
            SDL_DestroyRenderer(s.renderer);
        }
        SDL_DestroyWindow(s.window);
        s = WindowSlot{};
    }

    bool started = false;
    GlobalKeys* keys = nullptr;
    std::vector<WindowSlot> windows;
    SDL_Window* fullWindow = nullptr;
    SDL_Window* screenWindow = nullptr;
    SDL_Renderer* screenRenderer = nullptr;
    SDL_Texture* texture = nullptr;
    SDL_Rect dest{0, 0, 0, 0};
    bool fullScreen = false;
    bool latched[SDL_NUM_SCANCODES] = {};
    SDL_Surface* icon = nullptr;
    std::vector<uint32_t> iconPixels;
};

} // namespace

std::unique_ptr<Backend> makeSdlBackend() {
    return std::make_unique<SdlBackend>();
}

} // namespace platform
