// The program's spine: start-up, the main screen, the frame loop of the show, shutdown.
#pragma once

#include <cstdint>

struct ShellState {
    int32_t screenMode; // 1: full screen, 0: windowed
};

extern ShellState shellState;

// The whole run over the platform backend that was set; returns the process exit code (0).
int runIntro();

// Loads the show's sprites and builds its tables and star layers (main screen open).
void setUpShow();
// Draws one frame of the show into the back buffer: clear, stars, scroller, logo, band, bars.
void drawShowFrame();

int32_t openFullScreenMode(int32_t width, int32_t height, int32_t rate);
int32_t openWindowedMode(int32_t width, int32_t height);
// Two black bars over rows 0-39 and 440-479, last before every flip of the main screen.
int32_t drawBorderBars();
void shutdownPlatform();
