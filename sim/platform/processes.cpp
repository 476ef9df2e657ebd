#include "processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace tapsim {
namespace {

// The fields after the command name, which may itself hold blanks and parentheses.
std::vector<std::string> statFields(pid_t pid) {
  const std::string stat = procText("/proc/" + std::to_string(pid) + "/stat");
  const size_t close = stat.rfind(')');
  std::vector<std::string> fields;
  if (close == std::string::npos || close + 2 > stat.size()) return fields;
  std::istringstream words(stat.substr(close + 2));
  for (std::string word; words >> word;) fields.push_back(word);
  return fields;
}

}  // namespace

std::string procText(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string text;
  char chunk[4096];
  ssize_t got = 0;
  while ((got = read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<size_t>(got));
  close(fd);
  return got < 0 ? std::string() : text;
}

std::string startTimeOf(pid_t pid) {
  const auto fields = statFields(pid);
  return fields.size() > 19 ? fields[19] : std::string();  // the 22nd field of the whole line
}

pid_t parentOf(pid_t pid) {
  const auto fields = statFields(pid);
  return fields.size() > 1 ? static_cast<pid_t>(std::strtol(fields[1].c_str(), nullptr, 10)) : -1;
}

std::vector<pid_t> allProcesses() {
  std::vector<pid_t> pids;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return pids;
  // cppcheck-suppress readdirCalled ; one thread walks /proc, and readdir_r is the deprecated one
  while (const dirent* entry = readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (end != entry->d_name && *end == '\0' && pid > 0) pids.push_back(static_cast<pid_t>(pid));
  }
  closedir(proc);
  return pids;
}

}  // namespace tapsim
