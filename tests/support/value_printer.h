// Registry values in test failure messages: name, type and size instead of raw object bytes.
#pragma once

#include <ostream>

#include "platform/reg_file.h"

namespace kelvaston::platform::regfile {

inline void PrintTo(const Value& value, std::ostream* out) {
    *out << '"' << value.name << "\" type " << value.type << " (" << value.data.size() << " bytes)";
}

}  // namespace kelvaston::platform::regfile
