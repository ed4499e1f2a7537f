// Everything the intro carries in its own data: the tunes, the six pictures (complete BMP files),
// the colour records, the texts and the application icon. Nothing is read from disk at run time.
#pragma once

#include <cstddef>
#include <cstdint>

// The data blob, back to back with no gaps: launcherTune, launcherFontImage, bandImage, logoImage,
// scrollFontImage, bannerImage, splashImage, mainTune, colourRecordBytes. Each size is the
// distance from an item's first byte to the next item's first byte, so a tune's size follows
// from where the item after it begins.
extern "C" {
extern const uint8_t embeddedBlob[];
extern const size_t embeddedBlobSize;

extern const uint8_t launcherTune[];
extern const size_t launcherTuneSize;
extern const uint8_t launcherFontImage[]; // 160 x 96, 4 bits: 16 x 16 font, codes 32-91
extern const size_t launcherFontImageSize;
extern const uint8_t bandImage[]; // 640 x 201, 1 bit: the page of credit lines
extern const size_t bandImageSize;
extern const uint8_t logoImage[]; // 1282 x 130, 1 bit: the wordmark with its emblems
extern const size_t logoImageSize;
extern const uint8_t scrollFontImage[]; // 2400 x 32, 4 bits: 32 x 32 font, codes 32-106
extern const size_t scrollFontImageSize;
extern const uint8_t bannerImage[]; // 640 x 45, 24 bits: the scroller's banner
extern const size_t bannerImageSize;
extern const uint8_t splashImage[]; // 388 x 212, 8 bits: the splash picture
extern const size_t splashImageSize;
extern const uint8_t mainTune[];
extern const size_t mainTuneSize;

// The eleven colour records (red, green, blue), as stored at the end of the blob (no alignment)
// and as an aligned copy to read as integers.
extern const uint8_t colourRecordBytes[];
extern const int32_t colourRecords[33];

// The application icon as an .ico file: 16 x 16 and 32 x 32, each in 16 and 256 colours.
extern const uint8_t appIconFile[];
extern const size_t appIconFileSize;
}

namespace assets {

// A UTF-16 text and its length in code units.
struct Text {
    const char16_t* units;
    int32_t length;
};

template <size_t N> constexpr Text text(const char16_t (&units)[N]) {
    return {units, static_cast<int32_t>(N - 1)};
}

// The five launcher lines, in the order they are shown.
inline constexpr Text groupLineText = text(u"ZOLT");
inline constexpr Text titleLineText = text(u"GILDED ORRERY TALE");
inline constexpr Text fullScreenLineText = text(u"F1:FULLSCREEN");
inline constexpr Text windowedLineText = text(u"F2:WINDOWED");
inline constexpr Text authorLineText = text(u"DERVAN ");

// The stored scroll text: 411 code units, 30 blanks and then the message.
extern const Text storedScrollText;

// The size of the embedded item that begins at `address` (one of the six pictures or the two
// tunes), or 0 for any other address. Lets a caller that holds only a picture's address hand the
// decoder its length.
size_t embeddedItemSize(const uint8_t* address);

// The 32 x 32 icon image in 256 colours as 32-bit pixels, top row first: red in bits 0-7, green
// 8-15, blue 16-23, alpha 24-31 (0 transparent, 255 opaque), i.e. bytes R, G, B, A in memory on
// a little-endian machine. Returns false, leaving `out` untouched, when the icon holds no such
// image.
bool appIconRgba32(uint32_t (&out)[32 * 32]);

} // namespace assets
