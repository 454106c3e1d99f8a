#include "Platform/FFmpeg/OutputFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform::FFmpeg {

namespace {

constexpr int ioBufferSize = 256 * 1024;

std::string systemErrorText(int error) {
  return std::strerror(error);
}

} // namespace

std::string quotedPath(const std::string& path) {
  return "\u201C" + path + "\u201D";
}

std::unique_ptr<OutputFile> OutputFile::create(const std::string& path) {
  // O_EXCL refuses any existing name, a dangling symlink included; O_NOFOLLOW
  // keeps that true on systems where O_EXCL alone would follow one.
  const int descriptor =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (descriptor < 0) {
    const int error = errno;
    if (error == EEXIST || error == ELOOP) {
      throw SystemError(ErrorDomain::mediaWriting, error,
                        "The file " + quotedPath(path) + " already exists.");
    }
    throw SystemError(ErrorDomain::mediaWriting, error,
                      "Could not create the file " + quotedPath(path) + ": " +
                          systemErrorText(error) + ".");
  }
  return std::unique_ptr<OutputFile>(new OutputFile(path, descriptor));
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
  auto* file = static_cast<OutputFile*>(opaque);
  if (whence == AVSEEK_SIZE) {
    struct stat status {};
    return ::fstat(file->descriptor_, &status) == 0 ? status.st_size : AVERROR(errno);
  }
  const off_t position = ::lseek(file->descriptor_, offset, whence & ~AVSEEK_FORCE);
  return position < 0 ? AVERROR(errno) : position;
}

int OutputFile::write(const std::uint8_t* bytes, int size) {
  if (error_) {
    return AVERROR(EIO);
  }
  // A file unlinked while we write would silently swallow the recording.
  struct stat status {};
  if (::fstat(descriptor_, &status) == 0 && status.st_nlink == 0) {
    fail("The file " + quotedPath(path_) + " was removed while it was being written.");
    return AVERROR(ENOENT);
  }
  int remaining = size;
  while (remaining > 0) {
    const ssize_t written = ::write(descriptor_, bytes, static_cast<std::size_t>(remaining));
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      const int error = errno;
      fail("Could not write the file " + quotedPath(path_) + ": " + systemErrorText(error) + ".");
      return AVERROR(error);
    }
    bytes += written;
    remaining -= static_cast<int>(written);
    bytesWritten_ += static_cast<std::uint64_t>(written);
  }
  return size;
}

void OutputFile::fail(const std::string& description) {
  if (!error_) {
    error_ = makeError(ErrorDomain::mediaWriting, EIO, description);
  }
}

void OutputFile::close() {
  if (descriptor_ < 0) {
    return;
  }
  avio_flush(io_.get());
  // A finished recording must survive a power cut, not only a crash.
  if (::fsync(descriptor_) != 0 && errno != EINVAL) {
    const int error = errno;
    fail("Could not write the file " + quotedPath(path_) + ": " + systemErrorText(error) + ".");
  }
  if (::close(descriptor_) != 0 && errno != EINTR) {
    const int error = errno;
    fail("Could not write the file " + quotedPath(path_) + ": " + systemErrorText(error) + ".");
  }
  descriptor_ = -1;
}

void OutputFile::discardIfUnused() {
  if (descriptor_ < 0) {
    return;
  }
  struct stat opened {};
  struct stat named {};
  const bool unused = bytesWritten_ == 0 && io_->buf_ptr == io_->buffer;
  if (unused && ::fstat(descriptor_, &opened) == 0 && ::lstat(path_.c_str(), &named) == 0 &&
      opened.st_dev == named.st_dev && opened.st_ino == named.st_ino) {
    ::unlink(path_.c_str());
  }
  ::close(descriptor_);
  descriptor_ = -1;
}

} // namespace Platform::FFmpeg
