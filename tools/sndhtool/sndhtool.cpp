// sndhtool: look at, render and play SNDH tunes with the replay library.
//   sndhtool info FILE
//   sndhtool render FILE [--subtune N] [--seconds S] [--rate R] --out OUT.wav
//   sndhtool play FILE [--subtune N]
#include "ice/ice.h"
#include "machine/machine.h"
#include "sndh/sndh_header.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifdef SNDHTOOL_HAVE_SDL
#include <SDL.h>
#endif

namespace {

using replay::machine::Machine;

bool readFile(const char* path, std::vector<uint8_t>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), {});
    return true;
}

struct Options {
    const char* file = nullptr;
    const char* out = nullptr;
    int subtune = 0;
    double seconds = 60.0;
    int rate = 44100;
};

bool parseOptions(int argc, char** argv, Options& o) {
    for (int i = 2; i < argc; ++i) {
        auto value = [&](const char* name) -> const char* {
            if (std::strcmp(argv[i], name) != 0 || i + 1 >= argc) return nullptr;
            return argv[++i];
        };
        if (const char* v = value("--subtune")) {
            o.subtune = std::atoi(v);
        } else if (const char* v = value("--seconds")) {
            o.seconds = std::atof(v);
        } else if (const char* v = value("--rate")) {
            o.rate = std::atoi(v);
        } else if (const char* v = value("--out")) {
            o.out = v;
        } else if (argv[i][0] != '-' && !o.file) {
            o.file = argv[i];
        } else {
            std::fprintf(stderr, "sndhtool: unknown option %s\n", argv[i]);
            return false;
        }
    }
    return o.file != nullptr;
}

int info(const Options& o) {
    std::vector<uint8_t> file;
    if (!readFile(o.file, file)) {
        std::fprintf(stderr, "sndhtool: cannot read %s\n", o.file);
        return 1;
    }
    std::vector<uint8_t> data = file;
    if (replay::ice::hasMagic(file.data(), file.size())) {
        int status = 0;
        data = replay::ice::depackToVector(file.data(), file.size(), &status);
        if (data.empty()) {
            std::fprintf(stderr, "sndhtool: broken ICE data (status %d)\n", status);
            return 1;
        }
        std::printf("packed     ICE!, %zu -> %zu bytes\n", file.size(), data.size());
    }
    replay::sndh::Header h;
    if (int st = replay::sndh::parseHeader(data.data(), data.size(), h); st != 0) {
        std::fprintf(stderr, "sndhtool: not an SNDH file (status %d)\n", st);
        return 1;
    }
    std::printf("title      %s\ncomposer   %s\nripper     %s\nconverter  %s\nyear       %s\n",
                h.title.c_str(), h.composer.c_str(), h.ripper.c_str(), h.converter.c_str(),
                h.year.c_str());
    std::printf("sub-tunes  %d (default %d)\nreplay     %s, %d Hz\n", h.subtuneCount,
                h.defaultSubtune, replay::sndh::clockName(h.clock), h.rate);
    for (const std::string& f : h.flags) std::printf("flags      %s\n", f.c_str());
    for (int s = 1; s <= h.subtuneCount; ++s) {
        const double secs = replay::sndh::subtuneSeconds(h, s);
        const char* name = static_cast<size_t>(s) <= h.subtuneNames.size()
                               ? h.subtuneNames[static_cast<size_t>(s - 1)].c_str()
                               : "";
        std::printf("  #%-3d %7.1f s  %s\n", s, secs, name);
    }
    std::printf("header     %zu bytes%s\n", h.headerEnd, h.hasEndTag ? "" : " (no HDNS)");
    return 0;
}

void writeLe(std::ofstream& f, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) f.put(static_cast<char>(v >> (8 * i)));
}

int render(const Options& o) {
    std::vector<uint8_t> file;
    if (!o.out || !readFile(o.file, file)) {
        std::fprintf(stderr, "sndhtool: render needs a readable FILE and --out OUT.wav\n");
        return 1;
    }
    Machine m;
    if (m.setOutputRate(o.rate) != 0) {
        std::fprintf(stderr, "sndhtool: unsupported rate %d\n", o.rate);
        return 1;
    }
    if (int st = m.load(file.data(), file.size(), o.subtune); st != 0) {
        std::fprintf(stderr, "sndhtool: cannot start the tune (status %d)\n", st);
        return 1;
    }
    const size_t total = static_cast<size_t>(o.seconds * o.rate);
    std::ofstream f(o.out, std::ios::binary);
    f.write("RIFF", 4);
    writeLe(f, static_cast<uint32_t>(36 + total * 4), 4);
    f.write("WAVEfmt ", 8);
    writeLe(f, 16, 4);
    writeLe(f, 1, 2);
    writeLe(f, 2, 2);
    writeLe(f, static_cast<uint32_t>(o.rate), 4);
    writeLe(f, static_cast<uint32_t>(o.rate * 4), 4);
    writeLe(f, 4, 2);
    writeLe(f, 16, 2);
    f.write("data", 4);
    writeLe(f, static_cast<uint32_t>(total * 4), 4);
    std::vector<int16_t> buf(2 * 4096);
    const auto t0 = std::chrono::steady_clock::now();
    int shown = -1;
    for (size_t done = 0; done < total;) {
        const size_t n = std::min<size_t>(4096, total - done);
        m.render(buf.data(), n);
        for (size_t i = 0; i < 2 * n; ++i) writeLe(f, static_cast<uint16_t>(buf[i]), 2);
        done += n;
        const int width = 40;
        const int filled = static_cast<int>(width * done / total);
        if (filled == shown && done < total) continue;
        shown = filled;
        std::fprintf(stderr, "\r[%.*s%*s] %5.1f / %.1f s", filled,
                     "########################################", width - filled, "",
                     static_cast<double>(done) / o.rate, o.seconds);
    }
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::fprintf(stderr, "\n%s: %.1f s in %.2f s (%.0fx real time)%s\n", o.out, o.seconds, elapsed,
                 o.seconds / std::max(elapsed, 1e-9),
                 m.state() == replay::machine::State::kFaulted ? ", the tune stopped with a fault"
                                                               : "");
    return f ? 0 : 1;
}

int play(const Options& o) {
#ifdef SNDHTOOL_HAVE_SDL
    std::vector<uint8_t> file;
    if (!readFile(o.file, file)) {
        std::fprintf(stderr, "sndhtool: cannot read %s\n", o.file);
        return 1;
    }
    if (SDL_Init(SDL_INIT_AUDIO) != 0) {
        std::fprintf(stderr, "sndhtool: no audio: %s\n", SDL_GetError());
        return 1;
    }
    SDL_AudioSpec want{}, have{};
    want.freq = 48000;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 1024;
    want.callback = [](void* user, Uint8* stream, int len) {
        static_cast<Machine*>(user)->render(reinterpret_cast<int16_t*>(stream),
                                            static_cast<size_t>(len) / 4);
    };
    Machine m;
    want.userdata = &m;
    SDL_AudioDeviceID dev =
        SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
    if (!dev || have.format != AUDIO_S16SYS || have.channels != 2 ||
        m.setOutputRate(have.freq) != 0) {
        std::fprintf(stderr, "sndhtool: cannot open a 16-bit stereo device\n");
        SDL_Quit();
        return 1;
    }
    if (int st = m.load(file.data(), file.size(), o.subtune); st != 0) {
        std::fprintf(stderr, "sndhtool: cannot start the tune (status %d)\n", st);
        SDL_Quit();
        return 1;
    }
    std::printf("%s - %s (sub-tune %d/%d), Ctrl-C to stop\n", m.header().composer.c_str(),
                m.header().title.c_str(), m.subtune(), m.header().subtuneCount);
    SDL_PauseAudioDevice(dev, 0);
    const double limit = o.seconds;
    for (;;) {
        SDL_Delay(50);
        SDL_LockAudioDevice(dev);
        const double t = m.playedSeconds();
        const bool faulted = m.state() == replay::machine::State::kFaulted;
        SDL_UnlockAudioDevice(dev);
        std::printf("\r%02d:%04.1f ", static_cast<int>(t) / 60,
                    t - 60 * (static_cast<int>(t) / 60));
        for (int v = 0; v < 3; ++v) {
            const int l = m.voiceLevel(v);
            std::printf(" %c [%.*s%*s]", 'A' + v, l, "###############", 15 - l, "");
        }
        std::fflush(stdout);
        if (faulted || t >= limit) break;
    }
    std::printf("\n");
    SDL_LockAudioDevice(dev);
    m.stop();
    SDL_UnlockAudioDevice(dev);
    SDL_CloseAudioDevice(dev);
    SDL_Quit();
    return 0;
#else
    (void)o;
    std::fprintf(stderr, "sndhtool: built without SDL2, no playback\n");
    return 1;
#endif
}

int usage() {
    std::fprintf(
        stderr, "usage: sndhtool info FILE\n"
                "       sndhtool render FILE [--subtune N] [--seconds S] [--rate R] --out OUT.wav\n"
                "       sndhtool play FILE [--subtune N] [--seconds S]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    Options o;
    if (!parseOptions(argc, argv, o)) return usage();
    if (std::strcmp(argv[1], "info") == 0) return info(o);
    if (std::strcmp(argv[1], "render") == 0) return render(o);
    if (std::strcmp(argv[1], "play") == 0) {
        if (o.seconds == 60.0) o.seconds = 1e9;
        return play(o);
    }
    return usage();
}
