// A disk laid out to lead the simulator astray: links out of the root, a
// folder where the database should be, a huge database. Nothing outside the
// disk is opened by any process of tapsim, nothing on it changes, and the
// remote sends what the module expects, so every key turns a page.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "fwdatfile.h"
#include "process.h"

namespace tapsim_test {
namespace {

namespace fs = std::filesystem;

// Counts the opens of one file while it lives.
class OpenWatch {
 public:
  explicit OpenWatch(const fs::path& file) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    inotify_add_watch(fd_, file.c_str(), IN_OPEN);
  }
  ~OpenWatch() { close(fd_); }
  int opens() const {
    int count = 0;
    alignas(inotify_event) char buffer[4096];
    ssize_t got = 0;
    while ((got = read(fd_, buffer, sizeof buffer)) > 0)
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->mask & IN_OPEN) ++count;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    return count;
  }

 private:
  int fd_;
};

std::map<std::string, std::string> contentsOf(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_symlink() || !entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::string head(4096, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
    files[entry.path().string()] = head + "/" + std::to_string(entry.file_size());
  }
  return files;
}

// A database that gives model 42561 the other remote: were it read, the
// remote and the module would disagree.
void writeDecoy(const fs::path& file) {
  const fwdat::ModelRecord record{42561, 2};
  ASSERT_TRUE(fwdat::writeFile(file, std::span(&record, 1)));
}

struct HostileDisk {
  std::string name;
  std::function<void(const fs::path& disk, const fs::path& decoy)> lay;
};

void PrintTo(const HostileDisk& d, std::ostream* out) { *out << d.name; }

class DiskLaidOut : public testing::TestWithParam<HostileDisk> {};

TEST_P(DiskLaidOut, NothingOutsideIsOpenedNothingChangesEveryKeyTurnsAPage) {
  Sandbox sandbox;
  const fs::path disk = sandbox / "disk", outside = sandbox / "outside", decoy = outside / "FirmwareTMS.dat";
  fs::create_directories(disk / "ProgramFiles" / "Settings");
  fs::create_directories(outside / "Settings");
  writeDecoy(decoy);
  writeDecoy(outside / "Settings" / "FirmwareTMS.dat");
  GetParam().lay(disk, outside);
  const auto before = contentsOf(disk);
  const OpenWatch watch(decoy), watchInFolder(outside / "Settings" / "FirmwareTMS.dat");
  const Outcome outcome = runTapsim(sandbox, {"--headless", "--keys", "next next quit", "--model", "42561",
                                              "--disk", disk.string(), QUARNEL_MODULE});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_TRUE(contains(outcome.out, "screens synced: 3,")) << outcome.out;
  EXPECT_EQ(watch.opens() + watchInFolder.opens(), 0) << "a file outside the disk was opened";
  EXPECT_EQ(contentsOf(disk), before) << "the run changed the disk";
}

const HostileDisk kDisks[] = {
    {"database_links_out_of_the_disk",
     [](const fs::path& disk, const fs::path& outside) {
       fs::create_symlink(outside / "FirmwareTMS.dat", disk / "ProgramFiles" / "Settings" / "FirmwareTMS.dat");
     }},
    {"settings_folder_links_out_of_the_disk",
     [](const fs::path& disk, const fs::path& outside) {
       fs::remove(disk / "ProgramFiles" / "Settings");
       fs::create_symlink(outside / "Settings", disk / "ProgramFiles" / "Settings");
     }},
    {"database_in_the_start_folder_links_out",
     [](const fs::path& disk, const fs::path& outside) {
       fs::create_symlink(outside / "FirmwareTMS.dat", disk / "ProgramFiles" / "FirmwareTMS.dat");
     }},
    {"a_folder_where_the_database_should_be",
     [](const fs::path& disk, const fs::path&) {
       fs::create_directories(disk / "ProgramFiles" / "FirmwareTMS.dat");
       const fwdat::ModelRecord record{42561, 2};
       ASSERT_TRUE(fwdat::writeFile(disk / "ProgramFiles" / "Settings" / "FirmwareTMS.dat", std::span(&record, 1)));
     }},
    {"a_sparse_five_gigabyte_database",
     [](const fs::path& disk, const fs::path&) {
       const fs::path file = disk / "ProgramFiles" / "Settings" / "FirmwareTMS.dat";
       const fwdat::ModelRecord record{42561, 2};
       ASSERT_TRUE(fwdat::writeFile(file, std::span(&record, 1)));
       fs::resize_file(file, uint64_t{5} << 30);
     }},
};

INSTANTIATE_TEST_SUITE_P(Disks, DiskLaidOut, testing::ValuesIn(kDisks),
                         [](const auto& info) { return info.param.name; });

// A database larger than a receiver's memory is refused for the memory it
// would take, on every machine alike.
TEST(HugeDatabase, IsRefusedForItsSizeNotRead) {
  Sandbox sandbox;
  const fs::path disk = sandbox / "disk";
  fs::create_directories(disk / "ProgramFiles" / "Settings");
  const fs::path file = disk / "ProgramFiles" / "Settings" / "FirmwareTMS.dat";
  const fwdat::ModelRecord record{42561, 2};
  ASSERT_TRUE(fwdat::writeFile(file, std::span(&record, 1)));
  fs::resize_file(file, uint64_t{5} << 30);
  const Outcome outcome =
      runTapsim(sandbox, {"--headless", "--keys", "quit", "--model", "42561", "--disk", disk.string(), QUARNEL_MODULE});
  EXPECT_TRUE(contains(outcome.out, "memory: 1 allocation, 0 blocks still allocated (0 bytes)")) << outcome.out;
  EXPECT_TRUE(contains(outcome.out, "over the memory limit")) << outcome.out;
  EXPECT_TRUE(contains(outcome.out, "remote type 1")) << outcome.out;
}

}  // namespace
}  // namespace tapsim_test
