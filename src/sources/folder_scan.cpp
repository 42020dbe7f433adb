#include "sources/folder_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "sources/source_rules.h"

namespace cellverter {
namespace {

struct FolderId {
  dev_t device;
  ino_t inode;
  bool operator==(const FolderId&) const = default;
};

struct Entry {
  std::string name;
  bool isFolder;
  FolderId id;
};

// Reads a folder's entries in listing order and closes it again before any subfolder is
// opened, so a deep tree never runs out of file descriptors. False when it cannot be read.
bool ReadFolder(const std::string& path, FolderId& self, std::vector<Entry>& entries) {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return false;
  const int fd = ::dirfd(dir);
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    ::closedir(dir);
    return false;
  }
  self = {info.st_dev, info.st_ino};
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    Entry item{std::string(name), false, {}};
    if (entry->d_type == DT_DIR || entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
      // Follows links: a link to a folder is a folder; a broken one is taken as a file.
      struct stat target {};
      if (::fstatat(fd, entry->d_name, &target, 0) == 0 && S_ISDIR(target.st_mode)) {
        item.isFolder = true;
        item.id = {target.st_dev, target.st_ino};
      }
    }
    entries.push_back(std::move(item));
  }
  ::closedir(dir);
  return true;
}

void Scan(const std::string& dirName, bool includeSubfolders, const FoundWorkbook& ekle,
          std::vector<FolderId>& beingScanned) {
  FolderId self{};
  std::vector<Entry> entries;
  if (!ReadFolder(dirName, self, entries)) return;
  beingScanned.push_back(self);
  const std::string prefix = dirName.empty() || dirName.back() != '/' ? dirName + '/' : dirName;
  for (const Entry& entry : entries) {
    const std::string path = prefix + entry.name;
    if (!entry.isFolder) {
      if (Destekleniyormu(path)) ekle(path);
    } else if (includeSubfolders && std::find(beingScanned.begin(), beingScanned.end(), entry.id) ==
                                        beingScanned.end()) {
      Scan(path, includeSubfolders, ekle, beingScanned);
    }
  }
  beingScanned.pop_back();
}

}  // namespace

void AddAllFilesInDir(const std::string& dirName, bool includeSubfolders,
                      const FoundWorkbook& ekle) {
  std::vector<FolderId> beingScanned;
  Scan(dirName, includeSubfolders, ekle, beingScanned);
}

std::string ScanningFolderText(std::string_view folder) {
  return "Scanning folder " + std::string(folder) + "...";
}

void AddMyFolder(const std::string& foldername, bool includeSubfolders, const FoundWorkbook& ekle,
                 const std::function<void(const std::string&)>& showStatus) {
  showStatus(ScanningFolderText(foldername));
  AddAllFilesInDir(foldername, includeSubfolders, ekle);
  showStatus(std::string(kFinishedFolderScanText));
}

}  // namespace cellverter
