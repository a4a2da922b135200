// The single-instance guard and the operating-system query.
#include "morlix/morlix.h"
#include "platform/debug_output.h"
#include "platform/instance_lock.h"
#include "platform/os_info.h"

namespace morlix {
namespace {

platform::InstanceLock m_hMutex;
unsigned long m_dwLastError = 0;

}  // namespace
}  // namespace morlix

using morlix::platform::debugOutput;
using morlix::platform::debugPrintf;

extern "C" uint8_t CreateSingleInstance(void) {
    debugOutput("CreateSingleInstance - Entry");
    morlix::m_dwLastError = morlix::m_hMutex.create("QK_TOOLS");
    debugPrintf("CreateSingleInstance = m_dwLastError = %X, ERROR_ALREADY_EXISTS = %X",
                static_cast<unsigned>(morlix::m_dwLastError),
                static_cast<unsigned>(morlix::platform::ERROR_ALREADY_EXISTS));
    return 1;
}

extern "C" uint8_t IsAnotherInstanceRunning(void) {
    debugOutput("IsAnotherInstanceRunning - Entry");
    debugPrintf("IsAnotherInstanceRunning = m_dwLastError = %X, ERROR_ALREADY_EXISTS = %X",
                static_cast<unsigned>(morlix::m_dwLastError),
                static_cast<unsigned>(morlix::platform::ERROR_ALREADY_EXISTS));
    if (morlix::m_dwLastError == morlix::platform::ERROR_ALREADY_EXISTS) {
        debugOutput("IsAnotherInstanceRunning - Returning TRUE");
        return 1;
    }
    debugOutput("IsAnotherInstanceRunning - Returning FALSE");
    return 0;
}

extern "C" uint8_t ClearInstanceMutex(void) {
    debugOutput("ClearInstanceMutex - Entry");
    morlix::m_hMutex.close();
    return 1;
}

extern "C" int32_t GetOSDataVB(int32_t* majorVersion, int32_t* minorVersion, int32_t* processorArchitecture) {
    const auto version = morlix::platform::queryOsVersion();
    if (!version) {
        debugOutput("GetVersionEx failed");
        return 1;
    }
    debugOutput("GetVersionEx passed");
    // The kernel always reports its native architecture.
    debugOutput("Get process address passed\r\n");
    const std::uint16_t architecture = morlix::platform::nativeArchitecture();
    debugPrintf("Major version = %d\r\n", version->major);
    debugPrintf("Minor version = %d\r\n", version->minor);
    debugPrintf("Processor architecture = %d\r\n", architecture);
    if (architecture == morlix::platform::ARCHITECTURE_X86_64) debugOutput("64-bit");
    if (architecture == morlix::platform::ARCHITECTURE_X86) debugOutput("32-bit");
    if (majorVersion) *majorVersion = version->major;
    if (minorVersion) *minorVersion = version->minor;
    if (processorArchitecture) *processorArchitecture = architecture;
    return 0;
}
