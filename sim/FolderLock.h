#pragma once
#include <memory>
#include <string>

namespace corvane::sim {

// An exclusive lock on a decoder's folder for the length of one command: two runs on one
// folder would otherwise each work on their own copy of its files and lose the other's
// changes. It is an flock on FOLDER/.lock, so it goes with the process that holds it, however
// that process ends.
class FolderLock {
 public:
  // Locks FOLDER/.lock, making the folder and the file when missing, and tries again for up
  // to waitMs while another holds it. Null when it cannot: *holder then says who holds it
  // ("pid 1234", or "another process" before that one has written its pid), or stays empty
  // when the lock file itself failed, which *error (when given) says.
  static std::unique_ptr<FolderLock> Take(const std::string& folder, int waitMs,
                                          std::string* holder, std::string* error = nullptr);
  ~FolderLock();  // releases the lock
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  const std::string& path() const { return path_; }

 private:
  FolderLock(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  int fd_;
  std::string path_;
};

}  // namespace corvane::sim
