#include "Platform/Linux/Pulse/DeviceSelection.h"
#include "Platform/Linux/Pulse/PulseSources.h"

#include <gtest/gtest.h>

namespace {

using namespace Platform;
using Platform::Linux::Pulse::inputSources;
using Platform::Linux::Pulse::queryListsAudioSources;
using Platform::Linux::Pulse::SourceDescription;

SourceDescription source(std::string name, bool isMonitor) {
  SourceDescription description;
  description.name = std::move(name);
  description.description = description.name + " description";
  description.sampleRate = 48000;
  description.channelCount = 2;
  description.isMonitor = isMonitor;
  return description;
}

std::vector<std::string> names(const std::vector<SourceDescription>& sources) {
  std::vector<std::string> result;
  for (const auto& description : sources) {
    result.push_back(description.name);
  }
  return result;
}

TEST(InputSources, DropsMonitorsAndKeepsTheServersOrder) {
  const auto inputs = inputSources({source("speakers.monitor", true), source("usb_mic", false),
                                    source("hdmi.monitor", true), source("builtin_mic", false)});
  EXPECT_EQ(names(inputs), (std::vector<std::string>{"usb_mic", "builtin_mic"}));
}

TEST(InputSources, ListsEachNameOnceAndNoNamelessSource) {
  const auto inputs = inputSources({source("mic", false), source("", false), source("mic", false)});
  EXPECT_EQ(names(inputs), (std::vector<std::string>{"mic"}));
}

TEST(QueryListsAudioSources, MicrophoneTypesListSourcesForAudioOrAnyMedia) {
  const auto unspecified = AVCaptureDevicePosition::unspecified;
  EXPECT_TRUE(
      queryListsAudioSources({AVCaptureDeviceType::microphone, AVCaptureDeviceType::external},
                             MediaType::audio, unspecified));
  EXPECT_TRUE(queryListsAudioSources({AVCaptureDeviceType::microphone}, std::nullopt, unspecified));
}

TEST(QueryListsAudioSources, ExternalVideoOrPositionedQueriesListNone) {
  const auto unspecified = AVCaptureDevicePosition::unspecified;
  EXPECT_FALSE(queryListsAudioSources({AVCaptureDeviceType::external}, std::nullopt, unspecified));
  EXPECT_FALSE(
      queryListsAudioSources({AVCaptureDeviceType::external}, MediaType::audio, unspecified));
  EXPECT_FALSE(
      queryListsAudioSources({AVCaptureDeviceType::microphone}, MediaType::video, unspecified));
  EXPECT_FALSE(queryListsAudioSources({AVCaptureDeviceType::microphone}, MediaType::audio,
                                      AVCaptureDevicePosition::front));
  EXPECT_FALSE(queryListsAudioSources({}, MediaType::audio, unspecified));
}

} // namespace
