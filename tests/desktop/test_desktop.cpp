// Starts the intro on the X server named by DISPLAY, finds its 640 x 480 window, checks what it
// shows, moves the keyboard focus to another window, sends Escape with xdotool and checks that
// the program ends with exit code 0 within two seconds. Exits non-zero on any failure.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Windows come and go while the program starts (the toolkit probes with short-lived ones): an
// error about a window that vanished between two requests is not a failure of the test.
int ignoreXErrors(Display*, XErrorEvent*) {
    return 0;
}

int fail(const char* what) {
    std::fprintf(stderr, "FAIL: %s\n", what);
    return 1;
}

Window findWindow(Display* d, int width, int height) {
    Window root = DefaultRootWindow(d), parent = 0, *children = nullptr;
    unsigned int n = 0;
    Window found = 0;
    if (!XQueryTree(d, root, &root, &parent, &children, &n)) return 0;
    for (unsigned int i = 0; i < n && !found; ++i) {
        XWindowAttributes a;
        if (XGetWindowAttributes(d, children[i], &a) && a.map_state == IsViewable &&
            a.width == width && a.height == height)
            found = children[i];
    }
    if (children) XFree(children);
    return found;
}

struct Shot {
    int barPixelsNotBlack = 0;
    int greyStarPixels = 0;
};

Shot look(Display* d, Window w) {
    Shot s;
    XImage* img = XGetImage(d, w, 0, 0, 640, 480, AllPlanes, ZPixmap);
    if (!img) return Shot{-1, 0};
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            unsigned long p = XGetPixel(img, x, y);
            unsigned r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
            if (y < 40 || y >= 440) {
                if (p != 0) ++s.barPixelsNotBlack;
            } else if (y >= 160 && r == g && g == b && (r == 64 || r == 128 || r == 224)) {
                ++s.greyStarPixels;
            }
        }
    XDestroyImage(img);
    return s;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return fail("usage: test_desktop INTRO XDOTOOL");
    Display* d = XOpenDisplay(nullptr);
    if (!d) return fail("no X display (run under xvfb-run)");
    XSetErrorHandler(ignoreXErrors);

    pid_t pid = 0;
    char* args[] = {argv[1], nullptr};
    if (posix_spawn(&pid, argv[1], nullptr, nullptr, args, environ) != 0)
        return fail("cannot start the intro");

    Window w = 0;
    for (auto end = Clock::now() + std::chrono::seconds(30); !w && Clock::now() < end;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        w = findWindow(d, 640, 480);
    }
    if (!w) {
        kill(pid, SIGKILL);
        return fail("no 640x480 window appeared");
    }
    // Wait until frames show stars (a sanitizer build starts slowly), then look once more.
    Shot a;
    for (auto end = Clock::now() + std::chrono::seconds(20); Clock::now() < end;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        a = look(d, w);
        if (a.greyStarPixels >= 20) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Shot b = look(d, w);
    std::printf("bar pixels not black: %d, %d; grey star pixels: %d, %d\n", a.barPixelsNotBlack,
                b.barPixelsNotBlack, a.greyStarPixels, b.greyStarPixels);

    // Give the keyboard focus to another window first: the intro reads the desktop's key state,
    // not its own window's keyboard events.
    Window other = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 64, 64, 0, 0, 0);
    XMapRaised(d, other);
    XSync(d, False);
    for (int i = 0; i < 100; ++i) {
        XWindowAttributes attrs;
        if (XGetWindowAttributes(d, other, &attrs) && attrs.map_state == IsViewable) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    XSetInputFocus(d, other, RevertToParent, CurrentTime);
    XSync(d, False);
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(d, &focus, &revert);
    if (focus != other) {
        kill(pid, SIGKILL);
        return fail("could not move the focus away from the intro");
    }

    std::string key = std::string(argv[2]) + " key Escape";
    auto sent = Clock::now();
    if (std::system(key.c_str()) != 0) {
        kill(pid, SIGKILL);
        return fail("xdotool failed");
    }
    int status = 0;
    bool ended = false;
    while (Clock::now() - sent < std::chrono::seconds(2)) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            ended = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    double seconds = std::chrono::duration<double>(Clock::now() - sent).count();
    XCloseDisplay(d);
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return fail("the intro did not end within two seconds of Escape");
    }
    std::printf("ended %.3f s after Escape\n", seconds);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return fail("exit code not 0");
    if (a.barPixelsNotBlack != 0 || b.barPixelsNotBlack != 0) return fail("border bars not black");
    if (a.greyStarPixels < 20 || b.greyStarPixels < 20)
        return fail("no grey stars between the bars");
    std::printf("PASS\n");
    return 0;
}
