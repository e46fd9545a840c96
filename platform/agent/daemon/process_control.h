// What makes orvu-agentd a well-behaved background process: its default state file, stop
// signals, detaching from the caller and the pid file.
#pragma once

#include <csignal>
#include <string>

namespace orvu::agent {

// The state file that oaset.sh gives the agent at SOCKET_PATH, in $XDG_STATE_HOME/oaset, else in
// ~/.local/state/oaset: agent.state for the default socket; for another one, "agent-" and the
// socket's absolute path with '%' and '/' escaped as %25 and %2F, then ".state", so that agents
// at two sockets never share a state.
std::string DefaultStatePath(const std::string& socketPath, const std::string& defaultSocketPath);

// The pid file that --detach writes when --pid-file is not given: beside the socket, named after
// it (".sock" replaced by ".pid", else ".pid" added), so that agents at two sockets of one folder
// keep two pid files.
std::string DefaultPidFile(const std::string& socketPath);

// Where a cut of the state file that must wait for the next start is noted: beside the socket,
// which lies on another file system than the state as a rule (a runtime folder), so that the
// note gets written when the state's file system turned read-only; but only when the socket's
// folder is the agent's own and closed to others, since the next start believes no note in a
// folder that others may write in. Beside the state file otherwise. MADE_PRIVATE: the folder is
// one that Listen makes private when it is missing (the default socket's).
std::string CutNotePath(const std::string& socketPath, const std::string& statePath,
                        bool madePrivate);

// Creates the folders leading to PATH (not PATH itself); false with errno set on failure.
bool MakeFolders(const std::string& path);

// Stop signals (SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGPROF, SIGPWR,
// SIGVTALRM, SIGXCPU, SIGSTKFLT and the real-time signals) set *stop; they are blocked until the
// event loop can take them, so a stop is never half-handled. SIGPIPE (a peer that goes away
// mid-write), SIGXFSZ (a write past the file-size limit, which then fails) and SIGIO are ignored.
void InstallStopSignals(volatile std::sig_atomic_t* stop);

enum class DetachOutcome { InBackground, CallerReturns, Failed };

// The pid file, opened without following a link (and only when it is the user's own) and locked
// for as long as the agent runs: whoever reads it can tell (flock -n) whether the number it holds
// still names the agent, and a second agent does not write over it. -1 with *error otherwise.
int OpenPidFile(const std::string& path, std::string* error);

// Forks: the caller's process gets CallerReturns (after writing the background process's id to
// the pid file PID_FD, when not -1) and should exit; the background process gets InBackground,
// detached from the terminal and the caller's standard streams. Failed sets *error.
DetachOutcome Detach(int pidFd, std::string* error);

bool WritePidFile(int pidFd);  // this process's id
// Removes PATH while it is still the file PID_FD holds.
void RemovePidFile(int pidFd, const std::string& path);

}  // namespace orvu::agent
