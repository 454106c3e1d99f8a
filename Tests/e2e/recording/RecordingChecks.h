#pragma once

#include "support/MediaProbe.h"

#include <string>
#include <vector>

// What the recording tests look for in decoded media.

namespace RecordingChecks {

// Times (seconds) at which the pictures turn bright after being dark.
std::vector<double> flashOnsets(const std::vector<TestSupport::PictureSample>& pictures);

// Times (seconds) at which the sound rises out of silence.
std::vector<double> toneOnsets(const std::vector<float>& samples, int sampleRate);

// For each flash, the distance (seconds) to the nearest tone onset.
std::vector<double> flashToToneDistances(const std::vector<double>& flashes,
                                         const std::vector<double>& tones);

// The index of the first track of a media type and codec; -1 when none.
int trackIndex(const TestSupport::FileInfo& file, AVMediaType type);

} // namespace RecordingChecks
