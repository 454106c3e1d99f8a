#include "EchoScenes.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

namespace EchoBench {

namespace {

const char* const farText =
    "Thanks everyone for joining. Let us start with the quarterly numbers. Revenue grew by "
    "twelve percent, mostly in the northern region, while costs stayed flat. The new office "
    "opens in March, and we are hiring four engineers for the platform team. Any questions so "
    "far? If not, I will hand over to the product group for the roadmap review, and then we "
    "can discuss the budget for next year in detail.";
const char* const nearText =
    "Yes, I have a question about the hiring plan. Do we know when the first interviews will "
    "start, and who is on the panel? I would also like to see the numbers per region before "
    "Friday, if that is possible.";

// espeak-ng's WAV: 16-bit mono; its rate from the header.
std::vector<float> speak(const std::string& voice, const std::string& text) {
  char path[] = "/tmp/echo-bench-speech-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) {
    throw std::runtime_error("no temporary file");
  }
  close(fd);
  const std::string command =
      "espeak-ng -v " + voice + " -s 165 -w " + path + " \"" + text + "\" 2>/dev/null";
  if (std::system(command.c_str()) != 0) {
    std::remove(path);
    throw std::runtime_error("espeak-ng failed (is it installed?)");
  }
  std::ifstream file(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::remove(path);
  if (bytes.size() < 44) {
    throw std::runtime_error("espeak-ng wrote no speech");
  }
  std::uint32_t rate = 0;
  std::memcpy(&rate, bytes.data() + 24, sizeof rate);
  // The chunks after the format: find "data".
  std::size_t at = 12;
  while (at + 8 <= bytes.size() && std::memcmp(bytes.data() + at, "data", 4) != 0) {
    std::uint32_t size = 0;
    std::memcpy(&size, bytes.data() + at + 4, sizeof size);
    at += 8 + size;
  }
  at += 8;
  std::vector<float> samples;
  for (; at + 1 < bytes.size(); at += 2) {
    std::int16_t value = 0;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    samples.push_back(static_cast<float>(value) / 32768.0F);
  }
  return resample(samples, static_cast<int>(rate), sampleRate);
}

void place(std::vector<float>& timeline, const std::vector<float>& voice, std::size_t from,
           double fromSeconds, double toSeconds, float gain) {
  const auto start = static_cast<std::size_t>(fromSeconds * sampleRate);
  const auto end = std::min(timeline.size(), static_cast<std::size_t>(toSeconds * sampleRate));
  for (std::size_t i = start; i < end && from + (i - start) < voice.size(); ++i) {
    timeline[i] = gain * voice[from + (i - start)];
  }
}

double energy(const std::vector<float>& samples, std::size_t from, std::size_t to) {
  double sum = 0;
  for (std::size_t i = from; i < std::min(to, samples.size()); ++i) {
    sum += static_cast<double>(samples[i]) * samples[i];
  }
  return sum;
}

double decibels(double ratio) {
  return 10 * std::log10(std::max(ratio, 1e-12));
}

} // namespace

std::vector<float> resample(const std::vector<float>& samples, int fromRate, int toRate) {
  if (fromRate == toRate || samples.empty()) {
    return samples;
  }
  const auto length =
      static_cast<std::size_t>(static_cast<double>(samples.size()) * toRate / fromRate);
  std::vector<float> out(length);
  for (std::size_t i = 0; i < length; ++i) {
    const double position = static_cast<double>(i) * fromRate / toRate;
    const auto index = static_cast<std::size_t>(position);
    const double fraction = position - static_cast<double>(index);
    const float next = index + 1 < samples.size() ? samples[index + 1] : samples[index];
    out[i] = static_cast<float>(samples[index] * (1 - fraction) + next * fraction);
  }
  return out;
}

Scene makeScene() {
  const auto farVoice = speak("en-us", farText);
  const auto nearVoice = speak("en+f3", nearText);
  Scene scene;
  const auto length = static_cast<std::size_t>(sceneEnd * sampleRate);
  scene.far.assign(length, 0);
  scene.near.assign(length, 0);
  place(scene.far, farVoice, 0, 0, farAloneUntil, 0.5F);
  place(scene.far, farVoice, static_cast<std::size_t>(farAloneUntil * sampleRate), nearAloneUntil,
        sceneEnd, 0.5F);
  place(scene.near, nearVoice, 0, farAloneUntil, sceneEnd, 0.3F);
  return scene;
}

Figures measure(const std::vector<float>& cleaned, const std::vector<float>& echo,
                const std::vector<float>& near, double measureFrom) {
  const auto at = [](double seconds) { return static_cast<std::size_t>(seconds * sampleRate); };
  Figures figures;
  figures.farEndReduction = decibels(energy(echo, at(measureFrom), at(farAloneUntil)) /
                                     energy(cleaned, at(measureFrom), at(farAloneUntil)));
  // Half a second in: the far end's reverberation has died away.
  const std::size_t nearFrom = at(farAloneUntil + 0.5);
  const std::size_t nearTo = at(nearAloneUntil);
  std::vector<float> raw(near);
  for (std::size_t i = 0; i < raw.size() && i < echo.size(); ++i) {
    raw[i] += echo[i];
  }
  figures.nearEndAlone =
      decibels(energy(cleaned, nearFrom, nearTo) / energy(raw, nearFrom, nearTo));
  // What is left while both talk, against the near end's own: with the far
  // end taken out, the near end's level (a residue of the far end adds a
  // little).
  const std::size_t talkFrom = at(nearAloneUntil + 0.5);
  figures.doubleTalkNearEnd =
      decibels(energy(cleaned, talkFrom, at(sceneEnd)) / energy(near, talkFrom, at(sceneEnd)));
  return figures;
}

long alignment(const std::vector<float>& recorded, const std::vector<float>& near) {
  // Coarse: 10 ms energy envelopes, then to the sample around the best.
  constexpr std::size_t block = sampleRate / 100;
  const auto envelope = [](const std::vector<float>& samples) {
    std::vector<double> out(samples.size() / block);
    for (std::size_t i = 0; i < out.size(); ++i) {
      out[i] = energy(samples, i * block, (i + 1) * block);
    }
    return out;
  };
  const auto recordedEnvelope = envelope(recorded);
  const auto nearEnvelope = envelope(near);
  const long range = 500; // blocks, 5 s either way
  long bestBlocks = 0;
  double best = -1;
  for (long lag = -range; lag <= range; ++lag) {
    double sum = 0;
    for (std::size_t i = 0; i < nearEnvelope.size(); ++i) {
      const long j = static_cast<long>(i) + lag;
      if (j >= 0 && j < static_cast<long>(recordedEnvelope.size())) {
        sum += std::sqrt(nearEnvelope[i] * recordedEnvelope[static_cast<std::size_t>(j)]);
      }
    }
    if (sum > best) {
      best = sum;
      bestBlocks = lag;
    }
  }
  long bestSample = bestBlocks * static_cast<long>(block);
  best = -1e300;
  const long centre = bestSample;
  const auto from = static_cast<std::size_t>(nearAloneUntil * sampleRate);
  for (long lag = centre - static_cast<long>(block); lag <= centre + static_cast<long>(block);
       ++lag) {
    double sum = 0;
    for (std::size_t i = from; i < near.size(); i += 2) {
      const long j = static_cast<long>(i) + lag;
      if (j >= 0 && j < static_cast<long>(recorded.size())) {
        sum += static_cast<double>(near[i]) * recorded[static_cast<std::size_t>(j)];
      }
    }
    if (sum > best) {
      best = sum;
      bestSample = lag;
    }
  }
  return bestSample;
}

void writeSamples(const std::string& path, const std::vector<float>& samples) {
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(samples.data()),
             static_cast<std::streamsize>(samples.size() * sizeof(float)));
}

std::vector<float> readSamples(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<float> samples(bytes.size() / sizeof(float));
  std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
  return samples;
}

} // namespace EchoBench
