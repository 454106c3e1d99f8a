#include "Platform/FFmpeg/OutputFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform::FFmpeg {

namespace {

// FFmpeg's own buffer only feeds the pending bytes; commits decide when they
// reach the file.
constexpr int ioBufferSize = 64 * 1024;

std::string systemErrorText(int error) {
  return std::strerror(error);
}

} // namespace

std::string quotedPath(const std::string& path) {
  return "\u201C" + path + "\u201D";
}

namespace {

[[noreturn]] void throwCreationError(const std::string& path, int error) {
  if (error == EEXIST || error == ELOOP) {
    throw SystemError(ErrorDomain::mediaWriting, error,
                      "The file " + quotedPath(path) + " already exists.");
  }
  throw SystemError(ErrorDomain::mediaWriting, error,
                    "Could not create the file " + quotedPath(path) + ": " +
                        systemErrorText(error) + ".");
}

} // namespace

std::unique_ptr<OutputFile> OutputFile::create(const std::string& path) {
  // O_EXCL refuses any existing name, a dangling symlink included; O_NOFOLLOW
  // keeps that true on systems where O_EXCL alone would follow one.
  const int descriptor =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (descriptor < 0) {
    throwCreationError(path, errno);
  }
  return std::unique_ptr<OutputFile>(new OutputFile(path, descriptor));
}

void OutputFile::checkCreatable(const std::string& path) {
  struct stat named {};
  if (::lstat(path.c_str(), &named) == 0) {
    throwCreationError(path, EEXIST);
  }
  if (errno != ENOENT) {
    throwCreationError(path, errno);
  }
  const std::size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    throwCreationError(path, errno);
  }
}

OutputFile::OutputFile(std::string path, int descriptor)
    : path_(std::move(path)), descriptor_(descriptor) {
  auto* buffer = static_cast<std::uint8_t*>(av_malloc(ioBufferSize));
  AVIOContext* io = buffer == nullptr
                        ? nullptr
                        : avio_alloc_context(buffer, ioBufferSize, 1, this, nullptr,
                                             &OutputFile::writePacket, &OutputFile::seek);
  if (io == nullptr) {
    av_free(buffer);
    ::close(descriptor_);
    ::unlink(path_.c_str());
    throw SystemError(ErrorDomain::mediaWriting, ENOMEM,
                      "Could not create the file " + quotedPath(path_) + ": out of memory.");
  }
  io->seekable = AVIO_SEEKABLE_NORMAL;
  io_.reset(io);
}

OutputFile::~OutputFile() {
  close();
}

int OutputFile::writePacket(void* opaque, std::uint8_t* bytes, int size) {
  return static_cast<OutputFile*>(opaque)->write(bytes, size);
}

std::int64_t OutputFile::seek(void* opaque, std::int64_t offset, int whence) {
  return static_cast<OutputFile*>(opaque)->seekTo(offset, whence & ~AVSEEK_FORCE);
}

std::int64_t OutputFile::seekTo(std::int64_t offset, int whence) {
  // A seek ends a run of bytes: what came before goes to its own place.
  if (!writePending()) {
    return AVERROR(EIO);
  }
  struct stat status {};
  const std::int64_t size = ::fstat(descriptor_, &status) == 0 ? status.st_size : -1;
  std::int64_t target = -1;
  switch (whence) {
  case AVSEEK_SIZE:
    return size < 0 ? AVERROR(errno) : size;
  case SEEK_SET:
    target = offset;
    break;
  case SEEK_CUR:
    target = static_cast<std::int64_t>(position_) + offset;
    break;
  case SEEK_END:
    target = size < 0 ? -1 : size + offset;
    break;
  default:
    return AVERROR(EINVAL);
  }
  if (target < 0) {
    return AVERROR(EINVAL);
  }
  position_ = static_cast<std::uint64_t>(target);
  return target;
}

int OutputFile::write(const std::uint8_t* bytes, int size) {
  if (error_) {
    return AVERROR(EIO);
  }
  pending_.insert(pending_.end(), bytes, bytes + size);
  return size;
}

bool OutputFile::commit() {
  if (descriptor_ < 0) {
    return !error_;
  }
  avio_flush(io_.get());
  return writePending();
}

bool OutputFile::writePending() {
  if (error_) {
    return false;
  }
  // A file unlinked while we write would silently swallow the recording.
  struct stat status {};
  if (::fstat(descriptor_, &status) == 0 && status.st_nlink == 0) {
    fail(ENOENT, "The file " + quotedPath(path_) + " was removed while it was being written.");
    return false;
  }
  std::size_t done = 0;
  while (done < pending_.size()) {
    const ssize_t written = ::pwrite(descriptor_, pending_.data() + done, pending_.size() - done,
                                     static_cast<off_t>(position_ + done));
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      const int error = errno;
      fail(error,
           "Could not write the file " + quotedPath(path_) + ": " + systemErrorText(error) + ".");
      // Whatever part of the commit did land is a torn fragment: take it off.
      static_cast<void>(::ftruncate(descriptor_, static_cast<off_t>(committedSize_)));
      return false;
    }
    done += static_cast<std::size_t>(written);
  }
  position_ += pending_.size();
  bytesWritten_ += pending_.size();
  committedSize_ = std::max(committedSize_, position_);
  pending_.clear();
  return true;
}

void OutputFile::fail(int code, const std::string& description) {
  if (!error_) {
    error_ = makeError(ErrorDomain::mediaWriting, code, description);
  }
}

void OutputFile::close() {
  if (descriptor_ < 0) {
    return;
  }
  commit();
  // A finished recording must survive a power cut, not only a crash.
  if (!error_ && ::fsync(descriptor_) != 0 && errno != EINVAL) {
    const int error = errno;
    fail(error,
         "Could not write the file " + quotedPath(path_) + ": " + systemErrorText(error) + ".");
  }
  if (::close(descriptor_) != 0 && errno != EINTR) {
    const int error = errno;
    fail(error,
         "Could not write the file " + quotedPath(path_) + ": " + systemErrorText(error) + ".");
  }
  descriptor_ = -1;
}

void OutputFile::discardIfUnused() {
  if (descriptor_ < 0) {
    return;
  }
  struct stat opened {};
  struct stat named {};
  const bool unused = bytesWritten_ == 0 && pending_.empty() && io_->buf_ptr == io_->buffer;
  if (unused && ::fstat(descriptor_, &opened) == 0 && ::lstat(path_.c_str(), &named) == 0 &&
      opened.st_dev == named.st_dev && opened.st_ino == named.st_ino) {
    ::unlink(path_.c_str());
  }
  ::close(descriptor_);
  descriptor_ = -1;
}

} // namespace Platform::FFmpeg
