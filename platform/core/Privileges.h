// The privileges a program may be started with, and giving them up. A program that needs a
// privilege only to start (binding a port below 1024) takes what it needs first, then calls
// DropCapabilities and, in secure mode, ClearUntrustedEnvironment, all before any toolkit code
// runs: from then on neither its own code nor a library or plugin it loads holds the privilege,
// and the environment of the less privileged user who started it picks no code or file for the
// toolkit to load.
#pragma once

#include <string>
#include <vector>

namespace ovelta {

// True when the process was started in the loader's secure mode: its file grants capabilities or
// carries the set-user-ID or set-group-ID bit, so its environment comes from a user with fewer
// rights than the process has.
bool SecureExecution();

// Gives up every capability the process holds: the effective, permitted and inheritable sets and
// the ambient set, so that nothing it runs afterwards, nor a program it starts, holds one. True
// when none is left; false when one is, with *Error (when given) set to the system's reason.
bool DropCapabilities(std::string* Error);

// Whether the environment variable Name makes the toolkit, or a library it loads, run code or read
// files that its value chooses (QT_PLUGIN_PATH, GTK_MODULES...). QT_QPA_PLATFORM is not one:
// only its options are (ClearUntrustedEnvironment keeps the platform's name).
bool UntrustedVariable(const std::string& Name);

// Removes every untrusted variable from the environment and cuts the options off
// QT_QPA_PLATFORM ("offscreen:configfile=x" becomes "offscreen"). Returns the names of the
// variables removed or changed, in the environment's order. For a program in secure mode, before
// the toolkit starts; not thread-safe (it edits the environment).
std::vector<std::string> ClearUntrustedEnvironment();

}  // namespace ovelta
