// icepack: packs a file into the "ICE!" format, or depacks one.
//   icepack pack IN OUT
//   icepack depack IN OUT
#include "ice/ice.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

bool readFile(const char* path, std::vector<uint8_t>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), {});
    return true;
}

bool writeFile(const char* path, const std::vector<uint8_t>& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out);
}

int usage() {
    std::fprintf(stderr, "usage: icepack pack|depack IN OUT\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) return usage();
    const bool packing = std::strcmp(argv[1], "pack") == 0;
    if (!packing && std::strcmp(argv[1], "depack") != 0) return usage();
    std::vector<uint8_t> input;
    if (!readFile(argv[2], input)) {
        std::fprintf(stderr, "icepack: cannot read %s\n", argv[2]);
        return 1;
    }
    std::vector<uint8_t> output;
    if (packing) {
        output = replay::ice::pack(input.data(), input.size());
        if (output.empty()) {
            std::fprintf(stderr, "icepack: cannot pack %s (empty, too large or unmatchable)\n",
                         argv[2]);
            return 1;
        }
    } else {
        int status = 0;
        output = replay::ice::depackToVector(input.data(), input.size(), &status);
        if (output.empty()) {
            std::fprintf(stderr, "icepack: cannot depack %s (status %d)\n", argv[2], status);
            return 1;
        }
    }
    if (!writeFile(argv[3], output)) {
        std::fprintf(stderr, "icepack: cannot write %s\n", argv[3]);
        return 1;
    }
    std::printf("%s: %zu -> %zu bytes\n", argv[3], input.size(), output.size());
    return 0;
}
