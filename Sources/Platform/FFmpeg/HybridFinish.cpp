#include "Platform/FFmpeg/HybridFinish.h"

#include "Platform/FFmpeg/CompleteMovieHeader.h"
#include "Platform/FFmpeg/FragmentIndex.h"
#include "Platform/FFmpeg/OutputFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform::FFmpeg {

namespace {

constexpr std::uint64_t largestPlainBoxSize = std::numeric_limits<std::uint32_t>::max();

void putBigEndian(std::vector<std::uint8_t>& bytes, std::uint64_t value, int width) {
  for (int shift = (width - 1) * 8; shift >= 0; shift -= 8) {
    bytes.push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

// A box header of `type` for a box of `size` bytes, header included; the
// 64-bit form only when the size needs it.
std::vector<std::uint8_t> boxHeader(std::uint32_t type, std::uint64_t size) {
  std::vector<std::uint8_t> header;
  if (size <= largestPlainBoxSize) {
    putBigEndian(header, size, 4);
    putBigEndian(header, type, 4);
  } else {
    putBigEndian(header, 1, 4);
    putBigEndian(header, type, 4);
    putBigEndian(header, size, 8);
  }
  return header;
}

} // namespace

FragmentedMovieFile::FragmentedMovieFile(const std::string& path) : path_(path) {
  descriptor_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (descriptor_ < 0) {
    failWithSystemError("open", errno);
  }
  index();
}

FragmentedMovieFile::~FragmentedMovieFile() {
  if (descriptor_ >= 0) {
    ::close(descriptor_);
  }
}

void FragmentedMovieFile::failWithSystemError(const std::string& action, int error) const {
  throw SystemError(ErrorDomain::mediaWriting, error,
                    "Could not " + action + " the file " + quotedPath(path_) + ": " +
                        std::strerror(error) + ".");
}

std::vector<std::uint8_t> FragmentedMovieFile::readAt(std::uint64_t offset,
                                                      std::uint64_t size) const {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t count = ::pread(descriptor_, bytes.data() + done, bytes.size() - done,
                                  static_cast<off_t>(offset + done));
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count < 0) {
      failWithSystemError("read", errno);
    }
    if (count == 0) {
      throw MalformedMovie("the file ends inside a box");
    }
    done += static_cast<std::size_t>(count);
  }
  return bytes;
}

void FragmentedMovieFile::writeAt(std::uint64_t offset, Bytes bytes) const {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t count = ::pwrite(descriptor_, bytes.data() + done, bytes.size() - done,
                                   static_cast<off_t>(offset + done));
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count < 0) {
      failWithSystemError("write", errno);
    }
    done += static_cast<std::size_t>(count);
  }
}

void FragmentedMovieFile::sync() const {
  if (::fsync(descriptor_) != 0 && errno != EINVAL) {
    failWithSystemError("write", errno);
  }
}

// Walks the top-level boxes: the fragmented moov first, then every moof,
// whose samples the index gathers; a movie fragment random access box at
// the end is dropped by the finish (it would point into the old layout).
void FragmentedMovieFile::index() {
  struct stat status {};
  if (::fstat(descriptor_, &status) != 0) {
    failWithSystemError("read", errno);
  }
  const auto fileSize = static_cast<std::uint64_t>(status.st_size);
  std::vector<std::uint8_t> moov;
  std::optional<FragmentIndex> fragments;
  std::uint64_t offset = 0;
  std::uint64_t mfraOffset = 0;
  bool sawMfra = false;
  while (offset < fileSize) {
    const std::vector<std::uint8_t> headerBytes =
        readAt(offset, std::min<std::uint64_t>(16, fileSize - offset));
    const BoxHeader header = readBoxHeader(headerBytes, fileSize - offset);
    sawMfra = header.type == boxType("mfra");
    mfraOffset = offset;
    if (header.type == boxType("moov")) {
      if (fragments) {
        throw MalformedMovie("the file has more than one 'moov'");
      }
      moovOffset_ = offset;
      moov = readAt(offset, header.size);
      const Box whole = readBoxes(moov).front();
      fragments.emplace(requireBox(readBoxes(whole.payload), boxType("mvex"), "moov"));
    } else if (header.type == boxType("moof")) {
      if (!fragments) {
        throw MalformedMovie("a 'moof' comes before the 'moov'");
      }
      const std::vector<std::uint8_t> moof = readAt(offset, header.size);
      fragments->addFragment(Bytes(moof).subspan(header.headerSize), offset);
    }
    offset += header.size;
  }
  if (!fragments) {
    throw MalformedMovie("the file has no 'moov'");
  }
  indexOffset_ = sawMfra ? mfraOffset : fileSize;
  completeMoov_ = buildCompleteMovieHeader(moov, *fragments);
}

void FragmentedMovieFile::appendCompleteIndex() {
  std::vector<std::uint8_t> wrapped = boxHeader(boxType("free"), 8 + completeMoov_.size());
  if (wrapped.size() != 8) {
    throw MalformedMovie("the index would exceed 4 GiB");
  }
  wrapped.insert(wrapped.end(), completeMoov_.begin(), completeMoov_.end());
  try {
    if (::ftruncate(descriptor_, static_cast<off_t>(indexOffset_)) != 0) {
      failWithSystemError("write", errno);
    }
    writeAt(indexOffset_, wrapped);
    sync();
  } catch (...) {
    // What did land is a box readers skip, or a torn one: take it off.
    static_cast<void>(::ftruncate(descriptor_, static_cast<off_t>(indexOffset_)));
    throw;
  }
  indexAppended_ = true;
}

void FragmentedMovieFile::revealPlainMovie() {
  if (!indexAppended_) {
    throw MalformedMovie("the complete index is not in the file yet");
  }
  // The old moov's first bytes become the header of one mdat reaching up to
  // the complete moov, which the free box's own header then precedes inside
  // the mdat. The old moov is far larger than the 16 bytes this writes.
  const std::uint64_t completeMoovOffset = indexOffset_ + 8;
  const std::vector<std::uint8_t> mdat =
      boxHeader(boxType("mdat"), completeMoovOffset - moovOffset_);
  const std::vector<std::uint8_t> before = readAt(moovOffset_, mdat.size());
  try {
    writeAt(moovOffset_, mdat);
    sync();
  } catch (...) {
    static_cast<void>(
        ::pwrite(descriptor_, before.data(), before.size(), static_cast<off_t>(moovOffset_)));
    throw;
  }
}

ErrorRef finishFragmentedMovie(const std::string& path) {
  try {
    FragmentedMovieFile file(path);
    file.appendCompleteIndex();
    file.revealPlainMovie();
    return nullptr;
  } catch (const SystemError& error) {
    return std::make_shared<SystemError>(error);
  } catch (const MalformedMovie& error) {
    return makeError(ErrorDomain::mediaWriting, EINVAL,
                     "Could not index the file " + quotedPath(path) + ": " + error.what() + ".");
  }
}

} // namespace Platform::FFmpeg
