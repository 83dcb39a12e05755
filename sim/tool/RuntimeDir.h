#pragma once
// Where the simulated sensor publishes its port: a symbolic link in
// <runtime directory>/varnel/ports, found by the operator's program through its
// UI toolkit's runtime location. The lookup here follows the same rules so that
// both sides meet: $XDG_RUNTIME_DIR when set and usable (it is created, mode
// 0700, when missing; it must be a real directory owned by the user; its mode
// is corrected to 0700), else <temp dir>/runtime-<user name> under the same
// rules, where the temp dir is $TMPDIR (cleaned) when set, else /tmp.
#include <string>

namespace varnel::sim {

// Answers the runtime directory, or an empty string with the reason in *problem.
// *warning receives a note when $XDG_RUNTIME_DIR was set but unusable.
std::string RuntimeDirectory(std::string* problem, std::string* warning);

// Collapses repeated separators, "." and ".." and drops a trailing separator.
std::string CleanPath(const std::string& path);

// Creates <runtime>/varnel/ports when missing and answers its path, or an empty
// string with the reason in *problem.
std::string PortDirectory(const std::string& runtime, std::string* problem);

// Points <dir>/<name> at target, replacing an earlier link of that name in one
// step. Refuses to replace anything that is not a symbolic link.
bool PublishLink(const std::string& linkPath, const std::string& target, std::string* problem);

// Removes the link if it still points at target (another simulator may have
// taken the name over since). Answers whether it was removed.
bool RemoveLinkIfOurs(const std::string& linkPath, const std::string& target);

}  // namespace varnel::sim
