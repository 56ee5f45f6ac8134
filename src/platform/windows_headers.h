// <windows.h> without its min and max macros and its rarely used parts. Include it after the
// program's own headers, so that its macros (GetComputerName and friends) rewrite none of them.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
