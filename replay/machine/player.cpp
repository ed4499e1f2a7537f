#include "machine/player.h"

namespace replay {

Player::Player(int outputRate) : machine_(std::make_unique<machine::Machine>()) {
    if (machine_->setOutputRate(outputRate) != machine::kOk) machine_->setOutputRate(44100);
}

int Player::start(const uint8_t* data, size_t size, int subtune) {
    machine_->stop();
    return machine_->load(data, size, subtune);
}

void Player::setVolume(int volume) {
    machine_->setVolume(volume);
}

int Player::channelLevel(int channel) const {
    return machine_->voiceLevel(channel);
}

void Player::stop() {
    machine_->stop();
}

void Player::render(int16_t* out, size_t frames) {
    machine_->render(out, frames);
}

} // namespace replay
