// Drawing contexts, boxes, off-screen images and gradients.
#include "gfx/internal.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace gfx {

Surface* targetSurface(TargetKind kind, int32_t id) {
    auto& st = state();
    switch (kind) {
    case TargetKind::screen:
        return st.screen.open ? &st.screen.back : nullptr;
    case TargetKind::sprite: {
        Sprite* s = findSprite(id);
        return s ? &s->surface : nullptr;
    }
    case TargetKind::image: {
        auto it = st.images.find(id);
        return it == st.images.end() ? nullptr : &it->second;
    }
    default:
        return nullptr;
    }
}

} // namespace gfx

using gfx::state;

namespace {

DrawTarget encodeTarget(gfx::TargetKind kind, int32_t id) {
    return (static_cast<int64_t>(kind) << 32) | static_cast<uint32_t>(id);
}

gfx::Surface* contextSurface() {
    auto& ctx = state().context;
    return ctx.open ? gfx::targetSurface(ctx.kind, ctx.id) : nullptr;
}

// Mixes colour a into colour b by f (0: a, 1: b); every channel is truncated toward zero.
uint32_t mix(uint32_t a, uint32_t b, double f) {
    const double ff = static_cast<float>(f);
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const double ac = (a >> shift) & 0xFF;
        const double bc = (b >> shift) & 0xFF;
        double v = bc * ff + ac * (1.0 - ff);
        v = std::clamp(v, 0.0, 255.0);
        out |= static_cast<uint32_t>(v) << shift;
    }
    return out;
}

// The gradient's parameter t, from 0 to 1, at a pixel.
float gradientPosition(const gfx::DrawingContext& ctx, int32_t px, int32_t py) {
    const double dx = static_cast<double>(ctx.x2) - ctx.x1;
    const double dy = static_cast<double>(ctx.y2) - ctx.y1;
    const float length = static_cast<float>(std::sqrt(dx * dx + dy * dy));
    if (length == 0.0f) return 0.0f;
    if (ctx.x1 == ctx.x2 && ctx.y1 < ctx.y2) {
        if (py <= ctx.y1) return 0.0f;
        if (py >= ctx.y2) return 1.0f;
        return static_cast<float>((static_cast<double>(py) - ctx.y1) / length);
    }
    // Any other line: the projection of the pixel onto it.
    double t = ((static_cast<double>(px) - ctx.x1) * dx + (static_cast<double>(py) - ctx.y1) * dy) /
               (dx * dx + dy * dy);
    return static_cast<float>(std::clamp(t, 0.0, 1.0));
}

uint32_t gradientColour(const gfx::DrawingContext& ctx, float t) {
    const auto& stops = ctx.stops;
    if (stops.empty()) return mix(ctx.back, ctx.front, t);
    size_t k = 0;
    while (k < stops.size() && !(stops[k].position > t)) ++k;
    if (k == 0) return mix(ctx.back, stops[0].colour, static_cast<double>(t) / stops[0].position);
    if (k < stops.size()) {
        const auto& p = stops[k - 1];
        const auto& q = stops[k];
        return mix(p.colour, q.colour,
                   (static_cast<double>(t) - p.position) /
                       (static_cast<double>(q.position) - p.position));
    }
    const auto& last = stops.back();
    if (last.position == 1.0f) return last.colour;
    return mix(last.colour, ctx.front,
               (static_cast<double>(t) - last.position) / (1.0 - last.position));
}

} // namespace

DrawTarget screenTarget() {
    return state().screen.open ? encodeTarget(gfx::TargetKind::screen, 0) : 0;
}

DrawTarget spriteTarget(SpriteId id) {
    return gfx::findSprite(id) ? encodeTarget(gfx::TargetKind::sprite, id) : 0;
}

DrawTarget imageTarget(ImageId id) {
    return state().images.count(id) ? encodeTarget(gfx::TargetKind::image, id) : 0;
}

ImageHandle imageHandle(ImageId id) {
    return imageTarget(id);
}

int32_t beginDrawing(DrawTarget target) {
    if (state().context.open) endDrawing();
    const auto kind = static_cast<gfx::TargetKind>(target >> 32);
    const auto id = static_cast<int32_t>(static_cast<uint32_t>(target));
    if (!gfx::targetSurface(kind, id)) return 0;
    auto& ctx = state().context;
    ctx.open = true;
    ctx.kind = kind;
    ctx.id = id;
    ctx.mode = 0;
    ctx.front = 0xFFFFFF;
    ctx.back = 0;
    ctx.stops.clear();
    ctx.x1 = ctx.y1 = ctx.x2 = ctx.y2 = 0;
    return 1;
}

void endDrawing() {
    auto& ctx = state().context;
    if (!ctx.open) return;
    if (ctx.kind == gfx::TargetKind::sprite)
        if (gfx::Sprite* s = gfx::findSprite(ctx.id)) gfx::deriveTransparency(*s);
    ctx.open = false;
    ctx.stops.clear();
}

namespace {

// Fills a box in the box colour, or in gradient mode with the gradient's colour at each pixel.
void fillBox(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t boxColour) {
    const auto& ctx = state().context;
    gfx::Surface* s = contextSurface();
    if (!s) return;
    int64_t x0 = x, y0 = y, w = width, h = height;
    if (w < 0) {
        x0 += w;
        w = -w;
    }
    if (h < 0) {
        y0 += h;
        h = -h;
    }
    const int64_t xa = std::max<int64_t>(x0, 0), xb = std::min<int64_t>(x0 + w, s->width);
    const int64_t ya = std::max<int64_t>(y0, 0), yb = std::min<int64_t>(y0 + h, s->height);
    if (xa >= xb || ya >= yb) return;
    for (int64_t py = ya; py < yb; ++py) {
        uint32_t* row = s->pixels.data() + py * s->width;
        if (ctx.mode == gradientMode) {
            for (int64_t px = xa; px < xb; ++px)
                row[px] = gradientColour(
                    ctx, gradientPosition(ctx, static_cast<int32_t>(px), static_cast<int32_t>(py)));
        } else {
            std::fill(row + xa, row + xb, boxColour);
        }
    }
}

} // namespace

void drawBox(int32_t x, int32_t y, int32_t width, int32_t height) {
    fillBox(x, y, width, height, state().context.front);
}

void drawBox(int32_t x, int32_t y, int32_t width, int32_t height, Colour colour) {
    fillBox(x, y, width, height, static_cast<uint32_t>(colour) & 0xFFFFFFu);
}

int32_t createImage(ImageId id, int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return 0;
    auto& img = state().images[id];
    img.width = width;
    img.height = height;
    img.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    return 1;
}

void setDrawingMode(int32_t mode) {
    auto& ctx = state().context;
    if (ctx.open) ctx.mode = mode;
}

void addGradientStop(float position, Colour colour) {
    auto& ctx = state().context;
    if (!ctx.open || ctx.kind == gfx::TargetKind::screen) return;
    if (!(position >= 0.0f)) position = 0.0f;
    if (position > 1.0f) position = 1.0f;
    const uint32_t c = static_cast<uint32_t>(colour) & 0xFFFFFFu;
    auto it = std::lower_bound(ctx.stops.begin(), ctx.stops.end(), position,
                               [](const gfx::GradientStop& s, float p) { return s.position < p; });
    if (it != ctx.stops.end() && it->position == position)
        it->colour = c;
    else
        ctx.stops.insert(it, gfx::GradientStop{position, c});
}

void setLinearGradient(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    auto& ctx = state().context;
    if (!ctx.open) return;
    ctx.x1 = x1;
    ctx.y1 = y1;
    ctx.x2 = x2;
    ctx.y2 = y2;
}

Colour readPixel(int32_t x, int32_t y) {
    gfx::Surface* s = contextSurface();
    if (!s || x < 0 || y < 0 || x >= s->width || y >= s->height) return 0;
    return static_cast<Colour>(
        s->pixels[static_cast<size_t>(y) * static_cast<size_t>(s->width) + static_cast<size_t>(x)] &
        0xFFFFFFu);
}

void drawImage(ImageHandle image, int32_t x, int32_t y) {
    gfx::Surface* dst = contextSurface();
    if (!dst || (image >> 32) != static_cast<int64_t>(gfx::TargetKind::image)) return;
    auto it = state().images.find(static_cast<int32_t>(static_cast<uint32_t>(image)));
    if (it == state().images.end()) return;
    const gfx::Surface& src = it->second;
    if (&src == dst) return;
    const int64_t xa = std::max<int64_t>(x, 0),
                  xb = std::min<int64_t>(int64_t{x} + src.width, dst->width);
    const int64_t ya = std::max<int64_t>(y, 0),
                  yb = std::min<int64_t>(int64_t{y} + src.height, dst->height);
    for (int64_t py = ya; py < yb; ++py)
        if (xa < xb)
            std::memcpy(dst->pixels.data() + py * dst->width + xa,
                        src.pixels.data() + (py - y) * src.width + (xa - x),
                        static_cast<size_t>(xb - xa) * 4);
}
