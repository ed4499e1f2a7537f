// capture [--seed N] OUTDIR FRAME...
// Runs the whole program over the headless backend and writes frame k of the show (counted from
// 1) to OUTDIR/frame-k.png for every k given. The same seed gives the same pictures.
#include "platform/headless/headless_platform.h"
#include "png_writer.h"
#include "shell/shell.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

int main(int argc, char** argv) {
    uint64_t seed = 1;
    std::string outDir;
    std::set<int64_t> frames;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--seed" && i + 1 < argc)
            seed = std::strtoull(argv[++i], nullptr, 10);
        else if (outDir.empty())
            outDir = a;
        else if (std::atoll(a.c_str()) > 0)
            frames.insert(std::atoll(a.c_str()));
    }
    if (outDir.empty() || frames.empty()) {
        std::fprintf(stderr, "usage: capture [--seed N] OUTDIR FRAME...\n");
        return 2;
    }
    platform::HeadlessBackend backend;
    backend.seed = seed;
    backend.pressKey(0x1B, *frames.rbegin());
    int failures = 0;
    backend.onPresent = [&](int64_t frame, const uint32_t* pixels, int32_t w, int32_t h) {
        if (!frames.count(frame + 1)) return;
        std::string path = outDir + "/frame-" + std::to_string(frame + 1) + ".png";
        if (intro::png::writePngFile(path, w, h, pixels)) {
            std::printf("%s\n", path.c_str());
        } else {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            ++failures;
        }
    };
    platform::setBackend(&backend);
    runIntro();
    platform::setBackend(nullptr);
    return failures == 0 ? 0 : 1;
}
