#include "show/logo.h"

#include "gfx/gfx.h"

#include <cmath>

SwingingLogo swingingLogo;

void logoPosition(int32_t& x, int32_t& y) {
    const int32_t h = spriteHeight(logoSprite);
    x = static_cast<int32_t>(std::nearbyint(static_cast<double>(swingingLogo.logoSwing) + -320.0));
    y = static_cast<int32_t>(std::nearbyint(static_cast<double>(-h) -
                                            static_cast<double>(swingingLogo.logoBob) + 360.0));
}

void drawLogo() {
    auto& s = swingingLogo;
    s.logoPhase = static_cast<float>(static_cast<double>(s.logoPhase) + 7.0);
    s.logoBob =
        static_cast<float>(std::sin(static_cast<double>(degreesToRadians(s.logoPhase))) * 80.0);
    const float quarter = static_cast<float>(static_cast<double>(s.logoPhase) / 4.0);
    s.logoSwing =
        static_cast<float>(std::sin(static_cast<double>(degreesToRadians(quarter))) * 326.0);
    int32_t x = 0, y = 0;
    logoPosition(x, y);
    drawTinted(logoSprite, x, y, 255, rgb(0, 0, 224));
}
