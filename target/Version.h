#pragma once

namespace corvane {

// The release, from the build (CMake's project version).
inline constexpr const char* kVersion = CORVANE_VERSION;

}  // namespace corvane
