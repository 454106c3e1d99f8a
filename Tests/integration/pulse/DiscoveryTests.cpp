#include "PulseServerFixture.h"

#include "Platform/Linux/Pulse/PulseMediaCapture.h"

using namespace Platform;

namespace {

using DiscoveryTest = PulseServerTest;

TEST_F(DiscoveryTest, ListsTheVirtualMicrophoneOnceAndNoMonitor) {
  auto service =
      Linux::Capture::makeDeviceCaptureService({Linux::makePulseDeviceBackend(audioServer_)});
  const auto devices =
      service->discoverDevices({AVCaptureDeviceType::microphone, AVCaptureDeviceType::external},
                               MediaType::audio, AVCaptureDevicePosition::unspecified);
  ASSERT_EQ(devices.size(), 1U);
  EXPECT_EQ(devices[0]->uniqueID(), "virtual_mic");
  EXPECT_EQ(devices[0]->localizedName(), "Virtual Microphone");
  const auto formats = devices[0]->formats();
  ASSERT_EQ(formats.size(), 1U);
  const auto& format = *formats[0].formatDescription;
  EXPECT_EQ(format.mediaType, MediaType::audio);
  EXPECT_EQ(format.audio->sampleRate, 44100);
  EXPECT_EQ(format.audio->channelCount, 2);
  EXPECT_EQ(format.audioChannelLayoutChannelCount, 2);

  EXPECT_TRUE(service
                  ->discoverDevices({AVCaptureDeviceType::external}, std::nullopt,
                                    AVCaptureDevicePosition::unspecified)
                  .empty());
}

TEST_F(DiscoveryTest, DeviceInputNeedsTheSourceToStillExist) {
  auto service =
      Linux::Capture::makeDeviceCaptureService({Linux::makePulseDeviceBackend(audioServer_)});
  const auto devices = service->discoverDevices({AVCaptureDeviceType::microphone}, MediaType::audio,
                                                AVCaptureDevicePosition::unspecified);
  ASSERT_EQ(devices.size(), 1U);
  EXPECT_NE(service->makeDeviceInput(devices[0]), nullptr);

  ASSERT_EQ(pactl({"unload-module", "module-remap-source"}), 0);
  try {
    service->makeDeviceInput(devices[0]);
    ADD_FAILURE() << "a vanished source gave a device input";
  } catch (const Error& error) {
    EXPECT_EQ(error.localizedDescription(),
              "The audio device \"Virtual Microphone\" is no longer available");
  }
}

TEST_F(DiscoveryTest, WithoutAServerNothingIsListedAndMicrophoneIsDenied) {
  ASSERT_TRUE(audioServer_->accepts());
  stopServer();
  EXPECT_FALSE(audioServer_->accepts());
  auto service =
      Linux::Capture::makeDeviceCaptureService({Linux::makePulseDeviceBackend(audioServer_)});
  EXPECT_TRUE(service
                  ->discoverDevices({AVCaptureDeviceType::microphone}, MediaType::audio,
                                    AVCaptureDevicePosition::unspecified)
                  .empty());
  EXPECT_THROW(Linux::makePulseAudioCaptureFactory(audioServer_)
                   ->makeSystemAudioCapture()
                   ->start([](SampleBufferRef) {}),
               Error);
}

} // namespace
