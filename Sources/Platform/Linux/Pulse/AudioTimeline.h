#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>

// Host-clock presentation times for consecutive audio buffers.
//
// Each buffer's capture instant is measured as "now minus the buffer's own
// duration": the server's latency report is not used, because for seconds
// after a record stream starts it is off by hundreds of milliseconds (it
// interpolates from a stale snapshot), and in steady state it is a few
// milliseconds. A measure is late whenever our thread was scheduled late, so
// buffers are stamped on a running frame count from an anchor instead. A
// read can come late but never early, so over each window of audio the
// smallest lead of the measure over the count (the least delayed read) is
// kept.
//
// The source's sample clock runs apart from the host clock by tens of parts
// per million, so a count at the nominal rate drifts off the host clock by
// seconds a day. A phase-locked loop steers the length of a frame on the
// host clock by each window's smallest lead: stamps follow the host clock
// within a millisecond or two and every frame is kept, so the sound moves
// neither by a drop nor by a gap. Only a lead beyond the tolerance is an
// event, and moves the timeline at once. Ahead (lost audio) leaves a gap,
// unless the window's reads came in a rush: they were catching up with a
// backlog (our process not run for seconds, a server's queue read at once)
// and are late by up to its length, so only the reads after them tell.
// Back (the count was set by a late read, or a monitor's lead shrank)
// cannot move sound already stamped: the frames that would overlap it are
// dropped instead, so stamps never go back and every buffer starts where
// the one before ended or later. Late reads move nothing as long as one
// read in a window came on time, so scheduling hiccups cannot push the
// sound out of step with the picture.
//
// While the source is gone the timeline runs on as silence up to the host
// clock, so the track keeps its length; the first buffer after the source
// returns is placed by its own read time: the silence before it is widened
// to meet it, or its first frames are dropped where the silence already ran
// past its true start.
//
// Thread contract: none; one owner stamps its buffers in order.

namespace Platform::Linux::Pulse {

class AudioTimeline {
public:
  AudioTimeline(std::uint32_t sampleRate, std::int64_t toleranceNanoseconds,
                std::int64_t windowNanoseconds = 500'000'000);

  struct Placement {
    std::size_t droppedFrames = 0; // to cut from the buffer's front
    std::int64_t start = 0;        // of the buffer's first kept frame
  };
  // Places a buffer of `frames` frames read at `nowNanoseconds`: the host
  // time its kept frames start at, after the frames the timeline has already
  // passed are cut from its front.
  Placement stamp(std::int64_t nowNanoseconds, std::size_t frames);

  // Frames that never arrived (a hole in the stream): the next buffer starts
  // that much later.
  void skip(std::size_t frames);

  // Where the audio stops: the host time at which the next frame starts.
  // Absent before the first buffer.
  std::optional<std::int64_t> end() const;

  struct Span {
    std::int64_t start = 0;
    std::size_t frames = 0;
  };
  // The silence that carries the timeline up to `untilNanoseconds`; empty
  // before the first buffer or when the timeline is already there.
  Span silenceUntil(std::int64_t untilNanoseconds);

  struct Rejoin {
    std::size_t silenceFrames = 0; // to insert before the buffer
    std::int64_t silenceStart = 0;
    Placement placement;
  };
  // Places the first buffer of `frames` frames, read at `nowNanoseconds`,
  // after the source was gone; the stamps go on from it as from a first
  // buffer.
  Rejoin rejoin(std::int64_t nowNanoseconds, std::size_t frames);

  // How many times an event moved the timeline by a step.
  std::uint64_t reanchorCount() const { return reanchors_; }

  // How far events moved the timeline since this was last asked, in
  // nanoseconds (later: a gap; earlier: frames dropped); absent when none
  // did, so that each step is said once.
  std::optional<std::int64_t> stepToReport() { return std::exchange(unreportedStep_, {}); }

  // The source's clock as the loop measured it, in parts per million faster
  // than nominal on the host clock: once the loop has locked, and again
  // whenever the clock has moved by more than 50 ppm since; absent
  // otherwise, so that it is said once and not at every buffer.
  std::optional<double> clockToReport();

private:
  std::int64_t framesToNanoseconds(std::uint64_t frames) const;
  std::size_t nanosecondsToFrames(std::int64_t nanoseconds) const;
  void forgetReads();
  // Ends the window of reads whose last came at `lastRead`.
  void closeWindow(std::int64_t lastRead);
  // Counts `frames` stamped source frames, steered.
  void advance(std::uint64_t frames);
  void steer(std::int64_t lead, std::int64_t windowLength);

  std::uint32_t sampleRate_;
  std::int64_t tolerance_;
  std::int64_t window_;
  std::optional<std::int64_t> anchor_;
  std::uint64_t framesSinceAnchor_ = 0;
  // Nanoseconds the stamped frames since the anchor lasted beyond nominal.
  double steered_ = 0;
  // How much longer than nominal a frame lasts on the host clock, as the
  // loop steers it (1e-4 is 100 parts per million).
  double rateCorrection_ = 0;
  double integral_ = 0; // the loop's memory of the source's clock rate
  // Frames still to drop after the timeline moved back.
  std::uint64_t framesToDrop_ = 0;
  std::optional<std::int64_t> smallestLead_;
  std::int64_t windowCovered_ = 0;
  // When the window's first buffer began by its read: with the window's
  // last read, how fast its reads came against the sound they held.
  std::optional<std::int64_t> windowFirstRead_;
  std::uint64_t reanchors_ = 0;
  std::optional<std::int64_t> unreportedStep_;
  // Windows in a row whose least delayed read sat on the stamps.
  std::uint32_t windowsOnTime_ = 0;
  double rateOnTimeFrom_ = 0; // the loop's rate when they began
  std::optional<double> reportedClock_;
};

} // namespace Platform::Linux::Pulse
