// Names of the objects that processes of one user share (shared memory,
// semaphores, message endpoints). Every name carries the user's id, so two
// users on one machine never meet; KAV_IPC_SCOPE, when set, adds a further
// part, so that separate runs (tests side by side) do not meet either.
#pragma once

#include <string>

namespace win {

// "kav-<uid>-<name>" or "kav-<uid>-<scope>-<name>"; characters outside
// [A-Za-z0-9._-] are written as %XX, so any name gives a valid file name.
std::string UserScopedName(const std::string& name);

// A directory only this user can enter (mode 0700, owned by the user):
// XDG_RUNTIME_DIR when it is such a directory, else <tmp>/kav-<uid>, made
// when missing. Empty when neither can be had safely.
std::string PrivateRuntimeDir();

}  // namespace win
