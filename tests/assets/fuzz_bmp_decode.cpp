#include "bmp_decode.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    assets::DecodedImage image;
    const bool ok = assets::decodeBmp(data, size, image);
    const size_t expected = ok ? size_t(image.width) * size_t(image.height) : 0;
    if (image.pixels.size() != expected) std::abort();
    for (uint32_t p : image.pixels)
        if (p >> 24) std::abort(); // bits 24-31 are always zero
    return 0;
}
