// The program's entry point, called by the start-up code on Windows and by the tests elsewhere.
#pragma once

#include "win_api.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showState);
