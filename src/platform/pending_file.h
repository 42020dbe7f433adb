#pragma once

#include <string>
#include <string_view>

namespace cellverter {

// A new file that appears complete under its name or not at all. Publish() never replaces
// anything; Replace() puts the file in the place of an existing one. Its bytes go into an unnamed
// file (O_TMPFILE) in the folder that will hold it; Publish() makes them durable and links the file
// under its name. Until then the file has no name, so nothing of it outlives its process, not even
// one killed with SIGKILL.
//
// File systems without unnamed files get a hidden temporary name in the folder instead
// (".cellverter-XXXXXX", short, so that every legal final name stays writable), which
// only a killed process can leave behind.
//
// Errors are errno values: only the caller knows what the file is for, so it words the
// message.
class PendingFile {
 public:
  enum class Method {
    kUnnamed,     // an unnamed file where the file system has them, else a hidden name
    kHiddenName,  // always a hidden name, as file systems without unnamed files get
  };

  // Whether Publish() and Replace() flush the data to disk before the file gets its name. A
  // file that only passes through (read back and removed at once) need not wait for the disk.
  enum class Durability { kDurable, kPassing };

  explicit PendingFile(Method method = Method::kUnnamed,
                       Durability durability = Durability::kDurable)
      : method_(method), durability_(durability) {}
  // Removes the file unless it was published.
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Creates the file in `folder` ("" is the working folder) with the mode a plain creation
  // gets: `mode` less the umask. Returns 0 or the errno.
  int Create(const std::string& folder, unsigned mode = 0666);

  // Appends all of `bytes`. Returns 0 or the errno.
  int Write(std::string_view bytes);

  // Flushes the data to disk and gives the file the name `path` (in the folder given to
  // Create) unless something of that name exists: any directory entry, a dangling symbolic
  // link included. Returns 0, or the errno with the file still pending: EEXIST when the
  // name is taken, so that the caller can try another one.
  int Publish(const std::string& path);

  // Flushes the data to disk and renames the file over `path` (in the folder given to
  // Create), so that a reader sees the old file or the new one, never a part. A regular
  // file at `path` hands its permission bits on. The rename is made durable too. Needs a
  // hidden name (Method::kHiddenName): an unnamed file cannot replace anything. Returns 0,
  // or the errno with the file discarded.
  int Replace(const std::string& path);

  // The hidden temporary name the file has while pending; empty for an unnamed file.
  const std::string& HiddenPath() const { return hiddenPath_; }

 private:
  int Sync();
  int CreateUnnamed(const std::string& folder, unsigned mode);
  int CreateHidden(const std::string& folder, unsigned mode);
  void Discard();

  Method method_;
  Durability durability_;
  int fd_ = -1;
  bool synced_ = false;
  bool published_ = false;
  std::string hiddenPath_;
};

}  // namespace cellverter
