// Filling runs of equal samples in the chips' output blocks.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace replay::audio {

// Writes `value` to out[0..run). `room` is how many floats from out on belong to the block:
// short runs with room to spare (digitised sound, high tones, fast DMA) are written as two
// 4-float stores, and what lands past the run is overwritten by the run that follows.
inline void fillRun(float* out, size_t run, size_t room, float value) {
    if (run <= 8 && room >= 8) {
        using Vec4 = float __attribute__((vector_size(16)));
        const Vec4 v = {value, value, value, value};
        std::memcpy(out, &v, sizeof v);
        std::memcpy(out + 4, &v, sizeof v);
    } else {
        std::fill_n(out, run, value);
    }
}

} // namespace replay::audio
