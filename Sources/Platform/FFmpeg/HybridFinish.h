#pragma once

#include "Platform/Error.h"
#include "Platform/FFmpeg/IsoBoxes.h"

#include <cstdint>
#include <string>
#include <vector>

// Turns a finished fragmented movie (ftyp, a moov with mvex, moof and mdat
// pairs, perhaps an mfra) into a plain one in place, without moving any
// media:
//
//   1. a complete moov indexing every sample where it lies is appended,
//      wrapped in a free box (the mfra, if last, is cut off first);
//   2. one 16-byte write over the start of the fragmented moov opens a
//      single mdat that runs from there to the complete moov, so the old
//      moov, every moof and the free wrapper become opaque media payload.
//
// Until the second step lands the file is the fragmented movie it was (the
// appended box is one every reader skips); after it, a plain movie whose
// top-level boxes are ftyp, free or nothing, mdat and moov. A kill at any
// instant leaves one of the two. The time taken grows only with the size
// of the index, not with the media.

namespace Platform::FFmpeg {

// Finishes the fragmented movie at `path`. Returns null on success; on an
// error the file is left a valid fragmented movie.
ErrorRef finishFragmentedMovie(const std::string& path);

// The two steps, apart, so that the state between them can be examined.
// Threads: not thread-safe; one finish per file.
class FragmentedMovieFile {
public:
  // Opens and indexes the file. Throws Platform::SystemError when it cannot
  // be read or is not a complete fragmented movie.
  explicit FragmentedMovieFile(const std::string& path);
  ~FragmentedMovieFile();
  FragmentedMovieFile(const FragmentedMovieFile&) = delete;
  FragmentedMovieFile& operator=(const FragmentedMovieFile&) = delete;

  // Step 1; throws Platform::SystemError, after cutting the file back.
  void appendCompleteIndex();
  // Step 2; throws Platform::SystemError, after putting the header back.
  void revealPlainMovie();

private:
  [[noreturn]] void failWithSystemError(const std::string& action, int error) const;
  std::vector<std::uint8_t> readAt(std::uint64_t offset, std::uint64_t size) const;
  void writeAt(std::uint64_t offset, Bytes bytes) const;
  void sync() const;
  void index();

  std::string path_;
  int descriptor_ = -1;
  std::uint64_t moovOffset_ = 0;  // the fragmented moov
  std::uint64_t indexOffset_ = 0; // where the complete moov's free wrapper goes
  std::vector<std::uint8_t> completeMoov_;
  bool indexAppended_ = false;
};

} // namespace Platform::FFmpeg
