#pragma once

#include "support/MediaProbe.h"

#include <string>
#include <vector>

// What the recording tests look for in decoded media.

namespace RecordingChecks {

// Times (seconds) at which the pictures turn bright after being dark: half a
// frame period before the first bright picture, where the change happened on
// average. (The first bright picture alone would put every flash late by
// half a period on average, up to a whole one.) Frames lie on a grid of
// `framePeriod` and only changed ones are written: the grid point before the
// first bright picture was dark even when it left no picture, so the midpoint
// with the last dark picture written would put the flash too early.
std::vector<double> flashOnsets(const std::vector<TestSupport::PictureSample>& pictures,
                                double framePeriod);

// Times (seconds, on the file's timeline) at which the sound rises out of
// silence; `samples` begin at `startTime`, the track's first packet.
std::vector<double> toneOnsets(const std::vector<float>& samples, int sampleRate, double startTime);

// The amplitude of a sine of `frequency` in `samples` (which begin at the
// track's time zero) between `from` and `to` seconds: about a tone's peak
// amplitude where it plays, near zero where it does not.
double toneAmplitude(const std::vector<float>& samples, int sampleRate, double frequency,
                     double from, double to);

// For each flash, the distance (seconds) to the nearest tone onset.
std::vector<double> flashToToneDistances(const std::vector<double>& flashes,
                                         const std::vector<double>& tones);

// What a recording of flashes and beeps holds: the flash onsets of its
// first video track (changed pictures on a grid of `framePeriod`), the tone
// onsets of its first audio track, and for each flash the distance (tone
// minus flash, seconds) to the nearest tone, sorted.
struct FlashesAndBeeps {
  std::vector<double> flashes;
  std::vector<double> tones;
  std::vector<double> sortedDistances;
  double medianDistance() const { return sortedDistances[sortedDistances.size() / 2]; }
};
// Throws std::runtime_error when the file lacks either track.
FlashesAndBeeps flashesAndBeeps(const std::string& file, double framePeriod);

// Why timing cannot be judged here, or empty: sanitizers slow every thread,
// and on a machine already busier than its cores the capture threads are
// scheduled tens of milliseconds late.
std::string whyTimingIsUnreliable();

// The index of the first track of a media type and codec; -1 when none.
int trackIndex(const TestSupport::FileInfo& file, AVMediaType type);

} // namespace RecordingChecks
