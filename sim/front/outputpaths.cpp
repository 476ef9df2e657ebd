#include "outputpaths.h"

#include <algorithm>
#include <array>
#include <vector>

namespace tapsim {
namespace {

namespace fs = std::filesystem;

// Two views of one path: where a new file lands (the folder resolved, the
// name kept, since a rename replaces a link itself) and where a write
// through every link would land.
struct Place {
  std::string_view role;  // the option, or "the module"
  fs::path given;
  fs::path at;
  fs::path resolved;
  std::string_view numbered;  // a folder output: the prefix of its file names
};

// A link loop or an unreadable folder stops the resolving; the path then stands as written.
fs::path resolved(const fs::path& absolute) {
  std::error_code ec;
  fs::path path = fs::weakly_canonical(absolute, ec);
  return ec ? absolute.lexically_normal() : path;
}

Place placeOf(std::string_view role, const fs::path& given, std::string_view numbered = {}) {
  std::error_code ec;
  fs::path absolute = fs::absolute(given, ec);
  while (absolute.has_relative_path() && absolute.filename().empty()) absolute = absolute.parent_path();
  Place place{role, given, {}, resolved(absolute), numbered};
  const fs::path name = absolute.filename();
  place.at = name == "." || name == ".." || !absolute.has_relative_path() ? place.resolved
                                                                          : resolved(absolute.parent_path()) / name;
  return place;
}

bool inside(const fs::path& path, const fs::path& root) {
  return std::mismatch(root.begin(), root.end(), path.begin(), path.end()).first == root.end();
}

bool sameFile(const Place& a, const Place& b) {
  if (a.at == b.at || a.at == b.resolved || a.resolved == b.at || a.resolved == b.resolved) return true;
  std::error_code ec;
  return fs::equivalent(a.resolved, b.resolved, ec);  // hard links; false when either is missing
}

// A file that the folder output would write over or, for snapshots, remove.
bool amongNumbered(const Place& file, const Place& folder) {
  return std::ranges::any_of(std::array{file.at, file.resolved}, [&](const fs::path& path) {
    return path.parent_path() == folder.resolved && isNumberedPng(path.filename().string(), folder.numbered);
  });
}

std::string shown(const Place& place) { return std::string(place.role) + " " + place.given.string(); }

std::optional<std::string> clash(const Place& a, const Place& b) {
  if (!a.numbered.empty() && !b.numbered.empty()) return std::nullopt;  // their names differ
  if (sameFile(a, b)) return shown(a) + " and " + shown(b) + " name the same file";
  for (const auto& [file, folder] : {std::pair{&a, &b}, std::pair{&b, &a}})
    if (!folder->numbered.empty() && amongNumbered(*file, *folder))
      return shown(*file) + " is one of the " + std::string(folder->numbered) + "NNN.png names that " +
             std::string(folder->role) + " writes";
  return std::nullopt;
}

std::vector<Place> outputPlaces(const OutputPaths& outputs) {
  std::vector<Place> places;
  const auto add = [&](std::string_view role, const fs::path& path, std::string_view numbered = {}) {
    if (!path.empty()) places.push_back(placeOf(role, path, numbered));
  };
  add("--snapshots", outputs.snapshots, kSnapshotPrefix);
  add("--window-captures", outputs.windowCaptures, kWindowCapturePrefix);
  add("--contact-sheet", outputs.contactSheet);
  add("--checksums", outputs.checksums);
  add("--trace", outputs.trace);
  add("--record", outputs.record);
  return places;
}

}  // namespace

bool isNumberedPng(std::string_view fileName, std::string_view prefix) {
  constexpr std::string_view kSuffix = ".png";
  if (!fileName.starts_with(prefix) || !fileName.ends_with(kSuffix)) return false;
  const std::string_view digits = fileName.substr(prefix.size(), fileName.size() - prefix.size() - kSuffix.size());
  return digits.size() >= 3 && std::ranges::all_of(digits, [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<std::string> refusedOutput(const OutputPaths& outputs, const fs::path& module,
                                         const fs::path& diskRoot, const fs::path& keyScript) {
  const std::vector<Place> places = outputPlaces(outputs);
  std::error_code ec;
  const fs::path disk = diskRoot.empty() ? fs::path() : resolved(fs::absolute(diskRoot, ec));
  for (const Place& place : places)
    if (!disk.empty() && (inside(place.at, disk) || inside(place.resolved, disk)))
      return shown(place) + " lies on the simulated disk " + diskRoot.string() + "; outputs go outside it";
  for (const auto& [input, role] : {std::pair{&module, "the module file"}, std::pair{&keyScript, "the key script"}}) {
    if (input->empty()) continue;
    const Place inputFile = placeOf(role, *input);
    for (const Place& place : places) {
      if (sameFile(place, inputFile)) return shown(place) + " is " + role + "; it would be overwritten";
      if (auto why = clash(place, inputFile)) return why;
    }
  }
  for (size_t i = 0; i < places.size(); ++i)
    for (size_t j = i + 1; j < places.size(); ++j)
      if (auto why = clash(places[i], places[j])) return why;
  return std::nullopt;
}

std::optional<size_t> removeNumbered(const fs::path& folder, std::string_view prefix, std::string& error) {
  std::error_code ec;
  size_t removed = 0;
  fs::directory_iterator entries(folder, ec);
  for (; !ec && entries != fs::directory_iterator(); entries.increment(ec)) {
    const fs::directory_entry& entry = *entries;
    if (!isNumberedPng(entry.path().filename().string(), prefix)) continue;
    const fs::file_type type = entry.symlink_status(ec).type();
    if (ec) break;
    if (type != fs::file_type::regular && type != fs::file_type::symlink) continue;  // not one we wrote
    if (!fs::remove(entry.path(), ec)) break;
    ++removed;
  }
  if (ec && ec != std::errc::no_such_file_or_directory) {
    error = "cannot clear the earlier " + std::string(prefix) + "NNN.png from " + folder.string() + ": " + ec.message();
    return std::nullopt;
  }
  return removed;
}

}  // namespace tapsim
