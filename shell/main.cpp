#include "platform/sdl/sdl_platform.h"
#include "shell/shell.h"

int main() {
    auto backend = platform::makeSdlBackend();
    platform::setBackend(backend.get());
    int code = runIntro();
    platform::setBackend(nullptr);
    return code;
}
