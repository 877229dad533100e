// A program with one static object that has a destructor. The compiler registers the destructor with atexit;
// built like the executable, it must fail to link rather than crash at start.
#include "win_api.h"

#include "win_main.h"

namespace {

struct Planted {
    volatile int state;
    Planted() : state(1) {}
    ~Planted() { state = 0; }
};
Planted g_planted;

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return g_planted.state; }
