#include "platform/advapi32.h"

#include <thread>
#include <type_traits>

namespace kelvaston::platform {
namespace {

std::atomic<Advapi32Meter*> meter{nullptr};

template <auto Function, class Pointer>
struct Measured;

// A function of the table's type that counts, waits and calls the real function.
template <auto Function, class Result, class... Arguments>
struct Measured<Function, Result (*)(Arguments...)> {
    static Result Call(Arguments... arguments) {
        Advapi32Meter& m = *meter.load();
        ++m.calls;
        if (m.delay.count() > 0) std::this_thread::sleep_for(m.delay);
        return (RealAdvapi32().*Function)(arguments...);
    }
};

template <auto Function>
void Measure(Advapi32& table) {
    using Pointer = std::remove_reference_t<decltype(table.*Function)>;
    table.*Function = &Measured<Function, Pointer>::Call;
}

}  // namespace

const Advapi32& RealAdvapi32() {
    static const Advapi32 real;
    return real;
}

const Advapi32& MeasuredAdvapi32(Advapi32Meter& measuring) {
    meter = &measuring;
    static const Advapi32 measured = [] {
        Advapi32 table;
#define KELVASTON_ADVAPI32_MEASURE(name) Measure<&Advapi32::name>(table);
        KELVASTON_ADVAPI32_FUNCTIONS(KELVASTON_ADVAPI32_MEASURE)
#undef KELVASTON_ADVAPI32_MEASURE
        return table;
    }();
    return measured;
}

}  // namespace kelvaston::platform
