// Random bytes as a tune (behind a valid SNDH magic, so the CPU gets to run them): load, init
// and a little play under tight cycle budgets. Nothing may fault in the host.
#include "machine/machine.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto m = std::make_unique<replay::machine::Machine>();
    m->initBudget = 200'000;
    m->playBudget = 100'000;
    std::vector<uint8_t> tune(data, data + size);
    if (tune.size() >= 16) std::memcpy(tune.data() + 12, "SNDH", 4);
    if (m->load(tune.data(), tune.size(), 1) == replay::machine::kOk) {
        int16_t pcm[2 * 512];
        m->render(pcm, 512);
        m->stop();
    }
    return 0;
}
