// The sprite table and the three kinds of sprite draw.
#include "gfx/internal.h"

#ifdef INTRO_HAVE_BMP
#include "assets/bmp_decode.h"
#endif

#include <algorithm>
#include <cstring>

namespace gfx {

Sprite* findSprite(SpriteId id) {
    auto& sprites = state().sprites;
    auto it = sprites.find(id);
    return it == sprites.end() ? nullptr : &it->second;
}

void deriveTransparency(Sprite& s) {
    const int32_t w = s.surface.width;
    const int32_t h = s.surface.height;
    s.spans.clear();
    s.rowStart.resize(static_cast<size_t>(h) + 1);
    for (int32_t y = 0; y < h; ++y) {
        s.rowStart[static_cast<size_t>(y)] = static_cast<uint32_t>(s.spans.size());
        const uint32_t* row =
            s.surface.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
        int32_t x = 0;
        while (x < w) {
            while (x < w && row[x] == s.key) ++x;
            if (x == w) break;
            int32_t start = x;
            while (x < w && row[x] != s.key) ++x;
            s.spans.push_back({start, x});
        }
    }
    s.rowStart[static_cast<size_t>(h)] = static_cast<uint32_t>(s.spans.size());
}

} // namespace gfx

using gfx::findSprite;
using gfx::state;

namespace {

gfx::Sprite& makeSprite(SpriteId id, int32_t width, int32_t height) {
    auto& s = state().sprites[id];
    s.surface.width = width;
    s.surface.height = height;
    s.surface.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    s.key = 0;
    s.clip = ClipRect{0, 0, width, height};
    return s;
}

enum class DrawKind { opaque, keyed, tinted };

// Blends q over d with opacity a / 255, per channel.
uint32_t blend(uint32_t q, uint32_t d, uint32_t a) {
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        uint32_t qc = (q >> shift) & 0xFF;
        uint32_t dc = (d >> shift) & 0xFF;
        out |= ((qc * a + dc * (255 - a)) / 255) << shift;
    }
    return out;
}

void draw(SpriteId id, int32_t x, int32_t y, DrawKind kind, int32_t intensity, Colour colour) {
    ++state().drawCalls;
    auto& sc = state().screen;
    if (!sc.open) return;
    gfx::Sprite* s = findSprite(id);
    if (!s) return;
    const ClipRect c = s->clip;
    const int64_t W = sc.back.width;
    const int64_t H = sc.back.height;
    // Rejected before any pixel work when the rectangle misses the screen or is empty.
    if (c.width == 0 || c.height == 0) return;
    if (int64_t{x} + c.width <= 0 || int64_t{y} + c.height <= 0 || x >= W || y >= H) return;

    const int32_t i0 = x < 0 ? -x : 0;
    const int32_t i1 = static_cast<int32_t>(std::min<int64_t>(c.width, W - x));
    const int32_t j0 = y < 0 ? -y : 0;
    const int32_t j1 = static_cast<int32_t>(std::min<int64_t>(c.height, H - y));
    const int32_t sw = s->surface.width;
    const uint32_t* src = s->surface.pixels.data();
    uint32_t* dst = sc.back.pixels.data();
    const int32_t lo = c.x + i0; // sprite columns [lo, hi) land on the screen
    const int32_t hi = c.x + i1;
    const int32_t shift = x - c.x; // screen column = sprite column + shift

    const bool plainTint = kind == DrawKind::tinted && intensity == 255 && colour != noColour;
    const bool ownColour = kind == DrawKind::tinted && intensity == 255 && colour == noColour;
    if (ownColour) kind = DrawKind::keyed;
    const uint32_t tint = static_cast<uint32_t>(colour) & 0xFFFFFFu;
    const uint32_t alpha = static_cast<uint32_t>(std::clamp(intensity, 0, 255));

    for (int32_t j = j0; j < j1; ++j) {
        const int32_t sy = c.y + j;
        const uint32_t* srow = src + static_cast<size_t>(sy) * static_cast<size_t>(sw);
        uint32_t* drow = dst + static_cast<size_t>(y + j) * static_cast<size_t>(W);
        if (kind == DrawKind::opaque) {
            std::memcpy(drow + lo + shift, srow + lo, static_cast<size_t>(hi - lo) * 4);
            continue;
        }
        const gfx::Span* first = s->spans.data() + s->rowStart[static_cast<size_t>(sy)];
        const gfx::Span* last = s->spans.data() + s->rowStart[static_cast<size_t>(sy) + 1];
        first =
            std::partition_point(first, last, [&](const gfx::Span& sp) { return sp.end <= lo; });
        for (const gfx::Span* sp = first; sp != last && sp->start < hi; ++sp) {
            const int32_t a = std::max(sp->start, lo);
            const int32_t b = std::min(sp->end, hi);
            if (kind == DrawKind::keyed) {
                std::memcpy(drow + a + shift, srow + a, static_cast<size_t>(b - a) * 4);
            } else if (plainTint) {
                std::fill(drow + a + shift, drow + b + shift, tint);
            } else {
                for (int32_t k = a; k < b; ++k) {
                    uint32_t q = colour == noColour ? srow[k] : tint;
                    drow[k + shift] = blend(q, drow[k + shift], alpha);
                }
            }
        }
    }
}

} // namespace

// The table is ready from the start; a second call changes nothing.
int32_t initSprites() {
    return 1;
}

int32_t loadSprite(SpriteId id, const uint8_t* file, size_t size) {
#ifdef INTRO_HAVE_BMP
    if (id < 0 || !file) return 0;
    assets::DecodedImage image;
    if (!assets::decodeBmp(file, size, image)) return 0;
    auto& s = makeSprite(id, image.width, image.height);
    s.surface.pixels = std::move(image.pixels);
    gfx::deriveTransparency(s);
    return 1;
#else
    (void)id;
    (void)file;
    (void)size;
    return 0;
#endif
}

int32_t createSprite(SpriteId id, int32_t width, int32_t height) {
    if (id < 0 || width <= 0 || height <= 0) return 0;
    gfx::deriveTransparency(makeSprite(id, width, height));
    return 1;
}

int32_t grabSprite(SpriteId id, int32_t x, int32_t y, int32_t width, int32_t height) {
    auto& sc = state().screen;
    if (id < 0 || !sc.open || width <= 0 || height <= 0) return 0;
    if (x < 0 || y < 0 || int64_t{x} + width > sc.back.width ||
        int64_t{y} + height > sc.back.height)
        return 0;
    gfx::Sprite* s = findSprite(id);
    if (!s || s->surface.width != width || s->surface.height != height)
        s = &makeSprite(id, width, height);
    for (int32_t j = 0; j < height; ++j)
        std::memcpy(s->surface.pixels.data() + static_cast<size_t>(j) * static_cast<size_t>(width),
                    sc.back.pixels.data() +
                        static_cast<size_t>(y + j) * static_cast<size_t>(sc.back.width) + x,
                    static_cast<size_t>(width) * 4);
    s->key = 0;
    gfx::deriveTransparency(*s);
    return 1;
}

int32_t spriteExists(SpriteId id) {
    return findSprite(id) ? 1 : 0;
}

int32_t spriteWidth(SpriteId id) {
    gfx::Sprite* s = findSprite(id);
    return s ? s->clip.width : 0;
}

int32_t spriteHeight(SpriteId id) {
    gfx::Sprite* s = findSprite(id);
    return s ? s->clip.height : 0;
}

void clipSprite(SpriteId id, int32_t x, int32_t y, int32_t width, int32_t height) {
    gfx::Sprite* s = findSprite(id);
    if (!s) return;
    const int32_t W = s->surface.width;
    const int32_t H = s->surface.height;
    if (x == -1) x = 0;
    if (y == -1) y = 0;
    if (width == -1) width = W;
    if (height == -1) height = H;
    x = std::max(x, 0);
    y = std::max(y, 0);
    width = std::max(width, 0);
    height = std::max(height, 0);
    x = std::min(x, W);
    y = std::min(y, H);
    if (int64_t{x} + width > W) width = W - x;
    if (int64_t{y} + height > H) height = H - y;
    s->clip = ClipRect{x, y, width, height};
}

void setKeyColour(SpriteId id, Colour colour) {
    gfx::Sprite* s = findSprite(id);
    if (!s) return;
    s->key = static_cast<uint32_t>(colour) & 0xFFFFFFu;
    gfx::deriveTransparency(*s);
}

void drawOpaque(SpriteId id, int32_t x, int32_t y) {
    draw(id, x, y, DrawKind::opaque, 255, noColour);
}
void drawKeyed(SpriteId id, int32_t x, int32_t y) {
    draw(id, x, y, DrawKind::keyed, 255, noColour);
}
void drawTinted(SpriteId id, int32_t x, int32_t y, int32_t intensity, Colour colour) {
    draw(id, x, y, DrawKind::tinted, intensity, colour);
}

int64_t spriteDrawCalls() {
    return state().drawCalls;
}

bool spriteInfo(SpriteId id, int32_t& fullWidth, int32_t& fullHeight, ClipRect& clip) {
    gfx::Sprite* s = findSprite(id);
    if (!s) return false;
    fullWidth = s->surface.width;
    fullHeight = s->surface.height;
    clip = s->clip;
    return true;
}

bool spritePixel(SpriteId id, int32_t x, int32_t y, uint32_t& colour, bool& opaque) {
    gfx::Sprite* s = findSprite(id);
    if (!s || x < 0 || y < 0 || x >= s->surface.width || y >= s->surface.height) return false;
    colour = s->surface.pixels[static_cast<size_t>(y) * static_cast<size_t>(s->surface.width) +
                               static_cast<size_t>(x)];
    opaque = colour != s->key;
    return true;
}
