#pragma once

#include <cstdint>
#include <optional>

namespace morlix::platform {

// Processor architecture codes as the program's callers know them.
inline constexpr std::uint16_t ARCHITECTURE_X86 = 0;
inline constexpr std::uint16_t ARCHITECTURE_ARM = 5;
inline constexpr std::uint16_t ARCHITECTURE_X86_64 = 9;
inline constexpr std::uint16_t ARCHITECTURE_AARCH64 = 12;
inline constexpr std::uint16_t ARCHITECTURE_UNKNOWN = 0xFFFF;

struct OsVersion {
    std::int32_t major = 0;
    std::int32_t minor = 0;
};

// Kernel release as major and minor numbers; nullopt when it cannot be read.
std::optional<OsVersion> queryOsVersion();

// The native processor architecture of the running kernel.
std::uint16_t nativeArchitecture();

// Maps a machine name from uname ("x86_64", "aarch64", ...) to its code.
std::uint16_t architectureFromMachine(const char* machine);

}  // namespace morlix::platform
