#include "Platform/Linux/Echo/EchoCancellingCapture.h"

#include "Platform/Linux/Echo/EchoCanceller.h"
#include "Platform/Linux/Echo/ReferenceHistory.h"
#include "Platform/Linux/Echo/RoomDelay.h"
#include "Platform/Log.h"
#include "Platform/ThreadSafety.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <optional>
#include <vector>

namespace Platform::Linux::Echo {

namespace {

// How long a microphone buffer waits for the reference of its instants. The
// reference's buffers arrive about as late as the microphone's; one that
// stalls (a suspended sink) is carried on as silence a quarter second
// later, and this waits that out.
constexpr std::int64_t referencePatienceNanoseconds = 400'000'000;
// The reference is handed over this much less early than the room delays
// it: the canceller's filter needs the echo to come after what made it.
constexpr std::int64_t delayMarginNanoseconds = 30'000'000;
// What played this long ago is kept for a room that slow.
constexpr std::int64_t referenceKeptNanoseconds = 500'000'000;

std::int64_t instantOfFrame(const CMSampleBuffer& buffer, std::size_t frame) {
  const auto frames = buffer.audioBuffer()->frameCount;
  const CMTime duration = buffer.duration();
  const std::int64_t length = duration.isNumeric() ? duration.value : 0;
  return buffer.presentationTimeStamp().value +
         static_cast<std::int64_t>(static_cast<double>(length) * static_cast<double>(frame) /
                                   static_cast<double>(std::max<std::size_t>(frames, 1)));
}

class EchoCancellingCapture final : public AudioCapture {
public:
  EchoCancellingCapture(std::unique_ptr<AudioCapture> microphone,
                        std::unique_ptr<AudioCapture> reference)
      : microphone_(std::move(microphone)), reference_(std::move(reference)) {}

  ~EchoCancellingCapture() override { stop(); }

  void start(std::function<void(SampleBufferRef)> deliver) override {
    {
      const Lock lock(mutex_);
      deliver_ = std::move(deliver);
    }
    try {
      reference_->start([this](SampleBufferRef buffer) { referenceArrived(*buffer); });
      referenceRuns_ = true;
    } catch (const Error& error) {
      log(LogLevel::warning, std::string("Nothing the speakers play can be heard (") +
                                 error.what() + "); the microphone is recorded as it hears");
    }
    try {
      microphone_->start([this](SampleBufferRef buffer) { microphoneArrived(std::move(buffer)); });
    } catch (...) {
      stopReference();
      throw;
    }
    started_ = true;
  }

  void stop() override {
    if (!started_) {
      return;
    }
    started_ = false;
    microphone_->stop();
    stopReference();
    const Lock lock(mutex_);
    drain(true);
  }

private:
  void stopReference() {
    if (referenceRuns_) {
      referenceRuns_ = false;
      reference_->stop();
    }
  }

  void referenceArrived(const CMSampleBuffer& buffer) {
    const Lock lock(mutex_);
    if (!history_ && buffer.formatDescription() && buffer.formatDescription()->audio) {
      const auto& format = *buffer.formatDescription()->audio;
      referenceFormat_ = format;
      history_.emplace(static_cast<int>(format.sampleRate), format.channelCount);
    }
    if (history_) {
      history_->add(buffer);
    }
    drain(false);
  }

  void microphoneArrived(SampleBufferRef buffer) {
    const auto& audio = buffer->audioBuffer();
    if (!audio || audio->frameCount == 0 || !buffer->formatDescription() ||
        !buffer->formatDescription()->audio) {
      return;
    }
    const Lock lock(mutex_);
    microphoneChannels_ =
        static_cast<std::size_t>(buffer->formatDescription()->audio->channelCount);
    const auto* samples = reinterpret_cast<const float*>(audio->bytes.data());
    samples_.insert(samples_.end(), samples, samples + audio->frameCount * microphoneChannels_);
    waiting_.push_back({std::move(buffer), hostTimeNow().value});
    drain(false);
  }

  // The canceller, once both formats are known; none when it cannot take
  // them (the microphone is then passed on as it is).
  EchoCanceller* canceller(const FormatDescription& microphone) REQUIRES(mutex_) {
    if (canceller_ || cancellerRefused_ || !referenceFormat_) {
      return canceller_ ? &*canceller_ : nullptr;
    }
    try {
      canceller_.emplace(
          static_cast<int>(microphone.audio->sampleRate), microphone.audio->channelCount,
          static_cast<int>(referenceFormat_->sampleRate), referenceFormat_->channelCount);
      return &*canceller_;
    } catch (const Error& error) {
      cancellerRefused_ = true;
      log(LogLevel::warning,
          std::string(error.what()) + "; the microphone is recorded as it hears");
      return nullptr;
    }
  }

  // Cleans what waits as far as the reference allows (all of it, at the
  // end), and passes on every buffer that is clean.
  void drain(bool final) REQUIRES(mutex_) {
    while (!waiting_.empty()) {
      const Waiting& oldest = waiting_.front();
      const bool patienceOver =
          final || hostTimeNow().value - oldest.arrived > referencePatienceNanoseconds;
      EchoCanceller* cancelling = canceller(*oldest.buffer->formatDescription());
      if (cancelling == nullptr) {
        if (!patienceOver && !cancellerRefused_ && referenceRuns_) {
          return; // the reference's format is yet to come
        }
        processedFrames_ = oldest.buffer->audioBuffer()->frameCount;
      } else if (!cleanNextFrames(*cancelling, final)) {
        return;
      }
      passOnClean();
    }
  }

  // Cleans 10 ms of what waits, once its reference is in (or waited for
  // long enough); false when it must wait.
  bool cleanNextFrames(EchoCanceller& cancelling, bool final) REQUIRES(mutex_) {
    const std::size_t length = cancelling.microphoneFrameLength();
    const std::size_t frames = samples_.size() / microphoneChannels_;
    if (frames - processedFrames_ < length && !final) {
      return false;
    }
    // The buffer that holds the first frame to clean gives its instant.
    std::size_t frameInBuffer = processedFrames_;
    auto holder = waiting_.begin();
    while (frameInBuffer >= (*holder).buffer->audioBuffer()->frameCount) {
      frameInBuffer -= (*holder).buffer->audioBuffer()->frameCount;
      ++holder;
    }
    const std::int64_t start = instantOfFrame(*holder->buffer, frameInBuffer);
    const std::int64_t end = start + 10'000'000;
    const bool patienceOver =
        final || hostTimeNow().value - holder->arrived > referencePatienceNanoseconds;
    if (!history_->covers(end) && !patienceOver) {
      return false;
    }
    const std::size_t referenceLength = cancelling.referenceFrameLength();
    const int referenceChannels = referenceFormat_->channelCount;
    reference_buffer_.resize(referenceLength * static_cast<std::size_t>(referenceChannels));
    samples_.resize(std::max(samples_.size(), (processedFrames_ + length) * microphoneChannels_),
                    0.0F);
    float* microphone = samples_.data() + processedFrames_ * microphoneChannels_;
    history_->read(start, referenceLength, reference_buffer_.data());
    roomDelay_.add(microphone, length, static_cast<int>(microphoneChannels_),
                   reference_buffer_.data(), referenceLength, referenceChannels);
    const std::int64_t shift =
        std::max<std::int64_t>(0, roomDelay_.nanoseconds() - delayMarginNanoseconds);
    history_->read(start - shift, referenceLength, reference_buffer_.data());
    history_->forgetBefore(start - referenceKeptNanoseconds);
    cancelling.process(microphone, reference_buffer_.data());
    processedFrames_ += length;
    return true;
  }

  // Every waiting buffer whose frames are all clean goes on, with its own
  // timing and the clean sound.
  void passOnClean() REQUIRES(mutex_) {
    while (!waiting_.empty() &&
           waiting_.front().buffer->audioBuffer()->frameCount <= processedFrames_) {
      const SampleBufferRef& raw = waiting_.front().buffer;
      const std::size_t frames = raw->audioBuffer()->frameCount;
      const std::size_t count = frames * microphoneChannels_;
      auto audio = std::make_shared<AudioBuffer>();
      audio->frameCount = frames;
      audio->bytes.resize(count * sizeof(float));
      std::memcpy(audio->bytes.data(), samples_.data(), audio->bytes.size());
      samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(count));
      processedFrames_ -= frames;
      CMSampleBuffer::Contents contents;
      contents.formatDescription = raw->formatDescription();
      contents.timing = raw->sampleTimingInfos().value_or(std::vector<CMSampleTimingInfo>{});
      contents.audioBuffer = std::move(audio);
      waiting_.pop_front();
      deliver_(CMSampleBuffer::make(std::move(contents)));
    }
    if (waiting_.empty()) {
      // Padding past the last buffer, at the end, is no sound of ours.
      samples_.clear();
      processedFrames_ = 0;
    }
  }

  struct Waiting {
    SampleBufferRef buffer;
    std::int64_t arrived = 0;
  };

  const std::unique_ptr<AudioCapture> microphone_;
  const std::unique_ptr<AudioCapture> reference_;
  // The controlling thread's.
  bool started_ = false;
  // Read by the captures' threads too.
  std::atomic<bool> referenceRuns_{false};

  Mutex mutex_;
  std::function<void(SampleBufferRef)> deliver_ GUARDED_BY(mutex_);
  std::optional<AudioStreamDescription> referenceFormat_ GUARDED_BY(mutex_);
  std::optional<ReferenceHistory> history_ GUARDED_BY(mutex_);
  std::optional<EchoCanceller> canceller_ GUARDED_BY(mutex_);
  RoomDelay roomDelay_ GUARDED_BY(mutex_);
  bool cancellerRefused_ GUARDED_BY(mutex_) = false;
  std::size_t microphoneChannels_ GUARDED_BY(mutex_) = 1;
  std::deque<Waiting> waiting_ GUARDED_BY(mutex_);
  std::vector<float> samples_ GUARDED_BY(mutex_);      // of the waiting buffers, interleaved
  std::size_t processedFrames_ GUARDED_BY(mutex_) = 0; // clean, from the front of samples_
  std::vector<float> reference_buffer_ GUARDED_BY(mutex_);
};

} // namespace

std::unique_ptr<AudioCapture> makeEchoCancellingCapture(std::unique_ptr<AudioCapture> microphone,
                                                        std::unique_ptr<AudioCapture> reference) {
  return std::make_unique<EchoCancellingCapture>(std::move(microphone), std::move(reference));
}

} // namespace Platform::Linux::Echo
