// Read-only views into the graphics services' state, for tests, tools and benchmarks.
#pragma once

#include "gfx/gfx.h"

#include <cstdint>

struct ClipRect {
    int32_t x = 0, y = 0, width = 0, height = 0;
};

// The back buffer of the open screen (null when none is open), one 0x00BBGGRR word per pixel.
const uint32_t* backBuffer();
int32_t screenWidth();
int32_t screenHeight();
// The full size and clip rectangle of a sprite; false when it does not exist.
bool spriteInfo(SpriteId id, int32_t& fullWidth, int32_t& fullHeight, ClipRect& clip);
// A sprite pixel and whether it is opaque; false when out of range or missing.
bool spritePixel(SpriteId id, int32_t x, int32_t y, uint32_t& colour, bool& opaque);
// Sprite draws issued since the services started, whether or not they changed a pixel.
int64_t spriteDrawCalls();
// The pacing interval in counter ticks set by setFrameRate (0 when unset).
int64_t pacingTicks();
