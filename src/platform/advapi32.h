// The advapi32 functions Win32Registry calls, as one table. Every registry call of the Windows
// backend goes through it, so that a measurement can stand in front of advapi32: MeasuredAdvapi32
// counts the calls and makes each wait as a round trip to another computer would.
//
// Include after the program's own headers (it includes <windows.h>).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>

#include "platform/windows_headers.h"

namespace kelvaston::platform {

// The functions, each once: the table's members and the measured table follow this list.
// clang-format off
#define KELVASTON_ADVAPI32_FUNCTIONS(X) \
    X(RegConnectRegistryA) \
    X(RegOpenKeyExA) \
    X(RegOpenKeyExW) \
    X(RegCreateKeyA) \
    X(RegCloseKey) \
    X(RegFlushKey) \
    X(RegEnumKeyExA) \
    X(RegEnumKeyExW) \
    X(RegDeleteKeyA) \
    X(RegQueryInfoKeyW) \
    X(RegQueryValueExA) \
    X(RegSetValueExA) \
    X(RegSetValueExW) \
    X(RegDeleteValueA) \
    X(RegEnumValueA) \
    X(RegEnumValueW) \
    X(RegQueryMultipleValuesA) \
    X(RegQueryMultipleValuesW)
// clang-format on

// Each member is the advapi32 function of its name.
struct Advapi32 {
#define KELVASTON_ADVAPI32_MEMBER(name) decltype(&::name) name = ::name;
    KELVASTON_ADVAPI32_FUNCTIONS(KELVASTON_ADVAPI32_MEMBER)
#undef KELVASTON_ADVAPI32_MEMBER
};

// advapi32 itself.
const Advapi32& RealAdvapi32();

// What MeasuredAdvapi32 counts, and how long each call waits before it is made.
struct Advapi32Meter {
    std::atomic<std::size_t> calls{0};
    std::chrono::microseconds delay{0};
};

// advapi32 behind `meter`: every call counts and waits its delay first, on the calling thread,
// so that calls made at the same time wait at the same time. There is one measured table, for
// one meter at a time: a function in a table cannot carry a pointer of its own.
const Advapi32& MeasuredAdvapi32(Advapi32Meter& meter);

}  // namespace kelvaston::platform
