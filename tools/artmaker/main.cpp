// The picture maker: draws the intro's pictures and icon and writes them as files.
//   artmaker <asset folder> [--previews <folder>]
// writes <asset folder>/images/*.bmp and <asset folder>/icon/app.ico, and with --previews a PNG
// of each (asset-<name>.png, small ones enlarged).
#include "pictures.h"
#include "png_writer.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace {

bool writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(f);
}

// Colours of a picture enlarged by `scale`, optionally cut into rows of `cellsPerRow` cells of
// `cellWidth` pixels (for the long font strip), with `spacing` pixels between the rows.
std::vector<uint32_t> previewPixels(const artmaker::Picture& p, int32_t scale, int32_t cellWidth,
                                    int32_t cellsPerRow, int32_t spacing, int32_t& outW,
                                    int32_t& outH) {
    const int32_t rowWidth = cellWidth * cellsPerRow;
    const int32_t rows = (p.width + rowWidth - 1) / rowWidth;
    outW = std::min(rowWidth, p.width) * scale;
    outH = (rows * p.height + (rows - 1) * spacing) * scale;
    std::vector<uint32_t> px(size_t(outW) * size_t(outH), 0x202020);
    for (int32_t y = 0; y < p.height; ++y)
        for (int32_t x = 0; x < p.width; ++x) {
            const int32_t row = x / rowWidth;
            const int32_t dx = (x % rowWidth) * scale,
                          dy = (row * (p.height + spacing) + y) * scale;
            for (int32_t v = 0; v < scale; ++v)
                for (int32_t u = 0; u < scale; ++u)
                    px[size_t(dy + v) * size_t(outW) + size_t(dx + u)] = p.colourAt(x, y);
        }
    return px;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 && !(argc == 4 && std::string(argv[2]) == "--previews")) {
        std::fprintf(stderr, "usage: %s <asset folder> [--previews <folder>]\n", argv[0]);
        return 2;
    }
    const std::filesystem::path out = argv[1];
    std::filesystem::create_directories(out / "images");
    std::filesystem::create_directories(out / "icon");

    struct Entry {
        const char* name;
        std::function<artmaker::Picture()> make;
        int32_t scale, cellWidth, cellsPerRow;
    };
    const Entry entries[] = {
        {"launcher_font", artmaker::makeLauncherFont, 4, 160, 1},
        {"band", artmaker::makeBand, 1, 640, 1},
        {"logo", artmaker::makeLogo, 1, 1282, 1},
        {"scroll_font", artmaker::makeScrollFont, 2, 32, 15},
        {"banner", artmaker::makeBanner, 2, 640, 1},
        {"splash", artmaker::makeSplash, 2, 388, 1},
    };
    bool ok = true;
    for (const Entry& e : entries) {
        const artmaker::Picture p = e.make();
        ok &= writeFile(out / "images" / (std::string(e.name) + ".bmp"), artmaker::encodeBmp(p));
        if (argc == 4) {
            int32_t w = 0, h = 0;
            const auto px = previewPixels(p, e.scale, e.cellWidth, e.cellsPerRow, 4, w, h);
            const auto path =
                std::filesystem::path(argv[3]) / ("asset-" + std::string(e.name) + ".png");
            ok &= intro::png::writePngFile(path.string(), w, h, px.data());
        }
    }
    const auto icon = artmaker::makeIcon();
    ok &= writeFile(out / "icon" / "app.ico", artmaker::encodeIco(icon));
    if (argc == 4) {
        // All four icon images side by side, enlarged eight times, on grey where transparent.
        const int32_t scale = 8, w = (16 + 16 + 32 + 32 + 3 * 4) * scale, h = 32 * scale;
        std::vector<uint32_t> px(size_t(w) * size_t(h), 0x404040);
        int32_t left = 0;
        for (const auto& im : icon) {
            const auto& p = im.picture;
            for (int32_t y = 0; y < p.height * scale; ++y)
                for (int32_t x = 0; x < p.width * scale; ++x) {
                    const size_t i = size_t(y / scale) * size_t(p.width) + size_t(x / scale);
                    if (!im.transparent[i])
                        px[size_t(y) * size_t(w) + size_t(left + x)] =
                            p.colourAt(x / scale, y / scale);
                }
            left += (p.width + 4) * scale;
        }
        const auto path = std::filesystem::path(argv[3]) / "asset-icon.png";
        ok &= intro::png::writePngFile(path.string(), w, h, px.data());
    }
    if (!ok) std::fprintf(stderr, "artmaker: could not write every file\n");
    return ok ? 0 : 1;
}
