#pragma once

#include "Platform/Error.h"
#include "Platform/FFmpeg/LibavHandles.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The destination of a writer: a file this process created itself, never an
// existing one, written through an FFmpeg I/O context on its descriptor so
// that libavformat never opens the path.
//
// Bytes reach the file only in commits: the muxer commits after each whole
// fragment, and a commit is one write where the system allows it. A commit
// that fails (a full disk) cuts the file back to the end of the last one, so
// what stays on disk is whole fragments only, and every later write fails.
//
// Threads: not thread-safe. The muxer that owns it calls it under its lock.

namespace Platform::FFmpeg {

class OutputFile {
public:
  // Creates `path` exclusively. Throws Platform::SystemError naming the path
  // when it exists (a symlink included) or cannot be created.
  static std::unique_ptr<OutputFile> create(const std::string& path);
  // Throws as create would for a name that exists or a folder that does not
  // take files, and creates nothing: the name is taken only once there is
  // something to write (a start may wait on the user for minutes).
  static void checkCreatable(const std::string& path);

  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  const std::string& path() const { return path_; }
  AVIOContext* io() const { return io_.get(); }
  // The first write failure, or null.
  const ErrorRef& error() const { return error_; }
  // Where the committed bytes end.
  std::uint64_t committedSize() const { return committedSize_; }

  // Flushes the I/O context and writes what it wrote since the last commit;
  // false (with error() set and the file cut back) when that fails.
  bool commit();
  // Commits, syncs and closes the descriptor. Records a failure in error();
  // later calls do nothing.
  void close();
  // Removes the file when nothing was ever written to it and the path still
  // names it, then closes: a writer that never started leaves nothing behind.
  void discardIfUnused();

private:
  OutputFile(std::string path, int descriptor);
  static int writePacket(void* opaque, std::uint8_t* bytes, int size);
  static std::int64_t seek(void* opaque, std::int64_t offset, int whence);
  int write(const std::uint8_t* bytes, int size);
  std::int64_t seekTo(std::int64_t offset, int whence);
  bool writePending();
  // Keeps the first failure, with its errno value as code.
  void fail(int code, const std::string& description);

  std::string path_;
  int descriptor_;
  IOContextPtr io_;
  std::vector<std::uint8_t> pending_; // written by FFmpeg, not yet committed
  std::uint64_t position_ = 0;        // where pending_ goes in the file
  std::uint64_t committedSize_ = 0;
  std::uint64_t bytesWritten_ = 0;
  ErrorRef error_;
};

// "“path”", the way messages quote a file.
std::string quotedPath(const std::string& path);

} // namespace Platform::FFmpeg
