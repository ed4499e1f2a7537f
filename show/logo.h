// A wide one-colour wordmark swinging across the screen on a slow sine and bobbing on a fast one.
#pragma once

#include <cstdint>

struct SwingingLogo {
    float logoPhase; // degrees, grows by 7 per frame, never reduced
    float logoBob;   // sin(phase) * 80
    float logoSwing; // sin(phase / 4) * 326
};

extern SwingingLogo swingingLogo;

constexpr int32_t logoSprite = 3002;

void drawLogo();
// Where drawLogo puts the logo for the current phase values (for tests and tools).
void logoPosition(int32_t& x, int32_t& y);
