// SPDX-License-Identifier: MIT
// Runs the torvik-sim program on a pseudo-terminal for tests over the real
// serial device, and stops it however the test ends.
#pragma once
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace torvik::test {

class SimProcess {
  public:
    explicit SimProcess(std::vector<std::string> args) {
        int out[2];
        if (pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            std::vector<char*> argv;
            std::string binary = TORVIK_SIM_BINARY;
            argv.push_back(binary.data());
            std::string quiet = "--quiet";
            argv.push_back(quiet.data());
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(binary.c_str(), argv.data());
            _exit(127);
        }
        ::close(out[1]);
        char c = 0;
        while (::read(out[0], &c, 1) == 1 && c != '\n') path_.push_back(c);
        ::close(out[0]);
    }
    ~SimProcess() { stop(); }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // The pseudo-terminal the simulated reader serves.
    const std::string& path() const { return path_; }
    // Ends the program: its terminal goes away as when an adapter is pulled.
    void stop() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

  private:
    pid_t pid_ = -1;
    std::string path_;
};

}  // namespace torvik::test
