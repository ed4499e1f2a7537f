// Access to the shared folder of real tunes beside the project (never part of the project).
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testdata {

inline std::filesystem::path sndhDir() {
    return std::filesystem::path(INTRO_SHARED_DIR) / "sndh";
}

inline std::vector<std::filesystem::path> sndhFiles(const std::string& prefix = "") {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    if (!std::filesystem::is_directory(sndhDir(), ec)) return files;
    for (const auto& e : std::filesystem::directory_iterator(sndhDir(), ec))
        if (e.path().extension() == ".sndh" && e.path().filename().string().rfind(prefix, 0) == 0)
            files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

inline std::vector<uint8_t> readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

} // namespace testdata

#define SKIP_WITHOUT_SHARED_TUNES(files)                                                           \
    do {                                                                                           \
        if ((files).empty()) GTEST_SKIP() << "no tunes in " << testdata::sndhDir();                \
    } while (0)
