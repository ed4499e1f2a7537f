// A headless backend installed for the length of one test, with the graphics services reset.
#pragma once

#include "gfx/gfx.h"
#include "gfx/inspect.h"
#include "platform/headless/headless_platform.h"

#include <gtest/gtest.h>

class HeadlessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        releaseGraphics();
        platform::setBackend(&backend);
        backend.start();
    }
    void TearDown() override {
        releaseGraphics();
        backend.stop();
        platform::setBackend(nullptr);
    }
    // Opens a windowed screen of the given size, as the program does.
    void openScreen(int32_t w, int32_t h) {
        int32_t n = openWindow(-1, 0, 0, w, h, "", windowBorderless | windowCentred);
        ASSERT_NE(openWindowedScreen(windowHandle(n), 0, 0, w, h), 0);
    }
    uint32_t pixel(int32_t x, int32_t y) const {
        return backBuffer()[static_cast<size_t>(y) * static_cast<size_t>(screenWidth()) +
                            static_cast<size_t>(x)];
    }
    // Fills the back buffer with one colour through a full-screen box.
    void paintScreen(Colour c) {
        beginDrawing(screenTarget());
        drawBox(0, 0, screenWidth(), screenHeight(), c);
        endDrawing();
    }
    platform::HeadlessBackend backend;
};
