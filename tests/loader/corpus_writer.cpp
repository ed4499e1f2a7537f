// Writes seed images for the loader's fuzz target: the standard synthetic images of both kinds,
// with and without lookup tables. Usage: loader_corpus_writer <folder>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "test_support.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    std::filesystem::path dir(argv[1]);
    std::filesystem::create_directories(dir);
    for (bool pe64 : {false, true}) {
        for (bool lookup : {false, true}) {
            loadertest::StandardOptions o;
            o.pe64 = pe64;
            o.lookupTable = lookup;
            auto img = loadertest::makeStandardImage(o);
            std::string name =
                std::string(pe64 ? "pe32plus" : "pe32") + (lookup ? "_ilt" : "") + ".dll";
            std::ofstream out(dir / name, std::ios::binary);
            out.write(reinterpret_cast<const char*>(img.bytes.data()),
                      static_cast<std::streamsize>(img.bytes.size()));
        }
    }
    return 0;
}
