#pragma once

#include "Platform/FFmpeg/IsoBoxes.h"

#include <cstdint>
#include <map>
#include <vector>

// The samples of a fragmented movie, per track, gathered from the track
// fragment headers (tfhd, tfdt, trun) of every movie fragment in file order,
// with the defaults of the movie's track extends boxes (trex).

namespace Platform::FFmpeg {

struct MovieSample {
  std::uint64_t offset = 0; // absolute position of the sample's data in the file
  std::uint32_t size = 0;
  std::uint32_t duration = 0;
  std::int32_t compositionOffset = 0;
  bool isSync = true;
  std::uint32_t descriptionIndex = 1;
};

struct TrackSamples {
  std::uint64_t firstDecodeTime = 0; // of the first sample, in the track's time scale
  std::vector<MovieSample> samples;
};

class FragmentIndex {
public:
  // `mvex` holds one trex per track; a track without one is refused later.
  explicit FragmentIndex(const Box& mvex);

  // Adds the samples of one moof whose box starts at `moofOffset`.
  void addFragment(Bytes moofPayload, std::uint64_t moofOffset);

  // The samples of a track of the movie; empty when it has none.
  const TrackSamples& track(std::uint32_t trackId) const;

private:
  struct Defaults {
    std::uint32_t descriptionIndex = 1;
    std::uint32_t duration = 0;
    std::uint32_t size = 0;
    std::uint32_t flags = 0;
  };
  struct Track {
    Defaults defaults;
    TrackSamples samples;
    std::uint64_t nextDecodeTime = 0;
  };

  std::uint64_t addTrackFragment(const Box& traf, std::uint64_t moofOffset,
                                 std::uint64_t defaultBase);
  void startAt(Track& track, std::uint64_t decodeTime);

  std::map<std::uint32_t, Track> tracks_;
};

} // namespace Platform::FFmpeg
