// The Windows registry and message-box operations as the logic sees them, in Windows builds:
// the real ones, from the system's own headers.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
