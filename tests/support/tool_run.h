// Runs a command-line tool as a person would, with its output caught in a
// scratch folder of the test's own that goes when the test ends.
#pragma once
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace quarnel::test {

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class ToolScratch {
 public:
  // mkdtemp rather than the test's name, whose '/' (a parameterised test's)
  // would nest the folder in one that is never removed.
  explicit ToolScratch(std::filesystem::path tool) : tool_(std::move(tool)) {
    std::string name = (std::filesystem::temp_directory_path() / (tool_.filename().string() + "-test-XXXXXX")).string();
    if (mkdtemp(name.data()) == nullptr) ADD_FAILURE() << "cannot make " << name;
    dir_ = name;
  }
  ~ToolScratch() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  ToolScratch(const ToolScratch&) = delete;
  ToolScratch& operator=(const ToolScratch&) = delete;

  // args go through the shell as they stand.
  ToolRun run(const std::string& args) const {
    const std::string command =
        tool_.string() + " " + args + " >" + path("out") + " 2>" + path("err");
    const int raw = std::system(command.c_str());
    ToolRun result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    result.out = slurp(dir_ / "out");
    result.err = slurp(dir_ / "err");
    return result;
  }

  template <typename Bytes>
  std::string write(const std::string& name, const Bytes& bytes) const {
    std::ofstream(dir_ / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path(name);
  }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }

 private:
  std::filesystem::path tool_;
  std::filesystem::path dir_;
};

}  // namespace quarnel::test
