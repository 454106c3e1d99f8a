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

// For each flash, the distance (seconds) to the nearest tone onset.
std::vector<double> flashToToneDistances(const std::vector<double>& flashes,
                                         const std::vector<double>& tones);

// Why timing cannot be judged here, or empty: sanitizers slow every thread,
// and on a machine already busier than its cores the capture threads are
// scheduled tens of milliseconds late.
std::string whyTimingIsUnreliable();

// The index of the first track of a media type and codec; -1 when none.
int trackIndex(const TestSupport::FileInfo& file, AVMediaType type);

} // namespace RecordingChecks
