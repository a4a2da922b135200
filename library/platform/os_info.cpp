#include "os_info.h"

#include <sys/utsname.h>

#include <charconv>
#include <cstring>
#include <string_view>

namespace morlix::platform {

std::optional<OsVersion> queryOsVersion() {
    struct utsname names {};
    if (::uname(&names) != 0) return std::nullopt;
    std::string_view release(names.release, strnlen(names.release, sizeof names.release));
    OsVersion version;
    const char* end = release.data() + release.size();
    auto [afterMajor, majorError] = std::from_chars(release.data(), end, version.major);
    if (majorError != std::errc{}) return std::nullopt;
    if (afterMajor < end && *afterMajor == '.') std::from_chars(afterMajor + 1, end, version.minor);
    return version;
}

std::uint16_t architectureFromMachine(const char* machine) {
    struct Entry {
        const char* name;
        std::uint16_t code;
    };
    static constexpr Entry table[] = {
        {"x86_64", ARCHITECTURE_X86_64},   {"amd64", ARCHITECTURE_X86_64},  {"i386", ARCHITECTURE_X86},
        {"i486", ARCHITECTURE_X86},        {"i586", ARCHITECTURE_X86},      {"i686", ARCHITECTURE_X86},
        {"aarch64", ARCHITECTURE_AARCH64}, {"arm64", ARCHITECTURE_AARCH64},
    };
    for (const Entry& entry : table)
        if (std::strcmp(machine, entry.name) == 0) return entry.code;
    if (std::strncmp(machine, "arm", 3) == 0) return ARCHITECTURE_ARM;
    return ARCHITECTURE_UNKNOWN;
}

std::uint16_t nativeArchitecture() {
    struct utsname names {};
    if (::uname(&names) != 0) return ARCHITECTURE_UNKNOWN;
    return architectureFromMachine(names.machine);
}

}  // namespace morlix::platform
