#include "platform/platform.h"

namespace platform {

namespace {
Backend* current = nullptr;
}

Backend* backend() {
    return current;
}
void setBackend(Backend* b) {
    current = b;
}

} // namespace platform
