// A CUPS server of the test's own: configuration, spool and state in a
// temporary folder, reached through its own domain socket. While it runs,
// CUPS_SERVER points at it and XDG_STATE_HOME at a folder of the test.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace velquin::testing {

class PrivateCupsd {
public:
    PrivateCupsd() = default;
    ~PrivateCupsd();
    PrivateCupsd(const PrivateCupsd&) = delete;
    PrivateCupsd& operator=(const PrivateCupsd&) = delete;

    // Why the server cannot run here (not root, no cupsd), or empty.
    static std::string unavailableReason();

    // Starts the server and waits until it answers; false with the reason in
    // error() when it does not come up.
    bool start();
    void stop();
    // Freezes the server (SIGSTOP) as a hung spooler, or lets it go on.
    void freeze(bool frozen);
    const std::string& error() const { return error_; }
    const std::string& folder() const { return folder_; }
    std::string stateHome() const { return folder_ + "/state-home"; }

    // Makes a raw queue on `uri`; `policy` "locked" refuses any change to it.
    bool addQueue(const std::string& name, const std::string& uri, const std::string& policy = "");
    bool setDeviceUri(const std::string& name, const std::string& uri);
    bool deleteQueue(const std::string& name);
    // The device URI as the spooler's own client reports it ("/dev/null" for
    // the null file device); empty when the queue is unknown.
    std::string deviceUri(const std::string& name) const;
    // Prints a small text job on the queue; false when it was not taken.
    bool submitJob(const std::string& name) const;
    // The queue's jobs not completed yet (waiting, held or printing).
    int unfinishedJobs(const std::string& name) const;
    // Stops the queue as an operator would (its jobs wait); whether it is stopped.
    bool stopQueue(const std::string& name) const;
    bool isStopped(const std::string& name) const;

private:
    bool writeConfiguration();
    std::string folder_;
    std::string error_;
    pid_t server_ = -1;
};

// Forks a process that loads the library at `libraryPath` as the program does
// (its guardian beside it), moves the spooler's ports and then waits to be
// killed. Returns once the ports are moved: the child's id, or -1.
pid_t forkProgramHoldingPorts(const char* libraryPath);

// Runs a program with arguments and waits; its exit status, or -1.
int runProgram(const std::vector<std::string>& arguments, std::string* output = nullptr);

}  // namespace velquin::testing
