// Drives the X server's pointer and keyboard through XTest, as a person at
// the machine would:
//
//   pointer_driver move HZ SECONDS [X Y]   moves the pointer back and forth
//                                          around X,Y at a paced rate
//   pointer_driver click X Y               a left click at X,Y
//   pointer_driver key KEY [MODIFIER]      a key press, e.g. Escape, or F4 Alt_L
//
// Each XTest motion reaches the Windows program under Wine as one change of
// the mouse's state.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: pointer_driver move HZ SECONDS [X Y] | click X Y | key KEY [MODIFIER]\n");
    return 2;
}

timespec Add(timespec t, long long ns)
{
    ns += t.tv_nsec;
    t.tv_sec += ns / 1'000'000'000;
    t.tv_nsec = ns % 1'000'000'000;
    return t;
}

// Motions at HZ for SECONDS, each due at its own point of a fixed schedule
// (a late one does not move the ones after it). Returns how many were made.
long Move(Display* display, double hz, double seconds, int x, int y)
{
    const long count = static_cast<long>(hz * seconds);
    const long long periodNs = static_cast<long long>(1e9 / hz);
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (long i = 0; i < count; ++i) {
        const timespec due = Add(start, periodNs * i);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
        }
        const int offset = static_cast<int>(i % 40) < 20 ? static_cast<int>(i % 20) : 20 - static_cast<int>(i % 20);
        XTestFakeMotionEvent(display, -1, x + offset, y + (offset & 1), CurrentTime);
        XFlush(display);
    }
    XSync(display, False);
    return count;
}

bool Key(Display* display, const char* name, const char* modifier)
{
    const KeySym keySym = XStringToKeysym(name);
    const KeySym modifierSym = modifier ? XStringToKeysym(modifier) : NoSymbol;
    if (keySym == NoSymbol || (modifier && modifierSym == NoSymbol))
        return false;
    const KeyCode key = XKeysymToKeycode(display, keySym);
    const KeyCode mod = modifier ? XKeysymToKeycode(display, modifierSym) : 0;
    if (mod)
        XTestFakeKeyEvent(display, mod, True, CurrentTime);
    XTestFakeKeyEvent(display, key, True, CurrentTime);
    XTestFakeKeyEvent(display, key, False, CurrentTime);
    if (mod)
        XTestFakeKeyEvent(display, mod, False, CurrentTime);
    XSync(display, False);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage();
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "pointer_driver: cannot open display\n");
        return 1;
    }
    int eventBase, errorBase, major, minor;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
        std::fprintf(stderr, "pointer_driver: the X server has no XTest\n");
        return 1;
    }

    int result = 0;
    const char* command = argv[1];
    if (std::strcmp(command, "move") == 0 && (argc == 4 || argc == 6)) {
        const int x = argc == 6 ? std::atoi(argv[4]) : 100;
        const int y = argc == 6 ? std::atoi(argv[5]) : 100;
        std::printf("%ld motions\n", Move(display, std::atof(argv[2]), std::atof(argv[3]), x, y));
    } else if (std::strcmp(command, "click") == 0 && argc == 4) {
        XTestFakeMotionEvent(display, -1, std::atoi(argv[2]), std::atoi(argv[3]), CurrentTime);
        XTestFakeButtonEvent(display, 1, True, CurrentTime);
        XTestFakeButtonEvent(display, 1, False, CurrentTime);
        XSync(display, False);
    } else if (std::strcmp(command, "key") == 0 && (argc == 3 || argc == 4)) {
        if (!Key(display, argv[2], argc == 4 ? argv[3] : nullptr)) {
            std::fprintf(stderr, "pointer_driver: unknown key\n");
            result = 1;
        }
    } else {
        result = Usage();
    }
    XCloseDisplay(display);
    return result;
}
