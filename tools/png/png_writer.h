// PNG writer with no outside dependencies: a zlib stream made of fixed-Huffman deflate blocks (with
// a stored-block fallback), CRC-32 for the chunks and Adler-32 for the stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace intro::png {

// CRC-32 (polynomial 0xEDB88320) as used by PNG chunks; pass the previous result to continue.
uint32_t crc32(const uint8_t* data, size_t size, uint32_t previous = 0);

// Adler-32 as used by zlib streams; pass the previous result to continue.
uint32_t adler32(const uint8_t* data, size_t size, uint32_t previous = 1);

// A complete zlib stream (header, deflate data, Adler-32) holding `size` bytes.
std::vector<uint8_t> zlibCompress(const uint8_t* data, size_t size);

// Encodes width x height pixels, top row first. Each pixel is red in bits 0-7, green in 8-15,
// blue in 16-23 and, when withAlpha is true, alpha in 24-31 (otherwise bits 24-31 are ignored).
// Returns an empty vector when a dimension is not positive or the image is too large.
std::vector<uint8_t> encodePng(int32_t width, int32_t height, const uint32_t* pixels,
                               bool withAlpha = false);

// encodePng, written to a file. Returns false when encoding or writing fails.
bool writePngFile(const std::string& path, int32_t width, int32_t height, const uint32_t* pixels,
                  bool withAlpha = false);

} // namespace intro::png
