// Stand-in for libFuzzer's main when the fuzz targets are built with gcc: every file named on the
// command line (or found in a named folder) is run as it is and with single-byte mutations, then a
// fixed number of pseudo-random inputs. FUZZ_ITERATIONS overrides that number.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void runOne(const std::vector<uint8_t>& bytes) {
    // Copy into an exactly sized heap block so that the sanitizers see any read past the end.
    std::vector<uint8_t> exact(bytes);
    LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
}

void runWithMutations(const std::vector<uint8_t>& seed, std::mt19937& rng) {
    runOne(seed);
    for (int round = 0; round < 64 && !seed.empty(); ++round) {
        std::vector<uint8_t> m(seed);
        int edits = 1 + static_cast<int>(rng() % 8);
        for (int e = 0; e < edits; ++e) m[rng() % m.size()] = static_cast<uint8_t>(rng());
        if (rng() % 4 == 0) m.resize(rng() % m.size());
        runOne(m);
    }
}

void collect(const std::filesystem::path& p, std::vector<std::filesystem::path>& out) {
    if (std::filesystem::is_directory(p)) {
        for (const auto& e : std::filesystem::recursive_directory_iterator(p))
            if (e.is_regular_file()) out.push_back(e.path());
    } else if (std::filesystem::is_regular_file(p)) {
        out.push_back(p);
    }
}

} // namespace

int main(int argc, char** argv) {
    std::mt19937 rng(12345);
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) collect(argv[i], files);
    for (const auto& f : files) {
        std::ifstream in(f, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
        runWithMutations(bytes, rng);
    }
    long iterations = 2000;
    if (const char* env = std::getenv("FUZZ_ITERATIONS")) iterations = std::atol(env);
    std::vector<uint8_t> buf;
    for (long i = 0; i < iterations; ++i) {
        buf.resize(rng() % 4096);
        for (auto& b : buf) b = static_cast<uint8_t>(rng());
        runOne(buf);
    }
    std::printf("fuzz driver: %zu corpus files, %ld random inputs, no fault\n", files.size(),
                iterations);
    return 0;
}
