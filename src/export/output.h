// Where a report's bytes go: a file written through a temporary file in the
// destination's folder and renamed into place only when complete, a memory
// buffer (clipboard, tests), or an open stream such as standard output. Also
// the file-name rules of the destination.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "export/removeonstop.h"

namespace quorvel {

class TByteSink {
 public:
  virtual ~TByteSink() = default;
  // Appends bytes; false once anything failed (the reason is in Error()).
  virtual bool Write(std::string_view bytes) = 0;
  // Completes the output (flush, rename into place); false on failure.
  virtual bool Commit() = 0;
  const std::string& Error() const { return error_; }

 protected:
  std::string error_;
};

// Collects everything in memory.
class TStringSink : public TByteSink {
 public:
  bool Write(std::string_view bytes) override {
    data_.append(bytes);
    return true;
  }
  bool Commit() override { return true; }
  // Makes room for about `bytes` in one piece, so that a large text is not
  // copied again each time it grows.
  void Reserve(std::size_t bytes) { data_.reserve(bytes); }
  const std::string& Data() const { return data_; }
  std::string Take() { return std::move(data_); }

 private:
  std::string data_;
};

// Buffered writes to a stream the caller owns (not closed here).
class TStreamSink : public TByteSink {
 public:
  explicit TStreamSink(std::FILE* stream) : stream_(stream) {}
  bool Write(std::string_view bytes) override;
  bool Commit() override;

 private:
  std::FILE* stream_;
  bool failed_ = false;
};

// Writes `path` atomically: the bytes go to a hidden temporary file beside it,
// which replaces `path` only in Commit. Destroying an uncommitted sink removes
// the temporary file, so a failed write never leaves a half-written report.
// Where the folder takes no new files but `path` exists and is writable, the
// temporary file is made in the temporary folder ($TMPDIR, else /tmp) instead
// and Commit copies the finished report over `path` in one pass. That copy
// starts only once room for the whole report is reserved in place (space
// and quota, without changing the old report); otherwise Commit fails with
// the reason (No space left on device, Disk quota exceeded) and `path` is
// left as it was.
// The temporary file is registered for
// removal should a signal stop the program (export/removeonstop.h), and the
// copy over `path` holds those signals until it is done. A Commit that finds
// a stop signal held back by another thread fails and leaves `path` alone.
class TAtomicFileSink : public TByteSink {
 public:
  explicit TAtomicFileSink(std::string path);
  ~TAtomicFileSink() override;
  TAtomicFileSink(const TAtomicFileSink&) = delete;
  TAtomicFileSink& operator=(const TAtomicFileSink&) = delete;
  bool Write(std::string_view bytes) override;
  bool Commit() override;
  bool Opened() const { return fd_ >= 0; }

 private:
  bool Flush();
  bool CopyOver();
  void Fail(int err);
  std::string path_;
  std::string temp_;
  std::string buffer_;
  int fd_ = -1;
  bool failed_ = false;
  bool committed_ = false;
  bool overwrite_ = false;                       // Commit copies over `path_` instead of renaming
  std::unique_ptr<TRemoveOnStop> removeOnStop_;  // temp_, while it exists
};

// The folder for temporary files: $TMPDIR when set and not empty, else /tmp.
std::string TemporaryFolder();

// Writes one whole file atomically; on failure `error` holds the reason.
bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string& error);

// Lines of text: each added line is split at CR LF, CR or LF and every piece
// goes out followed by CR LF.
class TLineWriter {
 public:
  explicit TLineWriter(TByteSink& sink) : sink_(sink) {}
  void Add(std::string_view text);
  // Adds a line whose line breaks stay as they are (quoted CSV cells).
  void AddVerbatim(std::string_view text);
  void Flush();
  bool Ok() const { return ok_; }

 private:
  void Put(std::string_view piece);
  TByteSink& sink_;
  std::string buffer_;
  bool ok_ = true;
};

// The extension part of a file name (without the dot), empty when none.
std::string_view FileExtension(std::string_view path);
// `path` with its extension replaced by "." + ext (appended when it has none).
std::string ChangeFileExt(std::string_view path, std::string_view ext);
// The destination for a chosen name: the name kept as it is when it already ends
// in the extension (any case), otherwise the extension replaced by the lower-case
// form of `ext`.
std::string DestinationName(std::string_view chosen, std::string_view ext);
// A name that does not exist in `folder`: "YOX" + n in hexadecimal, with the
// extension `ext` in lower case, for the first free n = 1, 2, ...
std::string TemporaryReportName(std::string_view folder, std::string_view ext);
bool FileExists(const std::string& path);

}  // namespace quorvel
