#pragma once

namespace vl {

// Registers the picture bundle under ":/IMG/". Programs and tests call it once, before
// any window is built.
void initResources();

}  // namespace vl
