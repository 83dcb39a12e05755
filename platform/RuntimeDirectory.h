#pragma once
// The user's runtime directory, where programs of one session meet: the
// simulated sensor publishes its ports under it and the operator's program
// lists them from there, both through this one lookup.
#include <string>

namespace varnel {

// POSIX: $XDG_RUNTIME_DIR when set and usable (it is created, mode 0700, when
// missing; it must be a real directory owned by the user; its mode is
// corrected to 0700), else <temp dir>/runtime-<user name> under the same
// rules, where the temp dir is $TMPDIR (cleaned) when set, else /tmp.
// Windows: the user's profile folder.
// Answers an empty string, with the reason in *problem, when there is none;
// *warning receives a note when $XDG_RUNTIME_DIR was set but unusable.
std::string UserRuntimeDirectory(std::string* problem = nullptr, std::string* warning = nullptr);

// POSIX paths: collapses repeated separators, "." and ".." and drops a
// trailing separator.
std::string CleanPath(const std::string& path);

}  // namespace varnel
