// Random bytes behind a valid magic (and as they are) through the header reader.
#include "sndh/sndh_header.h"

#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    replay::sndh::Header h;
    replay::sndh::parseHeader(data, size, h);
    if (size >= 16) {
        std::vector<uint8_t> framed(data, data + size);
        std::memcpy(framed.data() + 12, "SNDH", 4);
        replay::sndh::parseHeader(framed.data(), framed.size(), h);
        replay::sndh::subtuneSeconds(h, data[0] % 100);
    }
    return 0;
}
