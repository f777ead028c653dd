#include "export/output.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "export/textcodec.h"

namespace quorvel {
namespace {

constexpr std::size_t kBufferSize = 1 << 20;

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A regular file this process may write to.
bool WritableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), W_OK) == 0;
}

std::string BaseOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Writes all `size` bytes to `fd`, retrying interrupted and short writes.
// 0 when done, else the error number of the write that failed.
int WriteAll(int fd, const char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

// Makes sure that `size` bytes can be written over the start of the open
// file `fd` without running out of room: 0 when they can, else the error
// number writing them would meet (ENOSPC without the space, EDQUOT beyond
// the quota). The room is reserved beyond the file's end without changing
// its size or contents; where the file system cannot reserve room, its free
// space is compared with what the file lacks. (The file size limit needs no
// check: the finished temporary file of the same size was within it.)
int ReserveInPlace(int fd, off_t size) {
  if (size == 0) return 0;
  int rc;
  do rc = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size);
  while (rc != 0 && errno == EINTR);
  if (rc == 0) return 0;
  if (errno != EOPNOTSUPP && errno != ENOSYS) return errno;
  struct stat st {};
  struct statvfs fs {};
  if (::fstat(fd, &st) != 0 || ::fstatvfs(fd, &fs) != 0) return errno;
  const auto have = static_cast<uint64_t>(st.st_blocks) * 512;
  const auto want = static_cast<uint64_t>(size);
  const uint64_t lacking = want > have ? want - have : 0;
  return lacking > static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize ? ENOSPC : 0;
}

}  // namespace

bool TStreamSink::Write(std::string_view bytes) {
  if (failed_) return false;
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), stream_) != bytes.size()) {
    failed_ = true;
    error_ = std::strerror(errno);
  }
  return !failed_;
}

bool TStreamSink::Commit() {
  if (!failed_ && std::fflush(stream_) != 0) {
    failed_ = true;
    error_ = std::strerror(errno);
  }
  return !failed_;
}

TAtomicFileSink::TAtomicFileSink(std::string path) : path_(std::move(path)) {
  // A report saved over a symbolic link replaces the file the link points to,
  // not the link itself.
  std::error_code ec;
  if (std::filesystem::is_symlink(path_, ec)) {
    const std::filesystem::path target = std::filesystem::weakly_canonical(path_, ec);
    if (!ec) path_ = target.string();
  }
  // A signal that stops the program finds the temporary file registered
  // from the moment it exists.
  auto makeTemp = [this](const std::string& folder) {
    THoldStopSignals hold;
    temp_ = folder + "/." + BaseOf(path_) + ".XXXXXX";
    fd_ = ::mkstemp(temp_.data());
    const int made = errno;
    if (fd_ >= 0) removeOnStop_ = std::make_unique<TRemoveOnStop>(temp_);
    return made;
  };
  const int made = makeTemp(FolderOf(path_));
  if (fd_ < 0 && (made == EACCES || made == EPERM || made == EROFS) && WritableFile(path_)) {
    // The folder takes no new files but the report itself may be written:
    // complete the report in the temporary folder, then copy it over the
    // existing file in Commit.
    makeTemp(TemporaryFolder());
    if (fd_ >= 0) {
      overwrite_ = true;
      buffer_.reserve(kBufferSize);
      return;
    }
  }
  if (fd_ < 0) {
    Fail(made);  // the reason the destination's folder gave
    temp_.clear();
    return;
  }
  // A replaced report keeps its permissions; a new one gets the usual ones.
  struct stat st {};
  mode_t mode;
  if (::stat(path_.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  ::fchmod(fd_, mode);
  buffer_.reserve(kBufferSize);
}

TAtomicFileSink::~TAtomicFileSink() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
}

void TAtomicFileSink::Fail(int err) {
  if (!failed_) error_ = std::strerror(err);
  failed_ = true;
}

bool TAtomicFileSink::Flush() {
  if (!failed_)
    if (const int err = WriteAll(fd_, buffer_.data(), buffer_.size())) Fail(err);
  buffer_.clear();
  return !failed_;
}

bool TAtomicFileSink::Write(std::string_view bytes) {
  if (failed_ || fd_ < 0) return false;
  if (buffer_.size() + bytes.size() > kBufferSize) {
    if (!Flush()) return false;
    if (bytes.size() >= kBufferSize) {
      buffer_.assign(bytes);
      return Flush();
    }
  }
  buffer_.append(bytes);
  return true;
}

bool TAtomicFileSink::Commit() {
  if (failed_ || fd_ < 0) return false;
  if (!Flush()) return false;
  // A copy made in the temporary folder is synced where it lands, in CopyOver.
  if (!overwrite_ && ::fsync(fd_) != 0 && errno != EINVAL) Fail(errno);
  if (!overwrite_) {
    if (::close(fd_) != 0 && !failed_) Fail(errno);
    fd_ = -1;
  }
  if (failed_) return false;
  if (overwrite_) return CopyOver();
  // Another thread may hold a stop signal back (a snapshot being kept): a
  // program that is stopping leaves the destination as it was.
  THoldStopSignals hold;
  if (StopRequested()) {
    Fail(EINTR);
    return false;
  }
  if (::rename(temp_.c_str(), path_.c_str()) != 0) {
    Fail(errno);
    return false;
  }
  committed_ = true;
  removeOnStop_.reset();
  return true;
}

bool TAtomicFileSink::CopyOver() {
  // The finished copy goes over the existing report; the temporary file is
  // removed by the destructor whatever happens. The report is only touched
  // once room for the whole of it is reserved, so that a full disk, a quota
  // or a file size limit fails the report before anything is changed. A
  // signal that would stop the program waits until the copy is whole.
  THoldStopSignals hold;
  if (StopRequested()) {
    Fail(EINTR);
    return false;
  }
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    Fail(errno);
    return false;
  }
  const int out = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
  if (out < 0) {
    Fail(errno);
    return false;
  }
  if (const int err = ReserveInPlace(out, st.st_size)) {
    error_ = std::string(std::strerror(err)) + ": the folder takes no new files, so the report " +
             "can only replace the old one in place, and the whole of it (" +
             std::to_string(st.st_size) + " bytes) does not fit; the old report is kept";
    failed_ = true;
    ::close(out);
    return false;
  }
  if (::lseek(fd_, 0, SEEK_SET) != 0) Fail(errno);
  // The write buffer, empty after the last Flush, carries the chunks.
  buffer_.resize(kBufferSize);
  while (!failed_) {
    const ssize_t n = ::read(fd_, buffer_.data(), buffer_.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail(errno);
    if (n <= 0) break;
    if (const int err = WriteAll(out, buffer_.data(), static_cast<std::size_t>(n))) Fail(err);
  }
  buffer_.clear();
  // A shorter report than the old one ends where it ends.
  if (!failed_ && ::ftruncate(out, st.st_size) != 0) Fail(errno);
  if (!failed_ && ::fsync(out) != 0 && errno != EINVAL) Fail(errno);
  if (::close(out) != 0 && !failed_) Fail(errno);
  ::close(fd_);
  fd_ = -1;
  return !failed_;
}

std::string TemporaryFolder() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string& error) {
  TAtomicFileSink sink(path);
  const bool ok = sink.Write(bytes) && sink.Commit();
  if (!ok) error = sink.Error();
  return ok;
}

void TLineWriter::Put(std::string_view piece) {
  buffer_.append(piece);
  buffer_ += "\r\n";
  if (buffer_.size() >= kBufferSize) Flush();
}

void TLineWriter::Add(std::string_view text) {
  std::size_t start = 0;
  const std::size_t n = text.size();
  std::size_t i = text.find_first_of("\r\n");
  if (i == std::string_view::npos) {
    Put(text);
    return;
  }
  while (i != std::string_view::npos) {
    Put(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
    start = i + 1;
    i = text.find_first_of("\r\n", start);
  }
  // A text ending in a line break gives no extra empty line.
  if (start < n) Put(text.substr(start));
}

void TLineWriter::AddVerbatim(std::string_view text) {
  Put(text);
}

void TLineWriter::Flush() {
  if (!buffer_.empty()) {
    if (!sink_.Write(buffer_)) ok_ = false;
    buffer_.clear();
  }
}

std::string_view FileExtension(std::string_view path) {
  const auto slash = path.rfind('/');
  const auto dot = path.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
  return path.substr(dot + 1);
}

std::string ChangeFileExt(std::string_view path, std::string_view ext) {
  const auto slash = path.rfind('/');
  auto dot = path.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
    dot = path.size();
  std::string r(path.substr(0, dot));
  r += '.';
  r += ext;
  return r;
}

std::string DestinationName(std::string_view chosen, std::string_view ext) {
  const std::string_view current = FileExtension(chosen);
  if (!current.empty() && EqualsNoCase(current, ext)) return std::string(chosen);
  return ChangeFileExt(chosen, AsciiLower(ext));
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::string TemporaryReportName(std::string_view folder, std::string_view ext) {
  std::string dir(folder);
  if (!dir.empty() && dir.back() != '/') dir += '/';
  char hex[16];
  for (unsigned n = 1; n <= 0xFFFF; ++n) {
    std::snprintf(hex, sizeof hex, "%X", n);
    const std::string name = ChangeFileExt(dir + "YOX" + hex + ".TMP", AsciiLower(ext));
    if (!FileExists(name)) return name;
  }
  return {};
}

}  // namespace quorvel
