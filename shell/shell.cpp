#include "shell/shell.h"

#include "assets/embedded.h"
#include "gfx/gfx.h"
#include "platform/platform.h"
#include "show/band.h"
#include "show/logo.h"
#include "show/scroller.h"
#include "show/stars.h"

ShellState shellState;

namespace {

constexpr int32_t mainWidth = 640;
constexpr int32_t mainHeight = 480;
constexpr int32_t barSprite = 3600;

// Every variable of the program starts at zero.
void resetProgramState() {
    shellState = ShellState{};
    starLayers = StarLayers{};
    scroller = Scroller{};
    swingingLogo = SwingingLogo{};
    colourBand = ColourBand{};
}

void setWindowIcon() {
    static uint32_t icon[32 * 32];
    if (assets::appIconRgba32(icon)) platform::backend()->setWindowIcon(icon, 32, 32);
}

} // namespace

// The show's sprites and tables, in the order the show depends on.
void setUpShow() {
    loadSprite(bandSprite, bandImage, bandImageSize);
    loadSprite(logoSprite, logoImage, logoImageSize);
    loadSprite(bannerSprite, bannerImage, bannerImageSize);
    colourBand.bandIndex = 0;
    loadSprite(scrollFontSprite, scrollFontImage, scrollFontImageSize);
    setUpScroller(assets::storedScrollText.units, assets::storedScrollText.length);
    buildColourTable(colourRecords);
    startScroller();
    colourBand.bandIndex = 0;
    swingingLogo.logoPhase = 0.0f;
    buildStarLayers();
}

void drawShowFrame() {
    clearScreen(0);
    drawStarLayers();
    drawScroller();
    drawLogo();
    drawColourBand();
    drawBorderBars();
}

namespace {

void runFrameLoop() {
    do {
        if (shellState.screenMode == 0) pollWindowEvent();
        drawShowFrame();
        flipBuffers();
    } while (escapePressed() == 0);
}

} // namespace

int32_t openFullScreenMode(int32_t width, int32_t height, int32_t rate) {
    examineDisplays();
    int32_t result = openFullScreen(width, height, displayDepth(0), "");
    setFrameRate(rate);
    return result;
}

int32_t openWindowedMode(int32_t width, int32_t height) {
    int32_t n = openWindow(-1, 0, 0, width, height, "", windowBorderless | windowCentred);
    int32_t result = openWindowedScreen(windowHandle(n), 0, 0, width, height);
    keepWindowOnTop(n, 1);
    showCursor(false);
    return result;
}

int32_t drawBorderBars() {
    if (spriteExists(barSprite) == 0) createSprite(barSprite, mainWidth, 40);
    drawOpaque(barSprite, 0, 0);
    drawOpaque(barSprite, 0, 440);
    return 0;
}

void shutdownPlatform() {
    releaseGraphics();
    if (platform::backend()) platform::backend()->stop();
}

int runIntro() {
    resetProgramState();
    releaseGraphics();
    // Without a display no key can ever be read, so the intro could never be left: end at once.
    if (!platform::backend() || !platform::backend()->start()) return 0;
    setWindowIcon();
    initSprites();
    // The launcher's choice of screen mode comes later; until then the show opens windowed, with
    // the frame rate the launcher would have set.
    setFrameRate(60);
    shellState.screenMode = 0;
    if (shellState.screenMode != 0)
        openFullScreenMode(mainWidth, mainHeight, 60);
    else
        openWindowedMode(mainWidth, mainHeight);
    setUpShow();
    runFrameLoop();
    shutdownPlatform();
    return 0;
}
