#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace corvane {

class Host;

// An output file written under a temporary name in the same folder and renamed over the
// chosen name only by Commit(): a failed or aborted transfer leaves the old file as it was.
class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  bool Open(const std::string& path, std::string* error);
  // Buffered; errors surface at Commit.
  void Write(const uint8_t* data, size_t size);
  bool Commit(std::string* error);
  void Discard();
  // Open and no write has failed so far; a caller may stop early instead of at Commit.
  bool ok() const { return file_ != nullptr && !failed_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_, temp_;
  std::FILE* file_ = nullptr;
  bool failed_ = false;
  int errno_ = 0;  // of the first failed write
  std::unique_ptr<char[]> buffer_;
};

// The one wording for an output file that cannot be opened or finished: false after the
// error message.
bool OpenOutput(Host& host, AtomicFile& out, const std::string& path);
bool CommitOutput(Host& host, AtomicFile& out);

// An input file read in order, with its size known up front.
class ImageReader {
 public:
  ImageReader() = default;
  ~ImageReader();
  ImageReader(const ImageReader&) = delete;
  ImageReader& operator=(const ImageReader&) = delete;

  bool Open(const std::string& path, std::string* error);
  uint64_t size() const { return size_; }
  // False at the end of the file or on a read error.
  bool Read(uint8_t* out, size_t count);
  bool Seek(uint64_t offset);
  void Close();

 private:
  std::FILE* file_ = nullptr;
  uint64_t size_ = 0;
  std::unique_ptr<char[]> buffer_;
};

// The folder of the running executable; empty when it cannot be told.
std::string ExecutableFolder();
// The user's data folder for Corvane ($XDG_DATA_HOME/corvane, else ~/.local/share/corvane),
// created when missing.
std::string UserDataFolder();
// The user's configuration folder for Corvane ($XDG_CONFIG_HOME/corvane, else
// ~/.config/corvane); empty when there is no home.
std::string UserConfigFolder();
// mkdir -p; true when the folder exists afterwards.
bool MakeFolders(const std::string& path);

}  // namespace corvane
