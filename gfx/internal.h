// State shared by the graphics services' source files. Not for use outside gfx/.
#pragma once

#include "gfx/gfx.h"
#include "gfx/inspect.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace gfx {

struct Surface {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels; // 0x00BBGGRR, top row first
};

// A run of opaque pixels within one row of a sprite.
struct Span {
    int32_t start;
    int32_t end; // one past the last opaque pixel
};

struct Sprite {
    Surface surface;
    uint32_t key = 0;
    ClipRect clip;
    // Opaque runs of every row: the runs of row r are spans[rowStart[r]] .. spans[rowStart[r+1]].
    std::vector<Span> spans;
    std::vector<uint32_t> rowStart;
};

struct GradientStop {
    float position;
    uint32_t colour;
};

enum class TargetKind : int32_t { none = 0, screen = 1, sprite = 2, image = 3 };

struct DrawingContext {
    bool open = false;
    TargetKind kind = TargetKind::none;
    int32_t id = 0;
    int32_t mode = 0;
    uint32_t front = 0xFFFFFF;
    uint32_t back = 0;
    std::vector<GradientStop> stops;
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

struct Screen {
    bool open = false;
    bool full = false;
    int32_t refreshRate = 0; // recorded for pacing
    Surface back;
};

struct WindowEntry {
    int32_t number;
    uintptr_t handle;
};

struct State {
    std::unordered_map<SpriteId, Sprite> sprites;
    std::unordered_map<ImageId, Surface> images;
    Screen screen;
    DrawingContext context;
    std::vector<WindowEntry> windows;
    int32_t displays = 0;
    std::vector<int32_t> displayDepths;
    // pacing
    int32_t frameRate = 0;
    int64_t paceTicks = 0;
    int64_t lastFlip = 0;
    // elapsed time
    bool clockStarted = false;
    int64_t clockStart = 0;
    int64_t ticksPerMs = 0;
    int64_t drawCalls = 0;
    // random numbers
    bool randomSeeded = false;
    uint64_t randomState[4] = {};
};

State& state();
Sprite* findSprite(SpriteId id);
// Marks transparent pixels again from the pixels and the key colour.
void deriveTransparency(Sprite& s);
// The surface a drawing context would paint on, or null.
Surface* targetSurface(TargetKind kind, int32_t id);

} // namespace gfx
