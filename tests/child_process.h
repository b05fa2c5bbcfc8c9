// SPDX-License-Identifier: MIT
// Other programs for tests of the real programs: one of ours run to its
// end with its output taken, and a stand-in for another program that has a
// serial line open (locking it the usual ways, or not at all) until the
// test lets go of it.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

namespace torvik::test {

struct ProgramRun {
    int status = -1;  // exit status; 128 + signal when killed
    std::string out, err;
};

// Runs argv[0] with the arguments and this environment until it ends.
inline ProgramRun RunProgram(std::vector<std::string> argv) {
    int out[2], err[2];
    if (::pipe(out) != 0 || ::pipe(err) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        for (int fd : {out[0], out[1], err[0], err[1]}) ::close(fd);
        // As from a terminal: a runner may hand these down ignored.
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, SIG_DFL);
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    ProgramRun r;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* texts[2] = {&r.out, &r.err};
    for (int open = 2; open > 0;) {
        if (::poll(fds, 2, -1) < 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buf[4096];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                texts[i]->append(buf, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

// A program named `name` that has `device` open until it is dropped:
//   kOpen      only open, as the far end of a simulated line keeps it;
//   kLock      locked with flock and the exclusive flag, as serial programs do;
//   kFlock     locked with flock only;
//   kLockFile  not open, but its lock file `lock_file` names it.
class LineHolder {
  public:
    enum class How { kOpen, kLock, kFlock, kLockFile };
    LineHolder(const std::string& device, const std::string& name, How how,
               const std::string& lock_file = {}) {
        int ready[2];
        if (::pipe(ready) != 0 || ::pipe(release_) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(release_[1]);
            ::prctl(PR_SET_NAME, name.c_str());
            bool ok = false;
            if (how == How::kLockFile) {
                if (FILE* f = std::fopen(lock_file.c_str(), "wx")) {
                    ok = std::fprintf(f, "%10d\n", static_cast<int>(::getpid())) > 0;
                    ok = std::fclose(f) == 0 && ok;
                }
            } else {
                const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
                ok = fd >= 0;
                if (ok && how != How::kOpen) ok = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
                if (ok && how == How::kLock) ok = ::ioctl(fd, TIOCEXCL) == 0;
            }
            const char c = ok ? 'y' : 'n';
            (void)!::write(ready[1], &c, 1);
            char wait = 0;
            (void)!::read(release_[0], &wait, 1);
            if (how == How::kLockFile && ok) ::unlink(lock_file.c_str());
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release_[0]);
        char c = 0;
        ok_ = ::read(ready[0], &c, 1) == 1 && c == 'y';
        ::close(ready[0]);
    }
    ~LineHolder() {
        ::close(release_[1]);
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    }
    LineHolder(const LineHolder&) = delete;
    LineHolder& operator=(const LineHolder&) = delete;
    bool ok() const { return ok_; }
    int pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    int release_[2] = {-1, -1};
    bool ok_ = false;
};

}  // namespace torvik::test
