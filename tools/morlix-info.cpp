// Loads libmorlix.so as the program does (beside this program, else from
// the installed library folder) and prints what it reports about this host
// and the printer record: a quick check that the library loads and answers.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>
#include <string_view>

#include "velquin/build_info.h"

namespace {

const char* const USAGE =
    "Usage: morlix-info [--help | --version]\n"
    "\n"
    "Loads libmorlix.so, the printer library of velquin, and prints the host's\n"
    "kernel version and processor architecture and the library's printer record.\n"
    "Exits 1 when the library does not load or lacks an export.\n";

std::string libraryPath() {
    char self[PATH_MAX] = {};
    ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string folder = length > 0 ? std::string(self, static_cast<std::size_t>(length)) : std::string(".");
    folder = folder.substr(0, folder.find_last_of('/'));
    const std::string beside = folder + "/libmorlix.so";
    if (::access(beside.c_str(), F_OK) == 0) return beside;
    return folder + "/" VELQUIN_LIBRARY_FROM_PROGRAM "/libmorlix.so";
}

}  // namespace

int main(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (option == "--version") {
            std::printf("morlix-info %s\n", VELQUIN_VERSION);
            return 0;
        }
        std::fprintf(stderr, "morlix-info: unknown option \"%s\" (see --help)\n", argv[i]);
        return 2;
    }
    const std::string path = libraryPath();
    void* library = ::dlopen(path.c_str(), RTLD_NOW);
    if (library == nullptr) {
        std::fprintf(stderr, "cannot load libmorlix.so: %s\n", ::dlerror());
        return 1;
    }
    using OsData = int (*)(int*, int*, int*);
    using Detail = int (*)(int*, int*, int*, int*);
    auto getOsData = reinterpret_cast<OsData>(::dlsym(library, "GetOSDataVB"));
    auto getDetail = reinterpret_cast<Detail>(::dlsym(library, "GetPrinterDetailVB"));
    if (getOsData == nullptr || getDetail == nullptr) {
        std::fprintf(stderr, "libmorlix.so lacks an export\n");
        return 1;
    }
    int major = 0, minor = 0, architecture = 0;
    if (getOsData(&major, &minor, &architecture) == 0)
        std::printf("Host kernel %d.%d, processor architecture %d\n", major, minor, architecture);
    int port = 0, board = 0, type = 0, model = 0;
    getDetail(&port, &board, &type, &model);
    std::printf("Printer record: port %d, logic board %d, type %d, model %d\n", port, board, type, model);
    return 0;
}
