// SPDX-License-Identifier: MIT
// The window program's start-up as a technician meets it on the command
// line: Qt's own options reach Qt, a display that is missing or cannot be
// reached ends with words and status 1 (never a Qt abort), and a bad
// command line with status 2. Runs the real program in a child process with
// a chosen environment.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/scratch_dir.h"

namespace torvik::test {
namespace {

struct Outcome {
    bool exited = false;  // false: ended by a signal
    int status = -1;
    std::string err;
};

// Runs torvik-config with exactly `env` as its environment.
Outcome run_tool(std::vector<std::string> args, std::vector<std::string> env) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipe_fds[1], STDERR_FILENO);
        dup2(pipe_fds[1], STDOUT_FILENO);
        ::close(pipe_fds[0]);
        ::close(pipe_fds[1]);
        std::string binary = TORVIK_CONFIG_BINARY;
        std::vector<char*> argv{binary.data()};
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        execve(binary.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    ::close(pipe_fds[1]);
    Outcome out;
    char buffer[512];
    ssize_t n = 0;
    while ((n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0) out.err.append(buffer, n);
    ::close(pipe_fds[0]);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    out.exited = WIFEXITED(wstatus);
    out.status = out.exited ? WEXITSTATUS(wstatus) : WTERMSIG(wstatus);
    return out;
}

TEST(CommandLine, DisplaysAndQtOptions) {
    TempDir scratch;
    const std::string settings = scratch.file().string();
    // Qt's run-time and cache files stay in the scratch directory.
    const std::vector<std::string> base = {"PATH=/usr/bin:/bin", "HOME=" + scratch.dir.string(),
                                           "XDG_RUNTIME_DIR=" + scratch.dir.string(),
                                           "XDG_CACHE_HOME=" + scratch.dir.string()};
    const auto with = [&](std::vector<std::string> more) {
        std::vector<std::string> env = base;
        env.insert(env.end(), more.begin(), more.end());
        return env;
    };
    const struct Case {
        const char* name;
        std::vector<std::string> args;
        std::vector<std::string> env;
        int status;
        std::string said;  // part of what it prints
    } cases[] = {
        {"no display at all", {}, base, 1, "no X11 or Wayland display"},
        {"a display nobody serves",
         {},
         with({"DISPLAY=:987"}),
         1,
         "the display \":987\" cannot be opened"},
        // Without a display Qt fails either way: what counts is that the
        // option is taken and Qt's failure ends in words.
        {"-display is taken for Qt",
         {"-display", ":987"},
         base,
         1,
         "the display \":987\" cannot be opened"},
        {"-platform goes to Qt",
         {"-platform", "offscreen", "--exit-after-first-paint"},
         base,
         0,
         "first-paint-us"},
        {"with two dashes too",
         {"--platform", "offscreen", "--exit-after-first-paint"},
         base,
         0,
         "first-paint-us"},
        {"Qt takes no -platform=NAME",
         {"-platform=offscreen"},
         base,
         2,
         "unknown option -platform=offscreen"},
        {"a Qt option without its value", {"-platform"}, base, 2, "-platform needs a value"},
        {"an option nobody knows", {"-bogus"}, base, 2, "unknown option -bogus"},
        {"the version", {"--version"}, base, 0, std::string("torvik-config ") + TORVIK_VERSION},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        if (c.status == 0 && c.args.front() != "--version") {
            args.push_back("--settings");
            args.push_back(settings);
        }
        const Outcome out = run_tool(args, c.env);
        EXPECT_TRUE(out.exited) << c.name << ": ended by signal " << out.status << "\n" << out.err;
        EXPECT_EQ(out.status, c.status) << c.name << "\n" << out.err;
        EXPECT_NE(out.err.find(c.said), std::string::npos) << c.name << "\n" << out.err;
    }
}

}  // namespace
}  // namespace torvik::test
