// The replay library's operations as a plain C++ API: start a tune from bytes in memory, set the
// volume, read a voice's level, stop, and render PCM. A wrapper with its own audio thread calls
// render() from that thread and the others from anywhere; it serialises them itself, except
// channelLevel(), which may be called at any time.
#pragma once

#include "machine/machine.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace replay {

class Player {
  public:
    explicit Player(int outputRate = 44100);

    // Starts a tune (plain or ICE-packed SNDH; the bytes are copied). subtune is 1-based, 0 for
    // the tune's default. Returns 0, or a negative machine::Status.
    int start(const uint8_t* data, size_t size, int subtune);
    // 0 (silent) to 100 (full, no attenuation); values outside are clamped.
    void setVolume(int volume);
    // Current level 0..15 of voice 0, 1 or 2 of the sound chip; 0 for other numbers.
    int channelLevel(int channel) const;
    // Ends the tune (its exit routine runs); render() then gives silence.
    void stop();
    // Interleaved 16-bit stereo frames at the output rate.
    void render(int16_t* out, size_t frames);

    int outputRate() const { return machine_->outputRate(); }
    const machine::Machine& machine() const { return *machine_; }

  private:
    std::unique_ptr<machine::Machine> machine_;
};

} // namespace replay
