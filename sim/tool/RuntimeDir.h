#pragma once
// Where the simulated sensor publishes its port: a symbolic link in
// <runtime directory>/varnel/ports (UserRuntimeDirectory, the lookup the
// operator's program uses too, so both sides meet).
#include <string>

#include "platform/RuntimeDirectory.h"

namespace varnel::sim {

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
