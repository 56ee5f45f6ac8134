// The save as it was before it wrote only what changed: remove every stored connection and
// account key, then write all of the model. Kept here as the reference the save is compared
// with: on any stored tree and any working copy, both must leave the same tree.
#pragma once

#include "config/settings.h"
#include "platform/registry_api.h"

namespace kelvaston::config::test {

// True when the save went through; on a failure the stored tree has been put back.
bool SaveByFullRewrite(platform::RegistryApi& api, Settings& settings);

}  // namespace kelvaston::config::test
