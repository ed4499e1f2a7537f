// Whole frames of the headless show, pinned by a digest of the back buffer, and the promise that
// the frame loop allocates nothing. When a digest changes on purpose, look at the frame with
// tools/capture before updating it here.
#include "platform/headless/headless_platform.h"
#include "shell/shell.h"

#include <gtest/gtest.h>

#include "counting_new.h"

#include <cstdio>
#include <map>

namespace {

uint64_t digest(const uint32_t* pixels, size_t count) {
    uint64_t h = 1469598103934665603ull; // FNV-1a over the pixels' bytes
    for (size_t i = 0; i < count; ++i) {
        uint32_t p = pixels[i];
        for (int b = 0; b < 4; ++b) {
            h ^= (p >> (8 * b)) & 0xFF;
            h *= 1099511628211ull;
        }
    }
    return h;
}

TEST(ShowFrames, DigestsOfChosenFramesAndNoAllocationPerFrame) {
    const std::map<int64_t, uint64_t> expected = {
        {1, 0xd50f90f8cb17e46cull},   {2, 0x0a9d7a7d76bc392bull},   {316, 0xb4af953fb43ebf28ull},
        {317, 0x1c4bc581182d455cull}, {318, 0x3af16df7a93fafc3ull}, {3281, 0x9509b0e42d060cc3ull},
    };
    platform::HeadlessBackend backend;
    backend.seed = 1;
    backend.pressKey(0x1B, 3281);
    std::map<int64_t, uint64_t> seen = expected; // filled now: no allocation while frames run
    int64_t allocationsAtFrame2 = -1, allocationsAtEnd = -1;
    backend.onPresent = [&](int64_t frame, const uint32_t* pixels, int32_t w, int32_t h) {
        const int64_t n = frame + 1;
        if (n == 2) allocationsAtFrame2 = allocationCount();
        if (n == 3281) allocationsAtEnd = allocationCount();
        if (expected.count(n)) seen.at(n) = digest(pixels, static_cast<size_t>(w) * h);
    };
    platform::setBackend(&backend);
    EXPECT_EQ(runIntro(), 0);
    platform::setBackend(nullptr);
    ASSERT_EQ(backend.framesPresented(), 3281);
    for (const auto& [frame, value] : expected) {
        std::printf("frame %lld: 0x%016llxull\n", static_cast<long long>(frame),
                    static_cast<unsigned long long>(seen[frame]));
        EXPECT_EQ(seen[frame], value) << "frame " << frame;
    }
    EXPECT_EQ(allocationsAtEnd - allocationsAtFrame2, 0) << "the frame loop allocated";
}

} // namespace
