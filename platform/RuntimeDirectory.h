#pragma once
// The user's runtime directory, where programs of one session meet (the
// simulated sensors publish their ports under it).
#include <string>

namespace varnel {

// POSIX: $XDG_RUNTIME_DIR when set, else <$TMPDIR or /tmp>/runtime-<user name>
// (the directory is created, mode 0700, when missing). Windows: the user's
// profile folder. Empty when there is none.
std::string UserRuntimeDirectory();

}  // namespace varnel
