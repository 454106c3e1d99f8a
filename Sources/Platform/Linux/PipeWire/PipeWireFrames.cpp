#include "Platform/Linux/PipeWire/PipeWireFrames.h"

#include "Platform/Error.h"
#include "Platform/Linux/PipeWire/FrameTiming.h"
#include "Platform/Linux/PipeWire/VideoFormats.h"
#include "Platform/ThreadSafety.h"
#include "Platform/Time.h"

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <spa/utils/dict.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <numeric>

#include <unistd.h>

namespace Platform::Linux::PipeWire {

namespace {

// Largest frame side offered: beyond what any compositor casts.
constexpr std::uint32_t largestSide = 16384;
// Fastest frame rate offered, and the limit when the caller sets none.
constexpr std::uint32_t fastestRate = 1000;

// The rate limit as SPA states it: a fraction, within the rates offered.
spa_fraction rateLimit(double maxFrameRate) {
  if (!(maxFrameRate > 0) || maxFrameRate >= fastestRate) {
    return {fastestRate, 1};
  }
  // Microsecond precision: a limit of one frame an hour still counts.
  constexpr std::uint32_t denominator = 1'000'000;
  const auto numerator = std::max<std::uint32_t>(
      1, static_cast<std::uint32_t>(std::lround(maxFrameRate * denominator)));
  const std::uint32_t common = std::gcd(numerator, denominator);
  return {numerator / common, denominator / common};
}

// What we take: a taken raw format (or, in a second param, MJPG) in shared
// memory, any size and rate up to the limit. Producers that send at a fixed
// rate (framerate: cameras) are taken at it; those that cast at a variable
// rate (mutter, framerate 0/1) are asked for at most the limit
// (maxFramerate).
const spa_pod* enumFormat(spa_pod_builder& builder, spa_fraction limit, bool mjpg) {
  spa_rectangle defaultSize{1280, 720};
  spa_rectangle smallest{1, 1};
  spa_rectangle largest{largestSide, largestSide};
  spa_fraction variableRate{0, 1};
  spa_fraction fastest{fastestRate, 1};
  spa_pod_frame object;
  spa_pod_builder_push_object(&builder, &object, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
  spa_pod_builder_add(&builder, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
                      SPA_FORMAT_mediaSubtype,
                      SPA_POD_Id(mjpg ? SPA_MEDIA_SUBTYPE_mjpg : SPA_MEDIA_SUBTYPE_raw), 0);
  if (!mjpg) {
    spa_pod_builder_prop(&builder, SPA_FORMAT_VIDEO_format, 0);
    spa_pod_frame choice;
    spa_pod_builder_push_choice(&builder, &choice, SPA_CHOICE_Enum, 0);
    const auto formats = takenRawFormats();
    spa_pod_builder_id(&builder, formats.front()); // the preferred one
    for (const std::uint32_t format : formats) {
      spa_pod_builder_id(&builder, format);
    }
    spa_pod_builder_pop(&builder, &choice);
  }
  spa_pod_builder_add(&builder, SPA_FORMAT_VIDEO_size,
                      SPA_POD_CHOICE_RANGE_Rectangle(&defaultSize, &smallest, &largest),
                      SPA_FORMAT_VIDEO_framerate,
                      SPA_POD_CHOICE_RANGE_Fraction(&variableRate, &variableRate, &fastest),
                      SPA_FORMAT_VIDEO_maxFramerate,
                      SPA_POD_CHOICE_RANGE_Fraction(&limit, &variableRate, &limit), 0);
  return static_cast<const spa_pod*>(spa_pod_builder_pop(&builder, &object));
}

// Defined with the other listeners, once Connection is complete.
const pw_node_events& nodeEvents();

[[noreturn]] void fail(const std::string& description) {
  throw SystemError(ErrorDomain::screenCapture, -3802, description);
}

} // namespace

struct PipeWireFrames::Connection {
  pw_thread_loop* loop = nullptr;
  pw_context* context = nullptr;
  pw_core* core = nullptr;
  pw_stream* stream = nullptr;
  pw_registry* registry = nullptr;
  pw_proxy* nodeProxy = nullptr; // the producer's node, to read its offer
  VideoNode target;
  std::uint32_t node = PW_ID_ANY; // its id, once known
  spa_hook coreListener{};
  spa_hook registryListener{};
  spa_hook nodeListener{};
  spa_hook streamListener{};

  // On PipeWire's thread only:
  bool streamed = false;
  std::vector<std::vector<std::uint8_t>> offer;    // the node's EnumFormat params
  int offerRead = -1;                              // the core sync that ends the offer
  std::uint32_t format = SPA_VIDEO_FORMAT_UNKNOWN; // negotiated (or mjpgFormat)
  std::int32_t width = 0;                          // of the negotiated format
  std::int32_t height = 0;
  Frame filling; // the next frame, copied without the lock

  mutable Mutex mutex;
  std::condition_variable arrived;
  Frame newest GUARDED_BY(mutex);
  std::uint64_t received GUARDED_BY(mutex) = 0;
  std::optional<std::string> failure GUARDED_BY(mutex);
  bool lostConnection GUARDED_BY(mutex) = false;
  bool gone GUARDED_BY(mutex) = false;

  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  // Also after a half-done start: whatever was made is taken down.
  ~Connection() {
    if (loop != nullptr) {
      pw_thread_loop_stop(loop);
    }
    if (stream != nullptr) {
      pw_stream_destroy(stream);
    }
    if (nodeProxy != nullptr) {
      pw_proxy_destroy(nodeProxy);
    }
    if (registry != nullptr) {
      pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
    }
    if (core != nullptr) {
      pw_core_disconnect(core);
    }
    if (context != nullptr) {
      pw_context_destroy(context);
    }
    if (loop != nullptr) {
      pw_thread_loop_destroy(loop);
    }
  }

  void nodeWent() {
    {
      Lock lock(mutex);
      gone = true;
    }
    end(target.goneMessage);
  }

  void end(std::string why) {
    {
      Lock lock(mutex);
      if (!failure) {
        failure = std::move(why);
      }
    }
    arrived.notify_all();
  }

  // Reads what the producer offers, so that an offer of nothing we take
  // fails now rather than leave us waiting for a frame.
  void readOffer() {
    nodeProxy = static_cast<pw_proxy*>(
        pw_registry_bind(registry, node, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, 0));
    if (nodeProxy == nullptr) {
      return;
    }
    pw_node_add_listener(reinterpret_cast<pw_node*>(nodeProxy), &nodeListener, &nodeEvents(), this);
    pw_node_enum_params(reinterpret_cast<pw_node*>(nodeProxy), 0, SPA_PARAM_EnumFormat, 0,
                        UINT32_MAX, nullptr);
    // The sync's answer comes after every param of the enumeration.
    offerRead = pw_core_sync(core, PW_ID_CORE, 0);
  }

  void offered(const spa_pod* param) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(param);
    offer.emplace_back(bytes, bytes + SPA_POD_SIZE(param));
  }

  void offerComplete() {
    std::vector<const spa_pod*> params;
    for (const auto& bytes : offer) {
      params.push_back(reinterpret_cast<const spa_pod*>(bytes.data()));
    }
    if (auto complaint = unrecordableOffer(params, capitalized(target.description))) {
      end(std::move(*complaint));
    }
  }

  void formatChanged(const spa_pod* param) {
    spa_video_info info{};
    if (param == nullptr || spa_format_video_parse(param, &info) < 0) {
      return;
    }
    if (info.media_subtype == SPA_MEDIA_SUBTYPE_raw) {
      format = info.info.raw.format;
      width = static_cast<std::int32_t>(info.info.raw.size.width);
      height = static_cast<std::int32_t>(info.info.raw.size.height);
    } else if (info.media_subtype == SPA_MEDIA_SUBTYPE_mjpg) {
      format = mjpgFormat;
      width = static_cast<std::int32_t>(info.info.mjpg.size.width);
      height = static_cast<std::int32_t>(info.info.mjpg.size.height);
    } else {
      return;
    }
    // Memory the CPU can read (no GPU buffers), the crop a window cast
    // carries, and when each frame was made.
    std::uint8_t storage[512];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof storage);
    const spa_pod* params[3];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
    params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_VideoCrop), SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_region))));
    params[2] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_header))));
    pw_stream_update_params(stream, params, 3);
  }

  void process() {
    // Only the newest buffer matters: older ones go straight back.
    pw_buffer* buffer = pw_stream_dequeue_buffer(stream);
    if (buffer == nullptr) {
      return;
    }
    while (pw_buffer* next = pw_stream_dequeue_buffer(stream)) {
      pw_stream_queue_buffer(stream, buffer);
      buffer = next;
    }
    copyOut(*buffer->buffer);
    pw_stream_queue_buffer(stream, buffer);
  }

  void copyOut(spa_buffer& buffer) {
    if (buffer.n_datas < 1 || width <= 0 || height <= 0) {
      return;
    }
    // An empty chunk carries only cursor news: the picture did not change.
    const auto filled = [&](std::uint32_t plane) -> std::span<const std::uint8_t> {
      const spa_data& data = buffer.datas[plane];
      if (data.data == nullptr || data.chunk == nullptr || data.chunk->size == 0 ||
          (data.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) != 0) {
        return {};
      }
      // Never read past what the producer filled, whatever it claims.
      const std::size_t offset = data.chunk->offset % std::max<std::uint32_t>(data.maxsize, 1);
      const std::size_t size = std::min<std::size_t>(data.maxsize - offset, data.chunk->size);
      return {static_cast<const std::uint8_t*>(data.data) + offset, size};
    };
    const auto bytesPerRow = [&](std::uint32_t plane) {
      const std::int32_t stride = buffer.datas[plane].chunk->stride;
      if (stride > 0) {
        return static_cast<std::size_t>(stride);
      }
      const std::size_t unpadded = unpaddedBytesPerRow(format, width);
      // Planes after the first of I420 and YV12 have half as many pixels a row.
      return plane == 0 || planeCount(format) == 2 ? unpadded : (unpadded + 1) / 2;
    };
    const std::span<const std::uint8_t> first = filled(0);
    if (first.empty()) {
      return;
    }
    static_assert(hostTimeScale == 1'000'000'000, "host time counts nanoseconds");
    const std::int64_t arrivedAt = hostTimeNow().value;

    // Planes come one to a data, or one after the other in the first.
    const std::size_t planes = planeCount(format);
    SourcePicture picture;
    if (planes > 1 && buffer.n_datas >= planes) {
      picture = {format, width, height, {}, {}};
      for (std::uint32_t plane = 0; plane < planes; ++plane) {
        picture.planes[plane] = filled(plane);
        picture.bytesPerRow[plane] = bytesPerRow(plane);
      }
    } else {
      picture =
          contiguousPlanes(format, width, height, first, format == mjpgFormat ? 0 : bytesPerRow(0));
    }
    Region region{0, 0, width, height};
    if (auto* crop = static_cast<spa_meta_region*>(
            spa_buffer_find_meta_data(&buffer, SPA_META_VideoCrop, sizeof(spa_meta_region)));
        crop != nullptr && crop->region.size.width > 0 && crop->region.size.height > 0 &&
        format != mjpgFormat) {
      region.x = std::clamp<std::int32_t>(crop->region.position.x, 0, width);
      region.y = std::clamp<std::int32_t>(crop->region.position.y, 0, height);
      region.width = std::min<std::int32_t>(static_cast<std::int32_t>(crop->region.size.width),
                                            width - region.x);
      region.height = std::min<std::int32_t>(static_cast<std::int32_t>(crop->region.size.height),
                                             height - region.y);
    }
    if (region.width <= 0 || region.height <= 0) {
      return;
    }
    filling.width = region.width;
    filling.height = region.height;
    filling.bytesPerRow = static_cast<std::size_t>(region.width) * 4;
    filling.pixels.resize(filling.bytesPerRow * static_cast<std::size_t>(region.height));
    // The one copy of the frame, converting it as it goes.
    if (!convertToBGRX(picture, region, filling.pixels.data(), filling.bytesPerRow)) {
      return;
    }
    const auto* header = static_cast<const spa_meta_header*>(
        spa_buffer_find_meta_data(&buffer, SPA_META_Header, sizeof(spa_meta_header)));
    filling.producedAtNanoseconds = productionInstant(
        header != nullptr ? std::optional<std::int64_t>(header->pts) : std::nullopt, arrivedAt);
    {
      Lock lock(mutex);
      filling.sequence = ++received;
      std::swap(filling, newest);
    }
    arrived.notify_all();
  }
};

namespace {

const pw_node_events& nodeEvents() {
  static const pw_node_events events = [] {
    pw_node_events events{};
    events.version = PW_VERSION_NODE_EVENTS;
    events.param = [](void* data, int, std::uint32_t id, std::uint32_t, std::uint32_t,
                      const spa_pod* param) {
      if (id == SPA_PARAM_EnumFormat && param != nullptr) {
        static_cast<PipeWireFrames::Connection*>(data)->offered(param);
      }
    };
    return events;
  }();
  return events;
}

const pw_core_events coreEvents = [] {
  pw_core_events events{};
  events.version = PW_VERSION_CORE_EVENTS;
  events.done = [](void* data, std::uint32_t id, int seq) {
    auto& connection = *static_cast<PipeWireFrames::Connection*>(data);
    if (id == PW_ID_CORE && seq == connection.offerRead) {
      connection.offerComplete();
    }
  };
  events.error = [](void* data, std::uint32_t id, int, int, const char* message) {
    if (id == PW_ID_CORE) {
      auto& connection = *static_cast<PipeWireFrames::Connection*>(data);
      {
        Lock lock(connection.mutex);
        connection.lostConnection = true;
      }
      connection.end(std::string("The connection to PipeWire was lost: ") +
                     (message ? message : ""));
    }
  };
  return events;
}();

// A cast that ends takes its node away; our stream itself only pauses.
const pw_registry_events registryEvents = [] {
  pw_registry_events events{};
  events.version = PW_VERSION_REGISTRY_EVENTS;
  events.global = [](void* data, std::uint32_t id, std::uint32_t, const char* type, std::uint32_t,
                     const spa_dict* props) {
    auto& connection = *static_cast<PipeWireFrames::Connection*>(data);
    if (connection.nodeProxy != nullptr || std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0) {
      return;
    }
    const VideoNode& target = connection.target;
    const char* name = props != nullptr ? spa_dict_lookup(props, PW_KEY_NODE_NAME) : nullptr;
    if (target.id ? id == *target.id : name != nullptr && target.name == name) {
      connection.node = id;
      connection.readOffer();
    }
  };
  events.global_remove = [](void* data, std::uint32_t id) {
    auto& connection = *static_cast<PipeWireFrames::Connection*>(data);
    if (id == connection.node) {
      connection.nodeWent();
    }
  };
  return events;
}();

const pw_stream_events streamEvents = [] {
  pw_stream_events events{};
  events.version = PW_VERSION_STREAM_EVENTS;
  events.state_changed = [](void* data, pw_stream_state, pw_stream_state state, const char* error) {
    auto& connection = *static_cast<PipeWireFrames::Connection*>(data);
    if (state == PW_STREAM_STATE_ERROR) {
      connection.end(capitalized(connection.target.description) +
                     " failed: " + (error ? error : ""));
    } else if (state == PW_STREAM_STATE_STREAMING) {
      connection.streamed = true;
    } else if (state == PW_STREAM_STATE_UNCONNECTED && connection.streamed) {
      connection.nodeWent();
    }
  };
  events.param_changed = [](void* data, std::uint32_t id, const spa_pod* param) {
    if (id == SPA_PARAM_Format) {
      static_cast<PipeWireFrames::Connection*>(data)->formatChanged(param);
    }
  };
  events.process = [](void* data) { static_cast<PipeWireFrames::Connection*>(data)->process(); };
  return events;
}();

} // namespace

std::string capitalized(std::string text) {
  if (!text.empty() && text.front() >= 'a' && text.front() <= 'z') {
    text.front() = static_cast<char>(text.front() - 'a' + 'A');
  }
  return text;
}

PipeWireFrames::PipeWireFrames(VideoNode node, double maxFrameRate)
    : connection_(std::make_unique<Connection>()) {
  pw_init(nullptr, nullptr);
  Connection& c = *connection_;
  const int remote = node.remote;
  c.target = std::move(node);
  c.loop = pw_thread_loop_new("videoNode", nullptr);
  if (c.loop == nullptr) {
    if (remote >= 0) {
      close(remote);
    }
    fail("Could not start a PipeWire thread");
  }
  c.context = pw_context_new(pw_thread_loop_get_loop(c.loop), nullptr, 0);
  if (c.context == nullptr || pw_thread_loop_start(c.loop) < 0) {
    if (remote >= 0) {
      close(remote);
    }
    fail("Could not start a PipeWire thread");
  }
  pw_thread_loop_lock(c.loop);
  c.core = remote >= 0 ? pw_context_connect_fd(c.context, remote, nullptr, 0)
                       : pw_context_connect(c.context, nullptr, 0);
  if (c.core == nullptr) {
    pw_thread_loop_unlock(c.loop);
    fail("Could not connect to PipeWire");
  }
  pw_core_add_listener(c.core, &c.coreListener, &coreEvents, &c);
  c.registry = pw_core_get_registry(c.core, PW_VERSION_REGISTRY, 0);
  if (c.registry != nullptr) {
    pw_registry_add_listener(c.registry, &c.registryListener, &registryEvents, &c);
  }
  pw_properties* properties =
      pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                        PW_KEY_MEDIA_ROLE, c.target.role.c_str(), nullptr);
  if (!c.target.id) {
    // The session manager links us to the node of that name.
    pw_properties_set(properties, PW_KEY_TARGET_OBJECT, c.target.name.c_str());
  }
  c.stream = pw_stream_new(c.core, "videoCapture", properties);
  if (c.stream == nullptr) {
    pw_thread_loop_unlock(c.loop);
    fail("Could not make a PipeWire stream");
  }
  pw_stream_add_listener(c.stream, &c.streamListener, &streamEvents, &c);

  std::uint8_t storage[2048];
  spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof storage);
  const spa_pod* formats[] = {enumFormat(builder, rateLimit(maxFrameRate), false),
                              enumFormat(builder, rateLimit(maxFrameRate), true)};
  const int connected = pw_stream_connect(
      c.stream, PW_DIRECTION_INPUT, c.target.id.value_or(PW_ID_ANY),
      static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
      formats, 2);
  pw_thread_loop_unlock(c.loop);
  if (connected < 0) {
    fail("Could not connect to " + c.target.description);
  }
}

PipeWireFrames::~PipeWireFrames() = default;

bool PipeWireFrames::waitForFirstFrame(std::chrono::milliseconds timeout) {
  Connection& c = *connection_;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  Lock lock(c.mutex);
  while (c.received == 0 && !c.failure && std::chrono::steady_clock::now() < deadline) {
    lock.waitUntil(c.arrived, deadline);
  }
  return c.received > 0;
}

bool PipeWireFrames::takeNewer(Frame& into) {
  Connection& c = *connection_;
  Lock lock(c.mutex);
  // After a swap the older frame stays behind: never handed on again.
  if (c.newest.sequence <= into.sequence) {
    return false;
  }
  std::swap(c.newest, into);
  return true;
}

std::optional<std::string> PipeWireFrames::failure() const {
  Lock lock(connection_->mutex);
  return connection_->failure;
}

bool PipeWireFrames::nodeGone() const {
  Lock lock(connection_->mutex);
  return connection_->gone;
}

bool PipeWireFrames::connectionLost() const {
  Lock lock(connection_->mutex);
  return connection_->lostConnection;
}

} // namespace Platform::Linux::PipeWire
