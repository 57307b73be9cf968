#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace corvane {

class Host;

// What Commit does when the chosen name is taken.
enum class Taken {
  Replace,  // the new file replaces it; a symbolic link is written through instead
  Refuse,   // Commit fails with "File exists"
  Number,   // the file gets the first free name of NAME-2.EXT, NAME-3.EXT, ...
};

// An output file written under a temporary name in the folder of the name given and
// published there only by Commit(): a failed or aborted transfer leaves the old file as it
// was. Links are never resolved by the tool: a symbolic link named as the output is opened
// for writing at Commit, so the kernel decides whether it may be followed.
class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  bool Open(const std::string& path, std::string* error, Taken taken = Taken::Replace);
  // Buffered; errors surface at Commit.
  void Write(const uint8_t* data, size_t size);
  bool Commit(std::string* error);
  void Discard();
  // Open and no write has failed so far; a caller may stop early instead of at Commit.
  bool ok() const { return file_ != nullptr && !failed_; }
  // The name the file has, or will have when Commit succeeds.
  const std::string& path() const { return path_; }
  // A failed Commit had already emptied the file a link points to.
  bool emptied() const { return emptied_; }

 private:
  std::string Publish();
  std::string WriteThrough();
  void Close();

  std::string path_, given_, name_, temp_;
  int folder_ = -1;
  int number_ = 1;
  Taken taken_ = Taken::Replace;
  std::FILE* file_ = nullptr;
  bool failed_ = false;
  bool emptied_ = false;
  int errno_ = 0;  // of the first failed write
  std::unique_ptr<char[]> buffer_;
};

// A new empty file ".corvane-XXXXXX" in the folder of path, created exclusively and never
// through a link; its descriptor, or -1 with errno set. *temp gets its path.
int CreateTemporaryBeside(const std::string& path, std::string* temp);

// The one wording for an output file that cannot be opened or finished: false after the
// error message.
bool OpenOutput(Host& host, AtomicFile& out, const std::string& path);
bool CommitOutput(Host& host, AtomicFile& out);

// A file longer than what the command uses may be meant for another model: the user says
// whether only its first `used` bytes are to be written. False after the error message.
bool UseFirstPartOf(Host& host, const std::string& what, const std::string& path,
                    uint64_t size, uint64_t used, const std::string& model);

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

// Why a file of this st_mode is not one to read or write ("it is a pipe (FIFO), not a
// file"); empty for a regular file.
std::string NotAFile(uint32_t mode);

// The folder of the running executable; empty when it cannot be told.
std::string ExecutableFolder();
// The user's data folder for Corvane ($XDG_DATA_HOME/corvane, else ~/.local/share/corvane),
// created when missing; the working folder when the user has no home.
std::string UserDataFolder();
// Now, by strftime's format, in local time or UTC: "%Y%m%d-%H%M%S" gives file names that
// sort by time.
std::string TimeStamp(const char* format, bool utc = false);
// The user's configuration folder for Corvane ($XDG_CONFIG_HOME/corvane, else
// ~/.config/corvane); empty when there is no home.
std::string UserConfigFolder();
// mkdir -p; true when the folder exists afterwards.
bool MakeFolders(const std::string& path);

}  // namespace corvane
