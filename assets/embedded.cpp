#include "embedded.h"

namespace assets {
namespace {

constexpr char16_t scrollUnits[] =
    u"                              "
    u"HELLO AND WELCOME TO GILDED ORRERY TALE! A LITTLE INTRO WITH STARS THAT DRIFT BY. "
    u"A LOGO THAT SWINGS AND A PAGE OF CREDITS THAT GLOWS IN EVERY COLOUR WE COULD FIND. "
    u"THE PLANETS KEEP TURNING AND SO DOES THIS SCROLLER. CODE AND PIXELS BY Dervan. "
    u"PRESS ESCAPE WHEN YOU HAVE SEEN ENOUGH. GREETINGS TO EVERY CREW THAT STILL WRITES ITS "
    u"OWN ROUTINES. SO LONG. SEE YOU IN THE NEXT ORBIT...";

uint32_t read16(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8);
}
uint32_t read32(const uint8_t* p) {
    return read16(p) | (read16(p + 2) << 16);
}

} // namespace

const Text storedScrollText = text(scrollUnits);

size_t embeddedItemSize(const uint8_t* address) {
    const struct {
        const uint8_t* data;
        size_t size;
    } items[] = {{launcherTune, launcherTuneSize},
                 {launcherFontImage, launcherFontImageSize},
                 {bandImage, bandImageSize},
                 {logoImage, logoImageSize},
                 {scrollFontImage, scrollFontImageSize},
                 {bannerImage, bannerImageSize},
                 {splashImage, splashImageSize},
                 {mainTune, mainTuneSize}};
    // An empty tune shares its address with the item after it; that item's size is meant.
    for (const auto& item : items)
        if (item.data == address && item.size > 0) return item.size;
    return 0;
}

bool appIconRgba32(uint32_t (&out)[32 * 32]) {
    const uint8_t* file = appIconFile;
    const size_t size = appIconFileSize;
    if (size < 6 || read16(file + 2) != 1) return false;
    const uint32_t count = read16(file + 4);
    if (6 + 16 * size_t(count) > size) return false;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* entry = file + 6 + 16 * i;
        if (entry[0] != 32 || entry[1] != 32 || read16(entry + 6) != 8) continue;
        const size_t length = read32(entry + 8), offset = read32(entry + 12);
        // Info header, 256-entry palette, 32 rows of 32 bytes, 32 mask rows of 4 bytes.
        const size_t needed = 40 + 256 * 4 + 32 * 32 + 32 * 4;
        if (offset > size || length > size - offset || length < needed) return false;
        const uint8_t* dib = file + offset;
        if (read32(dib) != 40 || read16(dib + 14) != 8 || read32(dib + 16) != 0) return false;
        const uint8_t* palette = dib + 40;
        const uint8_t* pixels = palette + 256 * 4;
        const uint8_t* mask = pixels + 32 * 32;
        for (int y = 0; y < 32; ++y) {
            const int stored = 31 - y; // rows are stored bottom-up
            for (int x = 0; x < 32; ++x) {
                const uint8_t* c = palette + 4 * pixels[stored * 32 + x];
                const bool transparent = (mask[stored * 4 + x / 8] >> (7 - x % 8)) & 1;
                out[y * 32 + x] = transparent ? 0u
                                              : uint32_t(c[2]) | (uint32_t(c[1]) << 8) |
                                                    (uint32_t(c[0]) << 16) | 0xFF000000u;
            }
        }
        return true;
    }
    return false;
}

} // namespace assets
