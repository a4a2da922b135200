// Loads libmorlix.so from beside this program and prints what it reports
// about this host and the printer record: a quick check that the library
// loads and answers.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

int main() {
    char self[PATH_MAX] = {};
    ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string folder = length > 0 ? std::string(self, static_cast<std::size_t>(length)) : std::string(".");
    folder = folder.substr(0, folder.find_last_of('/'));
    void* library = ::dlopen((folder + "/libmorlix.so").c_str(), RTLD_NOW);
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
