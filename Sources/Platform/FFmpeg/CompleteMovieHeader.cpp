#include "Platform/FFmpeg/CompleteMovieHeader.h"

extern "C" {
#include <libavutil/mathematics.h>
}

#include <algorithm>
#include <limits>
#include <optional>

namespace Platform::FFmpeg {

namespace {

constexpr std::uint32_t maxU32 = std::numeric_limits<std::uint32_t>::max();

struct FullBoxFields {
  std::uint8_t version = 0;
  std::uint32_t flags = 0;
  std::uint64_t creationTime = 0;
  std::uint64_t modificationTime = 0;
};

FullBoxFields readFullBoxTimes(ByteReader& reader) {
  FullBoxFields fields;
  fields.version = reader.u8();
  fields.flags = (static_cast<std::uint32_t>(reader.u8()) << 16) | reader.u16();
  fields.creationTime = fields.version == 1 ? reader.u64() : reader.u32();
  fields.modificationTime = fields.version == 1 ? reader.u64() : reader.u32();
  return fields;
}

// mvhd and mdhd: the time scale follows the creation and modification times.
std::uint32_t timescaleOf(const Box& box) {
  ByteReader reader(box.payload);
  readFullBoxTimes(reader);
  const std::uint32_t timescale = reader.u32();
  if (timescale == 0) {
    throw MalformedMovie("'" + boxTypeName(box.type) + "' has no time scale");
  }
  return timescale;
}

std::uint32_t trackIdOf(const Box& tkhd) {
  ByteReader reader(tkhd.payload);
  readFullBoxTimes(reader);
  return reader.u32();
}

// Rewrites mvhd, tkhd or mdhd with `duration`, widening to version 1 only
// when a value no longer fits 32 bits.
void writeWithDuration(BoxWriter& writer, const Box& box, std::uint64_t duration) {
  ByteReader reader(box.payload);
  const FullBoxFields fields = readFullBoxTimes(reader);
  const bool isTrackHeader = box.type == boxType("tkhd");
  const std::uint32_t timescaleOrTrackId = reader.u32();
  const std::uint32_t reserved = isTrackHeader ? reader.u32() : 0;
  reader.skip(fields.version == 1 ? 8 : 4);
  const Bytes rest = reader.take(reader.remaining());
  const bool wide = fields.version == 1 || duration > maxU32 || fields.creationTime > maxU32 ||
                    fields.modificationTime > maxU32;
  const auto field = [&](std::uint64_t value) {
    wide ? writer.u64(value) : writer.u32(static_cast<std::uint32_t>(value));
  };
  writer.beginFull(box.type, wide ? 1 : 0, fields.flags);
  field(fields.creationTime);
  field(fields.modificationTime);
  writer.u32(timescaleOrTrackId);
  if (isTrackHeader) {
    writer.u32(reserved);
  }
  field(duration);
  writer.append(rest);
  writer.end();
}

struct Edit {
  std::uint64_t duration = 0;  // movie time scale
  std::int64_t mediaTime = -1; // media time scale; -1 is an empty edit
  std::uint32_t rate = 0x00010000;
};

// Where a track's samples lie on its plain media timeline.
struct TrackTiming {
  std::uint32_t compositionShift = 0; // makes every composition offset non-negative
  std::uint64_t mediaDuration = 0;
  std::int64_t firstPresentation = 0; // plain media time of the earliest picture or sound
  std::int64_t presentationEnd = 0;
  std::int64_t fragmentedStart = 0; // the same instant on the fragments' timeline
};

TrackTiming timingOf(const TrackSamples& track) {
  TrackTiming timing;
  std::int64_t smallestOffset = 0;
  for (const MovieSample& sample : track.samples) {
    smallestOffset = std::min<std::int64_t>(smallestOffset, sample.compositionOffset);
  }
  timing.compositionShift = static_cast<std::uint32_t>(-smallestOffset);
  std::int64_t first = std::numeric_limits<std::int64_t>::max();
  for (const MovieSample& sample : track.samples) {
    const auto decode = static_cast<std::int64_t>(timing.mediaDuration);
    const std::int64_t presentation = decode + sample.compositionOffset + timing.compositionShift;
    first = std::min(first, presentation);
    timing.presentationEnd = std::max(timing.presentationEnd, presentation + sample.duration);
    timing.mediaDuration += sample.duration;
  }
  timing.firstPresentation = track.samples.empty() ? 0 : first;
  timing.fragmentedStart = static_cast<std::int64_t>(track.firstDecodeTime) +
                           timing.firstPresentation - timing.compositionShift;
  return timing;
}

class TrackBuilder {
public:
  TrackBuilder(const Box& trak, std::uint32_t movieScale, const FragmentIndex& fragments)
      : movieScale_(movieScale), children_(readBoxes(trak.payload)) {
    const Box& tkhd = requireBox(children_, boxType("tkhd"), "trak");
    const Box& mdia = requireBox(children_, boxType("mdia"), "trak");
    mdiaChildren_ = readBoxes(mdia.payload);
    mediaScale_ = timescaleOf(requireBox(mdiaChildren_, boxType("mdhd"), "mdia"));
    samples_ = &fragments.track(trackIdOf(tkhd));
    timing_ = timingOf(*samples_);
    edits_ = editsFromInitialMoov();
    if (!edits_) {
      edits_ = generatedEdits();
    }
    for (const Edit& edit : *edits_) {
      movieDuration_ += edit.duration;
    }
    if (edits_->empty()) {
      movieDuration_ = toMovieTime(timing_.presentationEnd - timing_.firstPresentation);
    }
  }

  std::uint64_t movieDuration() const { return movieDuration_; }

  void write(BoxWriter& writer) const {
    writer.begin(boxType("trak"));
    for (const Box& box : children_) {
      if (box.type == boxType("tkhd")) {
        writeWithDuration(writer, box, movieDuration_);
        writeEdits(writer);
      } else if (box.type == boxType("mdia")) {
        writeMedia(writer);
      } else if (box.type != boxType("edts")) {
        writer.append(box.whole);
      }
    }
    writer.end();
  }

private:
  std::uint64_t toMovieTime(std::int64_t mediaTime) const {
    return static_cast<std::uint64_t>(
        av_rescale_rnd(std::max<std::int64_t>(mediaTime, 0), movieScale_, mediaScale_,
                       static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX)));
  }

  // The initial moov's edits, moved onto the plain media timeline.
  std::optional<std::vector<Edit>> editsFromInitialMoov() const {
    const Box* edts = findBox(children_, boxType("edts"));
    const Box* elst = edts ? findBox(readBoxes(edts->payload), boxType("elst")) : nullptr;
    if (elst == nullptr) {
      return std::nullopt;
    }
    ByteReader reader(elst->payload);
    const std::uint8_t version = reader.u8();
    reader.skip(3);
    const std::uint32_t count = reader.u32();
    if (static_cast<std::uint64_t>(count) * (version == 1 ? 20 : 12) > reader.remaining()) {
      throw MalformedMovie("an edit list has more entries than it holds");
    }
    std::vector<Edit> edits;
    for (std::uint32_t i = 0; i < count; ++i) {
      Edit edit;
      edit.duration = version == 1 ? reader.u64() : reader.u32();
      edit.mediaTime = version == 1 ? static_cast<std::int64_t>(reader.u64())
                                    : static_cast<std::int32_t>(reader.u32());
      edit.rate = reader.u32();
      if (edit.mediaTime >= 0) {
        edit.mediaTime +=
            timing_.compositionShift - static_cast<std::int64_t>(samples_->firstDecodeTime);
        if (edit.mediaTime < 0) {
          throw MalformedMovie("an edit begins before its track's first sample");
        }
        if (edit.duration == 0) {
          // Open-ended in a fragmented movie: it runs to the track's end.
          edit.duration = toMovieTime(timing_.presentationEnd - edit.mediaTime);
        }
      }
      edits.push_back(edit);
    }
    return edits;
  }

  // Keeps the earliest sample at the time it had in the fragments: an empty
  // edit for a track that starts late, a media time that skips the
  // composition shift and anything before time zero.
  std::vector<Edit> generatedEdits() const {
    if (samples_->samples.empty()) {
      return {};
    }
    std::int64_t mediaTime = timing_.firstPresentation;
    std::int64_t start = timing_.fragmentedStart;
    if (start < 0) {
      mediaTime -= start;
      start = 0;
    }
    if (start == 0 && mediaTime == 0) {
      return {};
    }
    std::vector<Edit> edits;
    if (start > 0) {
      edits.push_back({toMovieTime(start), -1});
    }
    edits.push_back({toMovieTime(timing_.presentationEnd - mediaTime), mediaTime});
    return edits;
  }

  void writeEdits(BoxWriter& writer) const {
    if (edits_->empty()) {
      return;
    }
    const bool wide = std::any_of(edits_->begin(), edits_->end(), [](const Edit& edit) {
      return edit.duration > maxU32 || edit.mediaTime > std::numeric_limits<std::int32_t>::max();
    });
    writer.begin(boxType("edts"));
    writer.beginFull(boxType("elst"), wide ? 1 : 0, 0);
    writer.u32(static_cast<std::uint32_t>(edits_->size()));
    for (const Edit& edit : *edits_) {
      if (wide) {
        writer.u64(edit.duration);
        writer.u64(static_cast<std::uint64_t>(edit.mediaTime));
      } else {
        writer.u32(static_cast<std::uint32_t>(edit.duration));
        writer.u32(static_cast<std::uint32_t>(static_cast<std::int32_t>(edit.mediaTime)));
      }
      writer.u32(edit.rate);
    }
    writer.end();
    writer.end();
  }

  void writeMedia(BoxWriter& writer) const {
    writer.begin(boxType("mdia"));
    for (const Box& box : mdiaChildren_) {
      if (box.type == boxType("mdhd")) {
        writeWithDuration(writer, box, timing_.mediaDuration);
      } else if (box.type == boxType("minf")) {
        writer.begin(boxType("minf"));
        const std::vector<Box> minfChildren = readBoxes(box.payload);
        for (const Box& child : minfChildren) {
          child.type == boxType("stbl") ? writeSampleTables(writer, child)
                                        : writer.append(child.whole);
        }
        writer.end();
      } else {
        writer.append(box.whole);
      }
    }
    writer.end();
  }

  void writeSampleTables(BoxWriter& writer, const Box& stbl) const;

  std::uint32_t movieScale_;
  std::uint32_t mediaScale_ = 1;
  std::vector<Box> children_;
  std::vector<Box> mdiaChildren_;
  const TrackSamples* samples_ = nullptr;
  TrackTiming timing_;
  std::optional<std::vector<Edit>> edits_;
  std::uint64_t movieDuration_ = 0;
};

// Consecutive equal values as (count, value) pairs, the form of stts and ctts.
template <typename ValueOf>
std::vector<std::pair<std::uint32_t, std::uint32_t>> runs(const std::vector<MovieSample>& samples,
                                                          ValueOf valueOf) {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> result;
  for (const MovieSample& sample : samples) {
    const std::uint32_t value = valueOf(sample);
    if (!result.empty() && result.back().second == value) {
      ++result.back().first;
    } else {
      result.emplace_back(1, value);
    }
  }
  return result;
}

void writeRuns(BoxWriter& writer, std::uint32_t type,
               const std::vector<std::pair<std::uint32_t, std::uint32_t>>& entries) {
  writer.beginFull(type, 0, 0);
  writer.u32(static_cast<std::uint32_t>(entries.size()));
  for (const auto& [count, value] : entries) {
    writer.u32(count);
    writer.u32(value);
  }
  writer.end();
}

bool isReplacedByTheIndex(std::uint32_t type) {
  // Tables counted in samples: rebuilt, or dropped when they would no longer
  // match the samples.
  static constexpr std::uint32_t replaced[] = {
      boxType("stts"), boxType("ctts"), boxType("cslg"), boxType("stss"), boxType("stps"),
      boxType("stsc"), boxType("stsz"), boxType("stz2"), boxType("stco"), boxType("co64"),
      boxType("sdtp"), boxType("sbgp"), boxType("subs"), boxType("saiz"), boxType("saio"),
      boxType("padb"), boxType("stsh"), boxType("stdp")};
  return std::find(std::begin(replaced), std::end(replaced), type) != std::end(replaced);
}

void TrackBuilder::writeSampleTables(BoxWriter& writer, const Box& stbl) const {
  const std::vector<MovieSample>& samples = samples_->samples;
  const std::vector<Box> children = readBoxes(stbl.payload);
  writer.begin(boxType("stbl"));
  writer.append(requireBox(children, boxType("stsd"), "stbl").whole);

  writeRuns(writer, boxType("stts"),
            runs(samples, [](const MovieSample& s) { return s.duration; }));

  const std::uint32_t shift = timing_.compositionShift;
  const auto composition = runs(samples, [shift](const MovieSample& s) {
    return static_cast<std::uint32_t>(static_cast<std::int64_t>(s.compositionOffset) + shift);
  });
  if (composition.size() > 1 || (composition.size() == 1 && composition.front().second != 0)) {
    writeRuns(writer, boxType("ctts"), composition);
  }

  std::vector<std::uint32_t> syncSamples;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    if (samples[i].isSync) {
      syncSamples.push_back(static_cast<std::uint32_t>(i + 1));
    }
  }
  if (syncSamples.size() != samples.size()) {
    writer.beginFull(boxType("stss"), 0, 0);
    writer.u32(static_cast<std::uint32_t>(syncSamples.size()));
    for (const std::uint32_t number : syncSamples) {
      writer.u32(number);
    }
    writer.end();
  }

  // A chunk is a run of samples that lie back to back in the file.
  std::vector<std::uint64_t> chunkOffsets;
  struct ChunkRun {
    std::uint32_t firstChunk, samplesPerChunk, descriptionIndex;
  };
  std::vector<ChunkRun> chunkRuns;
  std::uint32_t inChunk = 0;
  const auto closeChunk = [&](std::uint32_t descriptionIndex) {
    if (inChunk == 0) {
      return;
    }
    if (chunkRuns.empty() || chunkRuns.back().samplesPerChunk != inChunk ||
        chunkRuns.back().descriptionIndex != descriptionIndex) {
      chunkRuns.push_back(
          {static_cast<std::uint32_t>(chunkOffsets.size()), inChunk, descriptionIndex});
    }
    inChunk = 0;
  };
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const MovieSample& sample = samples[i];
    if (i > 0 && (sample.offset != samples[i - 1].offset + samples[i - 1].size ||
                  sample.descriptionIndex != samples[i - 1].descriptionIndex)) {
      closeChunk(samples[i - 1].descriptionIndex);
    }
    if (inChunk == 0) {
      chunkOffsets.push_back(sample.offset);
    }
    ++inChunk;
  }
  if (!samples.empty()) {
    closeChunk(samples.back().descriptionIndex);
  }
  writer.beginFull(boxType("stsc"), 0, 0);
  writer.u32(static_cast<std::uint32_t>(chunkRuns.size()));
  for (const ChunkRun& run : chunkRuns) {
    writer.u32(run.firstChunk);
    writer.u32(run.samplesPerChunk);
    writer.u32(run.descriptionIndex);
  }
  writer.end();

  const bool sameSize =
      !samples.empty() && std::all_of(samples.begin(), samples.end(), [&](const MovieSample& s) {
        return s.size == samples.front().size;
      });
  writer.beginFull(boxType("stsz"), 0, 0);
  writer.u32(sameSize ? samples.front().size : 0);
  writer.u32(static_cast<std::uint32_t>(samples.size()));
  for (const MovieSample& sample : samples) {
    if (!sameSize) {
      writer.u32(sample.size);
    }
  }
  writer.end();

  const bool wideOffsets = !chunkOffsets.empty() && chunkOffsets.back() > maxU32;
  writer.beginFull(boxType(wideOffsets ? "co64" : "stco"), 0, 0);
  writer.u32(static_cast<std::uint32_t>(chunkOffsets.size()));
  for (const std::uint64_t offset : chunkOffsets) {
    wideOffsets ? writer.u64(offset) : writer.u32(static_cast<std::uint32_t>(offset));
  }
  writer.end();

  for (const Box& box : children) {
    if (box.type != boxType("stsd") && !isReplacedByTheIndex(box.type)) {
      writer.append(box.whole);
    }
  }
  writer.end();
}

} // namespace

std::vector<std::uint8_t> buildCompleteMovieHeader(Bytes initialMoov,
                                                   const FragmentIndex& fragments) {
  const std::vector<Box> top = readBoxes(initialMoov);
  const Box& moov = requireBox(top, boxType("moov"), "file");
  const std::vector<Box> children = readBoxes(moov.payload);
  const Box& mvhd = requireBox(children, boxType("mvhd"), "moov");
  const std::uint32_t movieScale = timescaleOf(mvhd);

  std::vector<TrackBuilder> tracks;
  std::uint64_t movieDuration = 0;
  for (const Box& box : children) {
    if (box.type == boxType("trak")) {
      tracks.emplace_back(box, movieScale, fragments);
      movieDuration = std::max(movieDuration, tracks.back().movieDuration());
    }
  }

  BoxWriter writer;
  writer.begin(boxType("moov"));
  auto track = tracks.begin();
  for (const Box& box : children) {
    if (box.type == boxType("mvhd")) {
      writeWithDuration(writer, box, movieDuration);
    } else if (box.type == boxType("trak")) {
      (track++)->write(writer);
    } else if (box.type != boxType("mvex")) {
      writer.append(box.whole);
    }
  }
  writer.end();
  return writer.take();
}

} // namespace Platform::FFmpeg
