// The desktop backend over SDL2: windows, screens presented at the vertical blank, the counter,
// sleeping, the cursor and the keyboard. Key state comes from the window system's global keyboard
// state where it has one (X11), else from the keyboard state of the focused SDL window.
#pragma once

#include "platform/platform.h"

#include <memory>

namespace platform {

std::unique_ptr<Backend> makeSdlBackend();

} // namespace platform
