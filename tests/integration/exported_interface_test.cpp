// libmorlix.so as the program sees it: loaded by path, each function bound
// by name, and nothing else of ours exported.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "morlix/export_list.h"

namespace {

#define MORLIX_EXPORT_NAME(name, result, missing, parameters, arguments) #name,
const std::vector<std::string> EXPORTS = {MORLIX_EXPORT_LIST(MORLIX_EXPORT_NAME)};
#undef MORLIX_EXPORT_NAME

TEST(ExportedInterface, AllNineteenResolveByName) {
    void* library = ::dlopen(MORLIX_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    ASSERT_EQ(EXPORTS.size(), 19u);
    for (const std::string& name : EXPORTS) EXPECT_NE(::dlsym(library, name.c_str()), nullptr) << name;
    EXPECT_EQ(::dlsym(library, "ParseModelFromID"), nullptr);
    EXPECT_EQ(::dlsym(library, "printerData"), nullptr);

    using OsData = int32_t (*)(int32_t*, int32_t*, int32_t*);
    auto getOsData = reinterpret_cast<OsData>(::dlsym(library, "GetOSDataVB"));
    int32_t major = -1, minor = -1, architecture = -1;
    EXPECT_EQ(getOsData(&major, &minor, &architecture), 0);
    EXPECT_GT(major, 0);
    ::dlclose(library);
}

TEST(ExportedInterface, OnlyTheNineteenFunctionsAreVisible) {
    const std::string command = std::string("nm -D --defined-only '") + MORLIX_LIBRARY_PATH + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> defined;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe.get())) {
        std::istringstream fields(line);
        std::string address, kind, name;
        fields >> address >> kind >> name;
        if (!name.empty()) defined.insert(name);
    }
    const std::set<std::string> expected(EXPORTS.begin(), EXPORTS.end());
    EXPECT_EQ(defined, expected);
}

// The version script names the same functions as global, everything else local.
TEST(ExportedInterface, TheVersionScriptNamesTheList) {
    std::ifstream map(MORLIX_VERSION_SCRIPT);
    ASSERT_TRUE(map) << MORLIX_VERSION_SCRIPT;
    std::set<std::string> global;
    bool inGlobal = false;
    for (std::string word; map >> word;) {
        if (word == "global:" || word == "local:") {
            inGlobal = word == "global:";
            continue;
        }
        if (inGlobal && word.back() == ';') global.insert(word.substr(0, word.size() - 1));
    }
    EXPECT_EQ(global, std::set<std::string>(EXPORTS.begin(), EXPORTS.end()));
}

}  // namespace
