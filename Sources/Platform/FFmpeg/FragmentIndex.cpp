#include "Platform/FFmpeg/FragmentIndex.h"

#include <limits>

namespace Platform::FFmpeg {

namespace {

// tfhd flags
constexpr std::uint32_t baseDataOffsetPresent = 0x000001;
constexpr std::uint32_t descriptionIndexPresent = 0x000002;
constexpr std::uint32_t defaultDurationPresent = 0x000008;
constexpr std::uint32_t defaultSizePresent = 0x000010;
constexpr std::uint32_t defaultFlagsPresent = 0x000020;
constexpr std::uint32_t defaultBaseIsMoof = 0x020000;
// trun flags
constexpr std::uint32_t dataOffsetPresent = 0x000001;
constexpr std::uint32_t firstSampleFlagsPresent = 0x000004;
constexpr std::uint32_t durationPresent = 0x000100;
constexpr std::uint32_t sizePresent = 0x000200;
constexpr std::uint32_t flagsPresent = 0x000400;
constexpr std::uint32_t compositionOffsetPresent = 0x000800;
// sample flags
constexpr std::uint32_t sampleIsNonSync = 0x00010000;

std::uint64_t checkedAdd(std::uint64_t a, std::uint64_t b) {
  if (a > std::numeric_limits<std::uint64_t>::max() - b) {
    throw MalformedMovie("a sample lies beyond any possible file size");
  }
  return a + b;
}

} // namespace

FragmentIndex::FragmentIndex(const Box& mvex) {
  for (const Box& box : readBoxes(mvex.payload)) {
    if (box.type != boxType("trex")) {
      continue;
    }
    ByteReader reader(box.payload);
    reader.skip(4);
    const std::uint32_t trackId = reader.u32();
    Defaults& defaults = tracks_[trackId].defaults;
    defaults.descriptionIndex = reader.u32();
    defaults.duration = reader.u32();
    defaults.size = reader.u32();
    defaults.flags = reader.u32();
  }
}

const TrackSamples& FragmentIndex::track(std::uint32_t trackId) const {
  static const TrackSamples none;
  const auto found = tracks_.find(trackId);
  return found == tracks_.end() ? none : found->second.samples;
}

void FragmentIndex::addFragment(Bytes moofPayload, std::uint64_t moofOffset) {
  // Without an explicit base, the first track fragment's data is addressed
  // from the moof, each later one's from the end of the previous one's data.
  std::uint64_t base = moofOffset;
  for (const Box& box : readBoxes(moofPayload)) {
    if (box.type == boxType("traf")) {
      base = addTrackFragment(box, moofOffset, base);
    }
  }
}

void FragmentIndex::startAt(Track& track, std::uint64_t decodeTime) {
  auto& samples = track.samples.samples;
  if (samples.empty()) {
    track.samples.firstDecodeTime = decodeTime;
  } else if (decodeTime != track.nextDecodeTime) {
    // A plain movie has no decode times of its own, only durations: the last
    // sample before the fragment stretches or shrinks to meet it.
    const std::uint64_t lastStart = track.nextDecodeTime - samples.back().duration;
    if (decodeTime <= lastStart ||
        decodeTime - lastStart > std::numeric_limits<std::uint32_t>::max()) {
      throw MalformedMovie("decode times of a track go backwards between fragments");
    }
    samples.back().duration = static_cast<std::uint32_t>(decodeTime - lastStart);
  }
  track.nextDecodeTime = decodeTime;
}

std::uint64_t FragmentIndex::addTrackFragment(const Box& traf, std::uint64_t moofOffset,
                                              std::uint64_t defaultBase) {
  const std::vector<Box> boxes = readBoxes(traf.payload);
  ByteReader header(requireBox(boxes, boxType("tfhd"), "traf").payload);
  const std::uint32_t headerFlags = header.u32() & 0xffffff;
  const std::uint32_t trackId = header.u32();
  const auto found = tracks_.find(trackId);
  if (found == tracks_.end()) {
    throw MalformedMovie("a fragment names track " + std::to_string(trackId) +
                         ", which the movie does not extend");
  }
  Track& track = found->second;
  Defaults defaults = track.defaults;
  std::uint64_t base = (headerFlags & defaultBaseIsMoof) ? moofOffset : defaultBase;
  if (headerFlags & baseDataOffsetPresent) {
    base = header.u64();
  }
  if (headerFlags & descriptionIndexPresent) {
    defaults.descriptionIndex = header.u32();
  }
  if (headerFlags & defaultDurationPresent) {
    defaults.duration = header.u32();
  }
  if (headerFlags & defaultSizePresent) {
    defaults.size = header.u32();
  }
  if (headerFlags & defaultFlagsPresent) {
    defaults.flags = header.u32();
  }

  if (const Box* tfdt = findBox(boxes, boxType("tfdt"))) {
    ByteReader reader(tfdt->payload);
    const std::uint8_t version = reader.u8();
    reader.skip(3);
    startAt(track, version == 1 ? reader.u64() : reader.u32());
  }

  std::uint64_t dataEnd = base;
  for (const Box& box : boxes) {
    if (box.type != boxType("trun")) {
      continue;
    }
    ByteReader run(box.payload);
    const std::uint8_t version = run.u8();
    const std::uint32_t flags = (static_cast<std::uint32_t>(run.u8()) << 16) | run.u16();
    const std::uint32_t count = run.u32();
    std::uint64_t offset = dataEnd;
    if (flags & dataOffsetPresent) {
      const auto relative = static_cast<std::int32_t>(run.u32());
      if (relative < 0 && static_cast<std::uint64_t>(-static_cast<std::int64_t>(relative)) > base) {
        throw MalformedMovie("a track run starts before the file");
      }
      offset = relative < 0
                   ? base - static_cast<std::uint64_t>(-static_cast<std::int64_t>(relative))
                   : base + static_cast<std::uint64_t>(relative);
    }
    const std::uint32_t firstFlags = (flags & firstSampleFlagsPresent) ? run.u32() : defaults.flags;
    const std::size_t fieldsPerSample = static_cast<std::size_t>(
        ((flags & durationPresent) != 0) + ((flags & sizePresent) != 0) +
        ((flags & flagsPresent) != 0) + ((flags & compositionOffsetPresent) != 0));
    if (static_cast<std::uint64_t>(count) * fieldsPerSample * 4 > run.remaining()) {
      throw MalformedMovie("a track run lists more samples than it holds");
    }
    auto& samples = track.samples.samples;
    if (samples.empty() && count > 0 && !findBox(boxes, boxType("tfdt"))) {
      startAt(track, 0);
    }
    samples.reserve(samples.size() + count);
    for (std::uint32_t i = 0; i < count; ++i) {
      MovieSample sample;
      sample.offset = offset;
      sample.duration = (flags & durationPresent) ? run.u32() : defaults.duration;
      sample.size = (flags & sizePresent) ? run.u32() : defaults.size;
      std::uint32_t sampleFlags = i == 0 ? firstFlags : defaults.flags;
      if (flags & flagsPresent) {
        sampleFlags = run.u32();
      }
      if (flags & compositionOffsetPresent) {
        const std::uint32_t value = run.u32();
        if (version == 0 &&
            value > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
          throw MalformedMovie("a composition offset is out of range");
        }
        sample.compositionOffset = static_cast<std::int32_t>(value);
      }
      sample.isSync = (sampleFlags & sampleIsNonSync) == 0;
      sample.descriptionIndex = defaults.descriptionIndex;
      offset = checkedAdd(offset, sample.size);
      track.nextDecodeTime = checkedAdd(track.nextDecodeTime, sample.duration);
      samples.push_back(sample);
    }
    dataEnd = offset;
  }
  return dataEnd;
}

} // namespace Platform::FFmpeg
