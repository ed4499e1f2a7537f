// Feeds arbitrary bytes to the ICE depacker, once as they are and once behind a valid header
// that claims the whole input, so that the stream decoder itself gets exercised.
#include "ice/ice.h"

#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out(64 * 1024);
    replay::ice::depack(data, size, out.data(), out.size());

    std::vector<uint8_t> framed(replay::ice::kHeaderSize + size);
    const uint32_t packed = static_cast<uint32_t>(framed.size());
    const uint32_t unpacked = size >= 2 ? 1u + ((uint32_t{data[0]} << 8) | data[1]) : 1u;
    const uint8_t header[12] = {'I',
                                'C',
                                'E',
                                '!',
                                uint8_t(packed >> 24),
                                uint8_t(packed >> 16),
                                uint8_t(packed >> 8),
                                uint8_t(packed),
                                0,
                                0,
                                uint8_t(unpacked >> 8),
                                uint8_t(unpacked)};
    std::memcpy(framed.data(), header, sizeof header);
    if (size) std::memcpy(framed.data() + replay::ice::kHeaderSize, data, size);
    std::vector<uint8_t> exact(unpacked);
    replay::ice::depack(framed.data(), framed.size(), exact.data(), exact.size());
    return 0;
}
