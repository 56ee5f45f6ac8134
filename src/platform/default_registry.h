// The registry the program works on: advapi32 on Windows, the file store elsewhere.
#pragma once

#include "platform/registry_api.h"

namespace kelvaston::platform {

// Created on first use and kept until the program ends; the file store writes any unwritten
// changes then.
RegistryApi& DefaultRegistry();

}  // namespace kelvaston::platform
