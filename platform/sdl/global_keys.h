// The keyboard state of the whole desktop, independent of which window has the focus. On X11 it
// reads the server's keymap for keys that are down now and listens to raw key presses on the root
// window, latching each press until the key is next asked about.
#pragma once

#include <cstdint>

namespace platform {

struct GlobalKeys;

// Null when the window system offers no global keyboard state.
GlobalKeys* openGlobalKeys();
void closeGlobalKeys(GlobalKeys* keys);
// Bit 15 set: down now; bit 0 set: pressed since the previous query of this key.
int16_t globalKeyState(GlobalKeys* keys, int32_t virtualKey);

} // namespace platform
