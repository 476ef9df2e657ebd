#pragma once
// What /proc says of a process, read with plain system calls: a process may
// end while it is read, and that is an answer, not an error.
#include <sys/types.h>

#include <string>
#include <vector>

namespace tapsim {

// The whole of a /proc file; empty when it cannot be read.
std::string procText(const std::string& path);
// The kernel's start time of the process, in clock ticks; empty when it is gone.
std::string startTimeOf(pid_t pid);
pid_t parentOf(pid_t pid);
std::vector<pid_t> allProcesses();

}  // namespace tapsim
