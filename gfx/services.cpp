// Random numbers, time, colours and keys.
#include "gfx/internal.h"

#include "platform/platform.h"

using gfx::state;

namespace {

uint64_t splitMix(uint64_t& x) {
    uint64_t z = (x += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint64_t rotl(uint64_t x, int k) {
    return (x << k) | (x >> (64 - k));
}

// A uniformly distributed 32-bit value (xoshiro256**), seeded at its first use.
uint32_t nextRandom() {
    auto& st = state();
    uint64_t* s = st.randomState;
    if (!st.randomSeeded) {
        uint64_t seed = platform::backend() ? platform::backend()->randomSeed() : 0;
        for (int i = 0; i < 4; ++i) s[i] = splitMix(seed);
        st.randomSeeded = true;
    }
    const uint64_t result = rotl(s[1] * 5, 7) * 9;
    const uint64_t t = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = rotl(s[3], 45);
    return static_cast<uint32_t>(result >> 32);
}

} // namespace

int32_t randomInt(int32_t max) {
    const uint64_t u = nextRandom();
    const uint64_t range = static_cast<uint64_t>(static_cast<uint32_t>(max)) + 1;
    return static_cast<int32_t>(static_cast<uint32_t>((u * range) >> 32));
}

int32_t randomInRange(int32_t max, int32_t min) {
    if (static_cast<uint32_t>(min) > static_cast<uint32_t>(max)) min = max;
    return static_cast<int32_t>(static_cast<uint32_t>(min) +
                                static_cast<uint32_t>(randomInt(static_cast<int32_t>(
                                    static_cast<uint32_t>(max) - static_cast<uint32_t>(min)))));
}

int64_t elapsedMilliseconds() {
    auto* b = platform::backend();
    if (!b) return 0;
    auto& st = state();
    const int64_t f = b->counterFrequency();
    if (f < 1000) return static_cast<int64_t>(b->tickCountMs());
    if (!st.clockStarted) {
        st.clockStarted = true;
        st.clockStart = b->counter();
        st.ticksPerMs = f / 1000;
        return 0;
    }
    return (b->counter() - st.clockStart) / st.ticksPerMs;
}

void delay(int32_t milliseconds) {
    if (platform::backend() && milliseconds > 0)
        platform::backend()->sleepMs(static_cast<uint32_t>(milliseconds));
}

float degreesToRadians(float degrees) {
    return static_cast<float>(static_cast<double>(degrees) * 0.017453292519943295);
}

Colour rgb(int32_t red, int32_t green, int32_t blue) {
    return static_cast<Colour>(static_cast<uint32_t>(red) + static_cast<uint32_t>(green) * 256u +
                               static_cast<uint32_t>(blue) * 65536u);
}

int16_t keyState(int32_t virtualKey) {
    return platform::backend() ? platform::backend()->asyncKeyState(virtualKey) : 0;
}

int16_t escapePressed() {
    return keyState(platform::keyEscape);
}

void showCursor(bool show) {
    if (platform::backend()) platform::backend()->showCursor(show);
}
