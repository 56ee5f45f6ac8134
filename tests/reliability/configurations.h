// Two full configurations (51 connections, 251 accounts) for the crash test of saves. They
// differ in every connection and account name and in most values, so a store holding a mixture
// of both, or either one only in part, is told apart from each.
#pragma once

#include "config/settings.h"

namespace kelvaston::reliability {

// Fills the global values and both lists of `settings` with configuration 'A' or 'B'; the
// target computer and the registry handles stay as they are.
void FillConfiguration(config::Settings& settings, char which);

}  // namespace kelvaston::reliability
