#include "VideoStream.h"

#include <spa/param/video/format-utils.h>
#include <spa/utils/result.h>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace VirtualCamera {

namespace {

spa_video_format rawFormat(Format format) {
  switch (format) {
  case Format::yuy2:
    return SPA_VIDEO_FORMAT_YUY2;
  case Format::uyvy:
    return SPA_VIDEO_FORMAT_UYVY;
  case Format::nv12:
    return SPA_VIDEO_FORMAT_NV12;
  case Format::i420:
    return SPA_VIDEO_FORMAT_I420;
  case Format::bgrx:
    return SPA_VIDEO_FORMAT_BGRx;
  case Format::rgbx:
    return SPA_VIDEO_FORMAT_RGBx;
  case Format::mjpg:
    break;
  }
  return SPA_VIDEO_FORMAT_UNKNOWN;
}

// Exactly the camera's format, size and rate.
const spa_pod* offeredFormat(spa_pod_builder& builder, const Options& options) {
  spa_pod_frame frame;
  spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
  const bool compressed = options.format == Format::mjpg;
  spa_pod_builder_add(&builder, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
                      SPA_FORMAT_mediaSubtype,
                      SPA_POD_Id(compressed ? SPA_MEDIA_SUBTYPE_mjpg : SPA_MEDIA_SUBTYPE_raw), 0);
  if (!compressed) {
    spa_pod_builder_add(&builder, SPA_FORMAT_VIDEO_format, SPA_POD_Id(rawFormat(options.format)),
                        0);
  }
  const spa_rectangle size = SPA_RECTANGLE(options.width, options.height);
  const spa_fraction rate = SPA_FRACTION(options.rate, 1);
  spa_pod_builder_add(&builder, SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size),
                      SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate), 0);
  return static_cast<const spa_pod*>(spa_pod_builder_pop(&builder, &frame));
}

timespec toTimespec(DemoWindow::Clock::time_point at) {
  const auto nanoseconds =
      std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
  return {static_cast<time_t>(nanoseconds / 1'000'000'000),
          static_cast<long>(nanoseconds % 1'000'000'000)};
}

} // namespace

VideoStream::VideoStream(pw_core* core, pw_loop* loop, const Options& options,
                         const DemoWindow::Flashes& flashes,
                         std::function<void(pw_stream_state)> onState)
    : options_(options), flashes_(flashes), onState_(std::move(onState)), painter_(options),
      loop_(loop),
      period_(std::chrono::duration_cast<DemoWindow::Clock::duration>(std::chrono::seconds(1)) /
              options.rate) {
  pw_properties* properties =
      pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_NODE_NAME, options.name.c_str(),
                        PW_KEY_NODE_DESCRIPTION, options.description.c_str(), nullptr);
  if (options.audio) {
    pw_properties_set(properties, PW_KEY_NODE_GROUP, options.name.c_str());
  }
  stream_.reset(pw_stream_new(core, options.name.c_str(), properties));
  if (!stream_) {
    throw std::runtime_error("cannot make a video stream");
  }
  static const pw_stream_events events = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = [](void* self, pw_stream_state, pw_stream_state state, const char*) {
      static_cast<VideoStream*>(self)->stateChanged(state);
    };
    events.param_changed = [](void* self, std::uint32_t id, const spa_pod* param) {
      if (id == SPA_PARAM_Format && param != nullptr) {
        static_cast<VideoStream*>(self)->formatChanged();
      }
    };
    events.process = [](void* self) { static_cast<VideoStream*>(self)->process(); };
    return events;
  }();
  pw_stream_add_listener(stream_.get(), &listener_, &events, this);

  timer_ = pw_loop_add_timer(
      loop_, [](void* self, std::uint64_t) { static_cast<VideoStream*>(self)->tick(); }, this);

  std::uint8_t buffer[1024];
  spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
  const spa_pod* params[] = {offeredFormat(builder, options)};
  // Not linked by the session manager to a sink: consumers ask for it.
  auto flags = PW_STREAM_FLAG_MAP_BUFFERS;
  if (drives()) {
    flags = static_cast<pw_stream_flags>(flags | PW_STREAM_FLAG_DRIVER);
  }
  const int result =
      pw_stream_connect(stream_.get(), PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1);
  if (result < 0) {
    throw std::runtime_error(std::string("cannot connect the video stream: ") +
                             spa_strerror(result));
  }
}

VideoStream::~VideoStream() {
  spa_hook_remove(&listener_);
  stream_.reset();
  pw_loop_destroy_source(loop_, timer_);
}

void VideoStream::stateChanged(pw_stream_state state) {
  // Frames are due from now on while a consumer streams, one a period.
  if (state == PW_STREAM_STATE_STREAMING) {
    nextFrame_ = DemoWindow::Clock::now();
  }
  if (state == PW_STREAM_STATE_STREAMING && drives() && options_.frames) {
    timespec first = toTimespec(nextFrame_);
    timespec interval = toTimespec(DemoWindow::Clock::time_point(period_));
    pw_loop_update_timer(loop_, timer_, &first, &interval, true);
  } else if (state != PW_STREAM_STATE_STREAMING) {
    pw_loop_update_timer(loop_, timer_, nullptr, nullptr, false);
  }
  onState_(state);
}

void VideoStream::formatChanged() {
  std::uint8_t buffer[1024];
  spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
  const spa_pod* params[] = {
      static_cast<const spa_pod*>(spa_pod_builder_add_object(
          &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
          SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
          SPA_PARAM_BUFFERS_size, SPA_POD_Int(static_cast<int>(painter_.maximumSize())),
          SPA_PARAM_BUFFERS_stride, SPA_POD_Int(static_cast<int>(painter_.stride())),
          SPA_PARAM_BUFFERS_dataType,
          SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr)))),
      static_cast<const spa_pod*>(spa_pod_builder_add_object(
          &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
          SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header)))),
  };
  pw_stream_update_params(stream_.get(), params, 2);
}

void VideoStream::tick() {
  pw_stream_trigger_process(stream_.get());
}

// Called at every tick when driving, else at every cycle of the group's
// driver. One frame for each period begun, stamped with the instant its period
// began, which is when its picture shows. Planar formats fill the one data
// block: the Y plane (stride = width), then the chroma, as consumers of a
// single block expect: interleaved UV for NV12, U then V for I420.
void VideoStream::process() {
  const auto now = DemoWindow::Clock::now();
  if (!options_.frames || now < nextFrame_) {
    return;
  }
  pw_buffer* buffer = pw_stream_dequeue_buffer(stream_.get());
  if (buffer == nullptr) {
    return;
  }
  // After a stall the picture of now follows, not a backlog.
  const auto shown = now - nextFrame_ < period_ ? nextFrame_ : now;
  nextFrame_ = shown + period_;
  spa_data& data = buffer->buffer->datas[0];
  std::size_t size = 0;
  if (data.data != nullptr) {
    size = painter_.paint(flashes_.isOn(shown), frame_, static_cast<std::uint8_t*>(data.data),
                          data.maxsize);
  }
  if (auto* header = static_cast<spa_meta_header*>(
          spa_buffer_find_meta_data(buffer->buffer, SPA_META_Header, sizeof(spa_meta_header)))) {
    header->flags = 0;
    header->offset = 0;
    header->pts =
        std::chrono::duration_cast<std::chrono::nanoseconds>(shown.time_since_epoch()).count();
    header->dts_offset = 0;
    header->seq = frame_;
  }
  ++frame_;
  data.chunk->offset = 0;
  data.chunk->size = static_cast<std::uint32_t>(size);
  data.chunk->stride = static_cast<std::int32_t>(painter_.stride());
  data.chunk->flags = size == 0 ? SPA_CHUNK_FLAG_CORRUPTED : SPA_CHUNK_FLAG_NONE;
  pw_stream_queue_buffer(stream_.get(), buffer);
}

} // namespace VirtualCamera
