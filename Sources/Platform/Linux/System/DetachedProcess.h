#pragma once

#include <optional>
#include <string>
#include <vector>

// Starting desktop programs that outlive the call and are never waited for.
//
// Thread contract: callable from any thread.

namespace Platform::Linux::System {

// The full path of `program` in the directories of `searchPath` (a PATH
// value) when it is an executable file there.
std::optional<std::string> findProgram(const std::string& program, const std::string& searchPath);

// Starts `arguments` (the first an absolute path) without a shell, in a
// session of its own, with standard streams on /dev/null and default signal
// handling. Returns at once: true when the program was started. A thread of
// its own reaps it, so it never lingers as a zombie and the caller's own
// child handling is left alone.
bool startDetached(const std::vector<std::string>& arguments);

} // namespace Platform::Linux::System
