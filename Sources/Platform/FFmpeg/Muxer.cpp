#include "Platform/FFmpeg/Muxer.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <cerrno>
#include <string>

namespace Platform::FFmpeg {

namespace {

constexpr std::chrono::milliseconds fragmentInterval{500};

const char* muxerName(AVFileType fileType) {
  switch (fileType) {
  case AVFileType::appleM4A:
    return "ipod";
  case AVFileType::mpeg4:
  case AVFileType::appleM4V:
    // FFmpeg's "m4v" muxer writes raw MPEG-4 video, not an MP4 file.
    return "mp4";
  case AVFileType::quickTimeMovie:
    return "mov";
  }
  return "mp4";
}

// Fragments of half a second at most, each with its own index, written as
// soon as they are complete: a killed process leaves every finished fragment
// readable and loses at most the last one and what the encoders still hold.
// With video, fragments also start at key frames.
AVDictionary* fragmentedOptions(AVFileType fileType) {
  AVDictionary* options = nullptr;
  const bool hasVideo = fileType != AVFileType::appleM4A;
  av_dict_set(
      &options, "movflags",
      hasVideo ? "empty_moov+frag_keyframe+default_base_moof" : "empty_moov+default_base_moof", 0);
  av_dict_set(&options, "frag_duration",
              std::to_string(std::chrono::microseconds(fragmentInterval).count()).c_str(), 0);
  if (fileType == AVFileType::appleM4V) {
    av_dict_set(&options, "brand", "M4V ", 0);
  }
  return options;
}

// Throws the failure as it was first seen: its code is what tells a full
// disk from other failures.
[[noreturn]] void throwFailure(const Error& error) {
  if (const auto* system = dynamic_cast<const SystemError*>(&error)) {
    throw *system;
  }
  throw SystemError(ErrorDomain::mediaWriting, EIO, error.localizedDescription());
}

} // namespace

Muxer::Muxer(std::unique_ptr<OutputFile> file, AVFileType fileType)
    : file_(std::move(file)), fileType_(fileType) {
  AVFormatContext* context = nullptr;
  const int result =
      avformat_alloc_output_context2(&context, nullptr, muxerName(fileType), nullptr);
  if (result < 0 || context == nullptr) {
    throw SystemError(ErrorDomain::mediaWriting, result,
                      "Could not set up the file " + quotedPath(file_->path()) + ": " +
                          libavErrorText(result) + ".");
  }
  context_.reset(context);
  context_->pb = file_->io();
  context_->flags |= AVFMT_FLAG_CUSTOM_IO;
  // Never opened (the I/O is ours); muxers read the name's extension.
  context_->url = av_strdup(file_->path().c_str());
  // Bounds what interleaving holds back when one track falls silent.
  context_->max_interleave_delta = 1'000'000;
}

int Muxer::addStream(const AVCodecContext& encoder, const std::string& name) {
  Lock lock(mutex_);
  AVStream* stream = avformat_new_stream(context_.get(), nullptr);
  if (stream == nullptr) {
    throw SystemError(ErrorDomain::mediaWriting, ENOMEM, "Could not add a track: out of memory.");
  }
  const int result = avcodec_parameters_from_context(stream->codecpar, &encoder);
  if (result < 0) {
    throw SystemError(ErrorDomain::mediaWriting, result,
                      "Could not add a track: " + libavErrorText(result) + ".");
  }
  stream->time_base = encoder.time_base;
  // Default streams are enabled tracks; several enabled tracks of one kind
  // each get an alternate group of their own.
  stream->disposition = AV_DISPOSITION_DEFAULT;
  av_dict_set(&stream->metadata, "language", "und", 0);
  if (!name.empty()) {
    // The handler name: what ffprobe and mediainfo show as the track's name.
    av_dict_set(&stream->metadata, "handler_name", name.c_str(), 0);
  }
  return stream->index;
}

void Muxer::writeHeader() {
  Lock lock(mutex_);
  AVDictionary* options = fragmentedOptions(fileType_);
  const int result = avformat_write_header(context_.get(), &options);
  av_dict_free(&options);
  if (result < 0) {
    error_ = failure("write the header of", result);
    throwFailure(*error_);
  }
  headerWritten_ = true;
  if (!file_->commit()) {
    error_ = file_->error();
    throwFailure(*error_);
  }
  // The first fragment is due half an interval after the header: soon, yet
  // late enough that every track has given its first packet, so that the
  // interleaver can still shift the tracks' starting times together.
  lastFragmentTime_ = std::chrono::steady_clock::now() - fragmentInterval / 2;
}

void Muxer::write(AVPacket& packet, int streamIndex, AVRational timeBase) {
  Lock lock(mutex_);
  if (error_) {
    av_packet_unref(&packet);
    throwFailure(*error_);
  }
  packet.stream_index = streamIndex;
  av_packet_rescale_ts(&packet, timeBase, context_->streams[streamIndex]->time_base);
  int result = av_interleaved_write_frame(context_.get(), &packet);
  const auto now = std::chrono::steady_clock::now();
  if (result >= 0 && now - lastFragmentTime_ >= fragmentInterval) {
    // Interleaving holds every track back while one lags (a video encoder
    // still filling its pipeline, a silent source); a kill would take all of
    // it. So a fragment goes out at least every fragment interval with
    // whatever has been encoded.
    result = av_interleaved_write_frame(context_.get(), nullptr);
    if (result >= 0) {
      result = av_write_frame(context_.get(), nullptr);
    }
  }
  // Each call writes whole fragments or nothing; they reach the file at once.
  const std::uint64_t sizeBefore = file_->committedSize();
  file_->commit();
  if (file_->committedSize() != sizeBefore) {
    lastFragmentTime_ = now;
  }
  if (result < 0 || file_->error()) {
    error_ = file_->error() ? file_->error() : failure("write", result);
    throwFailure(*error_);
  }
}

ErrorRef Muxer::finish() {
  Lock lock(mutex_);
  if (closed_) {
    return error_;
  }
  closed_ = true;
  if (headerWritten_ && !error_) {
    const int result = av_write_trailer(context_.get());
    if (result < 0 && !file_->error()) {
      error_ = failure("finish", result);
    }
  }
  file_->close();
  if (!error_ && file_->error()) {
    error_ = file_->error();
  }
  return error_;
}

void Muxer::discard() {
  Lock lock(mutex_);
  if (closed_) {
    return;
  }
  closed_ = true;
  file_->discardIfUnused();
}

ErrorRef Muxer::failure(const std::string& action, int error) {
  if (file_->error()) {
    return file_->error();
  }
  return makeError(ErrorDomain::mediaWriting, error,
                   "Could not " + action + " the file " + quotedPath(file_->path()) + ": " +
                       libavErrorText(error) + ".");
}

} // namespace Platform::FFmpeg
