// Depacker (and packer) for the "ICE!" packed-data format.
//
// A packed file is a 12-byte header followed by the packed stream:
//   bytes 0-3  "ICE!"
//   bytes 4-7  packed size including the header, 32-bit big-endian
//   bytes 8-11 unpacked size, 32-bit big-endian
// The stream is read backwards from its last byte and the output is written backwards from its
// end. Control bits come MSB first out of bytes that share the stream with the literal bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace replay::ice {

inline constexpr size_t kHeaderSize = 12;
// Nothing that fits into the emulated machine is larger than this.
inline constexpr uint32_t kMaxUnpackedSize = 4u * 1024u * 1024u;

enum Status : int {
    kOk = 0,
    kNotPacked = -1, // no "ICE!" magic or shorter than the header
    kBadHeader = -2, // sizes that do not fit the data or the limits
    kOutputTooSmall = -3,
    kCorrupt = -4, // the stream reads outside itself or writes outside the output
};

struct Header {
    uint32_t packedSize = 0; // including the header
    uint32_t unpackedSize = 0;
};

// True when the data starts with the "ICE!" magic.
bool hasMagic(const uint8_t* data, size_t size);

// Reads and checks the header against the data's length. Returns kOk or a negative status.
int readHeader(const uint8_t* data, size_t size, Header& header);

// Depacks into out (capacity outCapacity). Returns the unpacked size or a negative status.
// Every read and write is checked; a corrupt stream never touches memory outside the two buffers.
int64_t depack(const uint8_t* data, size_t size, uint8_t* out, size_t outCapacity);

// Convenience: depacks into a fresh vector; empty on any error (status in *status if given).
std::vector<uint8_t> depackToVector(const uint8_t* data, size_t size, int* status = nullptr);

// Packs data into a complete ICE file (header included). Returns an empty vector when the
// data is empty, larger than kMaxUnpackedSize, or has a stretch the format cannot express.
std::vector<uint8_t> pack(const uint8_t* data, size_t size);

} // namespace replay::ice
