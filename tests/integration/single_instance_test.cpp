// The single-instance guard between two real processes.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using GuardCall = uint8_t (*)();

// A process of its own that loads the library, takes the guard and reports
// what IsAnotherInstanceRunning said; it keeps the guard until told to end.
class GuardProcess {
public:
    GuardProcess() {
        int toParent[2], toChild[2];
        if (::pipe(toParent) != 0 || ::pipe(toChild) != 0) throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            void* library = ::dlopen(MORLIX_LIBRARY_PATH, RTLD_NOW);
            if (library == nullptr) ::_exit(3);
            auto create = reinterpret_cast<GuardCall>(::dlsym(library, "CreateSingleInstance"));
            auto running = reinterpret_cast<GuardCall>(::dlsym(library, "IsAnotherInstanceRunning"));
            auto clear = reinterpret_cast<GuardCall>(::dlsym(library, "ClearInstanceMutex"));
            char answer = create() == 1 && running() == 1 ? 'Y' : 'N';
            [[maybe_unused]] auto w = ::write(toParent[1], &answer, 1);
            char command = 0;
            while (::read(toChild[0], &command, 1) == 1 && command != 'E') {
                if (command == 'C') clear();
                [[maybe_unused]] auto echo = ::write(toParent[1], &command, 1);
            }
            ::_exit(0);
        }
        ::close(toParent[1]);
        ::close(toChild[0]);
        fromChild_ = toParent[0];
        toChild_ = toChild[1];
        [[maybe_unused]] auto r = ::read(fromChild_, &answer_, 1);
    }
    ~GuardProcess() { end(); }
    bool sawAnotherInstance() const { return answer_ == 'Y'; }
    void clearGuard() { step('C'); }
    void end() {
        if (pid_ <= 0) return;
        const char endCommand = 'E';
        [[maybe_unused]] auto w = ::write(toChild_, &endCommand, 1);
        ::close(fromChild_);
        ::close(toChild_);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    void step(char command) {
        [[maybe_unused]] auto w = ::write(toChild_, &command, 1);
        char echo;
        [[maybe_unused]] auto r = ::read(fromChild_, &echo, 1);
    }
    pid_t pid_ = -1;
    int fromChild_ = -1, toChild_ = -1;
    char answer_ = 0;
};

class SingleInstance : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() / ("qk-tools-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder_);
        ::setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }
    std::filesystem::path folder_;
};

TEST_F(SingleInstance, SecondProcessIsRefusedUntilTheFirstLetsGo) {
    GuardProcess first;
    EXPECT_FALSE(first.sawAnotherInstance());
    {
        GuardProcess second;
        EXPECT_TRUE(second.sawAnotherInstance());
    }
    first.clearGuard();
    GuardProcess third;
    EXPECT_FALSE(third.sawAnotherInstance());
}

TEST_F(SingleInstance, AnEndedProcessReleasesTheGuard) {
    {
        GuardProcess first;
        EXPECT_FALSE(first.sawAnotherInstance());
    }
    GuardProcess next;
    EXPECT_FALSE(next.sawAnotherInstance());
}

TEST(SingleInstanceWithoutRuntimeFolder, TakesAPrivateLockAndRefusesAnotherUsersFile) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("qk-shared-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("TMPDIR", folder.c_str(), 1);
    struct Restore {
        ~Restore() { ::unsetenv("TMPDIR"); }
    } restore;
    const std::filesystem::path lock = folder / ("QK_TOOLS-" + std::to_string(::geteuid()));
    {
        GuardProcess first;
        EXPECT_FALSE(first.sawAnotherInstance());
        struct stat info {};
        ASSERT_EQ(::stat(lock.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
    }
    // The same name made and held by another user does not stop us.
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || nobody == nullptr) GTEST_SKIP() << "needs root to make another user's file";
    ASSERT_EQ(::chown(lock.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    const int held = ::open(lock.c_str(), O_RDWR);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    GuardProcess next;
    EXPECT_FALSE(next.sawAnotherInstance());
    ::close(held);
    std::filesystem::remove_all(folder);
}

}  // namespace
