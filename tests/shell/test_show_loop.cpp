#include "gfx/gfx.h"
#include "platform/headless/headless_platform.h"
#include "shell/shell.h"
#include "show/stars.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct RunResult {
    int exitCode = -1;
    int64_t frames = 0;
    bool barsBlack = true;
    bool starsSeen = false;
};

// Runs the whole program over a headless backend with the given key script.
RunResult runHeadless(platform::HeadlessBackend& backend) {
    RunResult r;
    backend.onPresent = [&](int64_t, const uint32_t* px, int32_t w, int32_t h) {
        if (w != 640 || h != 480) return;
        for (int32_t y = 0; y < 480; ++y)
            for (int32_t x = 0; x < 640; ++x) {
                uint32_t p = px[y * 640 + x];
                if ((y < 40 || y >= 440) && p != 0) r.barsBlack = false;
                if (p != 0) r.starsSeen = true;
            }
    };
    platform::setBackend(&backend);
    r.exitCode = runIntro();
    platform::setBackend(nullptr);
    r.frames = backend.framesPresented();
    return r;
}

TEST(ShowLoop, RunsUntilEscapeAndExitsWithZero) {
    platform::HeadlessBackend backend;
    backend.pressKey(0x1B, 120);
    RunResult r = runHeadless(backend);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.frames, 120);
    EXPECT_TRUE(r.barsBlack);
    EXPECT_TRUE(r.starsSeen);
    EXPECT_EQ(starLayers.starX[2], (120 - 107) * 6); // the near layer wrapped once
    EXPECT_FALSE(backend.screenOpen());              // shutdown released the screen
}

TEST(ShowLoop, EscapeHeldFromTheStartStillCompletesOneFrame) {
    platform::HeadlessBackend backend;
    backend.holdKey(0x1B, 0);
    RunResult r = runHeadless(backend);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.frames, 1);
    EXPECT_TRUE(r.barsBlack);
}

TEST(ShowLoop, WindowedLoopPollsOneEventPerFrameAndIgnoresCloseRequests) {
    platform::HeadlessBackend backend;
    for (int i = 0; i < 5; ++i) backend.queueEvent(0x100); // close requests
    backend.pressKey(0x1B, 3);
    RunResult r = runHeadless(backend);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.frames, 3);
    EXPECT_EQ(backend.pollEvent(), 0x100); // three taken, two still queued
    EXPECT_EQ(backend.pollEvent(), 0x100);
    EXPECT_EQ(backend.pollEvent(), 0);
}

TEST(ShowLoop, WithoutADisplayTheProgramEndsAtOnce) {
    platform::HeadlessBackend backend;
    backend.displayReachable = false;
    RunResult r = runHeadless(backend);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.frames, 0);
}

TEST(ShowLoop, TheBorderBarSpriteIsMadeOnce) {
    platform::HeadlessBackend backend;
    platform::setBackend(&backend);
    backend.start();
    releaseGraphics();
    int32_t n = openWindow(-1, 0, 0, 640, 480, "", windowBorderless | windowCentred);
    openWindowedScreen(windowHandle(n), 0, 0, 640, 480);
    EXPECT_EQ(spriteExists(3600), 0);
    drawBorderBars();
    EXPECT_NE(spriteExists(3600), 0);
    clipSprite(3600, 0, 0, 10, 10); // a second call must not remake it
    drawBorderBars();
    EXPECT_EQ(spriteWidth(3600), 10);
    releaseGraphics();
    platform::setBackend(nullptr);
}

} // namespace
