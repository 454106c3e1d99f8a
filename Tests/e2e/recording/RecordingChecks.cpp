#include "RecordingChecks.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <stdexcept>

#include <unistd.h>

namespace RecordingChecks {

std::vector<double> flashOnsets(const std::vector<TestSupport::PictureSample>& pictures,
                                double framePeriod) {
  // The demo window is dark with a moving bar; a flash turns it white.
  constexpr double brightLuma = 180;
  std::vector<double> onsets;
  // A recording that opens mid-flash has no onset there.
  bool seenDark = false;
  bool bright = false;
  for (const auto& picture : pictures) {
    const bool nowBright = picture.meanLuma > brightLuma;
    if (nowBright && !bright && seenDark) {
      onsets.push_back(picture.time - framePeriod / 2);
    }
    seenDark = seenDark || !nowBright;
    bright = nowBright;
  }
  return onsets;
}

namespace {

double amplitudeIn(const std::vector<float>& samples, int sampleRate, double frequency,
                   std::size_t first, std::size_t last) {
  // Goertzel's recurrence: the power of one frequency bin.
  const double coefficient = 2 * std::cos(2 * M_PI * frequency / sampleRate);
  double previous = 0;
  double beforePrevious = 0;
  for (std::size_t i = first; i < last; ++i) {
    const double current = samples[i] + coefficient * previous - beforePrevious;
    beforePrevious = previous;
    previous = current;
  }
  const double power = previous * previous + beforePrevious * beforePrevious -
                       coefficient * previous * beforePrevious;
  return 2 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(last - first);
}

} // namespace

double toneAmplitude(const std::vector<float>& samples, int sampleRate, double frequency,
                     double from, double to) {
  // Averaged over quarter seconds: where the mix moved a stream by a few
  // frames the tone's phase jumps, which one long window would read as less
  // of it.
  const auto window = static_cast<std::size_t>(sampleRate / 4);
  const auto first = static_cast<std::size_t>(std::max(0.0, from * sampleRate));
  const auto last = std::min(samples.size(), static_cast<std::size_t>(to * sampleRate));
  double sum = 0;
  int windows = 0;
  for (std::size_t start = first; start + window <= last; start += window, ++windows) {
    sum += amplitudeIn(samples, sampleRate, frequency, start, start + window);
  }
  return windows == 0 ? 0 : sum / windows;
}

std::vector<double> toneOnsets(const std::vector<float>& samples, int sampleRate,
                               double startTime) {
  // Envelope over 2 ms windows; a tone starts where it crosses a quarter of
  // the loudest window after at least 200 ms of quiet.
  const std::size_t window = static_cast<std::size_t>(sampleRate) / 500;
  std::vector<double> envelope;
  for (std::size_t start = 0; start + window <= samples.size(); start += window) {
    double peak = 0;
    for (std::size_t i = start; i < start + window; ++i) {
      peak = std::max(peak, static_cast<double>(std::fabs(samples[i])));
    }
    envelope.push_back(peak);
  }
  double loudest = 0;
  for (const double value : envelope) {
    loudest = std::max(loudest, value);
  }
  std::vector<double> onsets;
  const double threshold = loudest / 4;
  const std::size_t quietWindows = 100;
  std::size_t quiet = quietWindows;
  for (std::size_t i = 0; i < envelope.size(); ++i) {
    if (envelope[i] > threshold) {
      if (quiet >= quietWindows && loudest > 0.01) {
        onsets.push_back(startTime + static_cast<double>(i * window) / sampleRate);
      }
      quiet = 0;
    } else {
      ++quiet;
    }
  }
  return onsets;
}

std::vector<double> flashToToneDistances(const std::vector<double>& flashes,
                                         const std::vector<double>& tones) {
  std::vector<double> distances;
  for (const double flash : flashes) {
    double nearest = std::numeric_limits<double>::infinity();
    for (const double tone : tones) {
      if (std::fabs(tone - flash) < std::fabs(nearest)) {
        nearest = tone - flash;
      }
    }
    distances.push_back(nearest);
  }
  return distances;
}

FlashesAndBeeps flashesAndBeeps(const std::string& file, double framePeriod) {
  const auto info = TestSupport::probeFile(file);
  const int video = trackIndex(info, AVMEDIA_TYPE_VIDEO);
  const int audio = trackIndex(info, AVMEDIA_TYPE_AUDIO);
  if (video < 0 || audio < 0 || info.tracks[static_cast<std::size_t>(audio)].times.empty()) {
    throw std::runtime_error(file + " has no video track or no sound");
  }
  const auto& audioTrack = info.tracks[static_cast<std::size_t>(audio)];
  FlashesAndBeeps found;
  found.flashes = flashOnsets(TestSupport::decodeTrack(file, video).pictures, framePeriod);
  found.tones = toneOnsets(TestSupport::decodeTrack(file, audio).firstChannel,
                           audioTrack.sampleRate, audioTrack.times.front());
  found.sortedDistances = flashToToneDistances(found.flashes, found.tones);
  std::sort(found.sortedDistances.begin(), found.sortedDistances.end());
  return found;
}

std::string whyTimingIsUnreliable() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return "built with a sanitizer";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  return "built with a sanitizer";
#endif
#endif
  double load = 0;
  std::ifstream("/proc/loadavg") >> load;
  const long cores = sysconf(_SC_NPROCESSORS_ONLN);
  if (load > 2.0 * static_cast<double>(cores)) {
    return "the machine is overloaded (load " + std::to_string(load) + " on " +
           std::to_string(cores) + " cores)";
  }
  return {};
}

int trackIndex(const TestSupport::FileInfo& file, AVMediaType type) {
  for (std::size_t i = 0; i < file.tracks.size(); ++i) {
    if (file.tracks[i].type == type) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

} // namespace RecordingChecks
