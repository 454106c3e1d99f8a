#pragma once

#include <string>
#include <vector>

// The scenes of the echo benchmark: two voices from espeak-ng (the far end,
// played by the speakers, and the near end, the user), on one timeline of
// mono 48 kHz samples, and the figures measured on what a canceller made of
// the microphone.

namespace EchoBench {

inline constexpr int sampleRate = 48000;

// Far end alone from 0 to 9 s (the canceller converges over the first 3),
// near end alone from 9 to 12 s, both from 12 to 18 s.
inline constexpr double farAloneUntil = 9;
inline constexpr double nearAloneUntil = 12;
inline constexpr double sceneEnd = 18;

struct Scene {
  std::vector<float> far;  // what the speakers play
  std::vector<float> near; // what the user says
};

// Speaks both voices with espeak-ng; throws std::runtime_error without it.
Scene makeScene();

// One run's figures, in dB.
struct Figures {
  double farEndReduction = 0;   // far end alone, from `measureFrom` on
  double nearEndAlone = 0;      // cleaned against raw, near end alone
  double doubleTalkNearEnd = 0; // cleaned against the near end alone, both talking
};

// `cleaned` is the microphone after the canceller, `echo` and `near` what
// the room fed into the microphone apart, all three sample for sample on
// the scene's timeline.
Figures measure(const std::vector<float>& cleaned, const std::vector<float>& echo,
                const std::vector<float>& near, double measureFrom);

// Where `recorded` (a track, resampled to the scene's rate) starts on the
// scene's timeline, in samples, found by the near end's voice in it.
long alignment(const std::vector<float>& recorded, const std::vector<float>& near);

// Linear resampling, for a track recorded at another rate.
std::vector<float> resample(const std::vector<float>& samples, int fromRate, int toRate);

void writeSamples(const std::string& path, const std::vector<float>& samples);
std::vector<float> readSamples(const std::string& path);

} // namespace EchoBench
