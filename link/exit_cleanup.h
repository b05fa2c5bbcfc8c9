// SPDX-License-Identifier: MIT
// What must be undone however the process ends: the open port (its saved
// terminal state put back, its exclusive flag cleared, its lock files
// removed), child processes to stop, temporary files and directories to
// remove. Code registers each as it takes it and clears it when it lets go
// normally; SIGTERM, SIGINT and SIGHUP (a kill, Ctrl+C, a logout) and exit()
// then undo whatever is still registered. The registry is fixed-size and
// lock-free so that a signal handler may walk it at any moment.
#pragma once
#include <sys/types.h>

#include <string>

#include "link/driver_requests.h"
#include "link/tty_state.h"

namespace torvik::link {

// Installs the handlers for SIGTERM, SIGINT and SIGHUP (a signal this
// process was started with ignored, as under nohup, stays ignored) and an
// exit hook. A handler undoes what is registered, then ends the process by
// the signal's default action, so the parent sees it killed by that
// signal. Safe to call more than once; both front ends call it first thing.
void InstallExitCleanup();

// Undoes everything registered by this process now, as a handler does,
// without ending the process. Only system calls: safe in a signal handler.
void RunExitCleanup();

// The open port: descriptor, the state to put back, whether this process
// set the exclusive flag. Returns a slot number for the calls below, or -1
// when every slot is taken (the port still works; only a kill would leave
// it as it is).
int RegisterOpenPort(int fd, const TtyState& saved, bool exclusive);
// The driver settings (RS-485 mode, low latency) changed on that port,
// put back with it.
void SetPortDriverState(int slot, const DriverState& state);
// A lock file of that port, removed with it.
void AddPortLockFile(int slot, const std::string& path);
// The port was closed normally: nothing left to do for it.
void ClearOpenPort(int slot);

// A child process to end with SIGTERM.
void RegisterChild(pid_t pid);
void ClearChild(pid_t pid);

// A temporary file, or a directory removed with the files in it.
void RegisterTempPath(const std::string& path, bool directory);
void ClearTempPath(const std::string& path);

}  // namespace torvik::link
