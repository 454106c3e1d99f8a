#include "Platform/Linux/PipeWire/PipeWireFrames.h"

#include "Platform/Error.h"
#include "Platform/Linux/PipeWire/BufferPicture.h"
#include "Platform/Linux/PipeWire/StreamParams.h"
#include "Platform/Linux/PipeWire/VideoFormats.h"
#include "Platform/ThreadSafety.h"
#include "Platform/Time.h"

#include <pipewire/pipewire.h>
#include <spa/utils/dict.h>

#include <condition_variable>
#include <cstring>

namespace Platform::Linux::PipeWire {

namespace {

// Defined with the other listeners, once Consumer is complete.
const pw_node_events& nodeEvents();
const pw_core_events& coreEvents();
const pw_stream_events& streamEvents();

} // namespace

// A cast that ends takes its node away; our stream itself only pauses: the
// registry tells which.
struct PipeWireFrames::Consumer final : RegistryWatcher {
  const std::shared_ptr<Core> core;
  const VideoNode target;
  spa_hook coreListener{};
  spa_hook nodeListener{};
  spa_hook streamListener{};

  // Under the loop's lock (on PipeWire's thread, or held by a caller):
  pw_stream* stream = nullptr;
  pw_proxy* nodeProxy = nullptr;  // the producer's node, to read its offer
  std::uint32_t node = PW_ID_ANY; // its id, once known
  bool streamed = false;
  std::vector<std::vector<std::uint8_t>> offer; // the node's EnumFormat params
  int offerRead = -1;                           // the core sync that ends the offer
  AgreedFormat agreed{SPA_VIDEO_FORMAT_UNKNOWN, 0, 0};
  Frame filling; // the next frame, copied without the lock

  mutable Mutex mutex;
  std::condition_variable arrived;
  Frame newest GUARDED_BY(mutex);
  std::uint64_t received GUARDED_BY(mutex) = 0;
  std::optional<std::string> failure GUARDED_BY(mutex);
  bool lostConnection GUARDED_BY(mutex) = false;
  bool gone GUARDED_BY(mutex) = false;

  // Under the loop's lock.
  Consumer(std::shared_ptr<Core> on, VideoNode node, double maxFrameRate)
      : core(std::move(on)), target(std::move(node)) {
    pw_core_add_listener(core->core(), &coreListener, &coreEvents(), this);
    if (core->lost()) {
      connectionBroke("the daemon went away");
    }
    core->watch(*this);
    pw_properties* properties =
        pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                          PW_KEY_MEDIA_ROLE, target.role.c_str(), nullptr);
    if (!target.id) {
      // The session manager links us to the node of that name.
      pw_properties_set(properties, PW_KEY_TARGET_OBJECT, target.name.c_str());
    }
    stream = pw_stream_new(core->core(), "videoCapture", properties);
    if (stream == nullptr) {
      takeDown();
      throw SystemError(ErrorDomain::screenCapture, -3802, "Could not make a PipeWire stream");
    }
    pw_stream_add_listener(stream, &streamListener, &streamEvents(), this);
    std::uint8_t storage[2048];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof storage);
    auto formats = offeredFormats(builder, maxFrameRate);
    if (pw_stream_connect(
            stream, PW_DIRECTION_INPUT, target.id.value_or(PW_ID_ANY),
            static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
            formats.data(), formats.size()) < 0) {
      takeDown();
      throw SystemError(ErrorDomain::screenCapture, -3802,
                        "Could not connect to " + target.description);
    }
  }
  Consumer(const Consumer&) = delete;
  Consumer& operator=(const Consumer&) = delete;

  // Under the loop's lock: no listener of ours runs again.
  void takeDown() {
    if (stream != nullptr) {
      pw_stream_destroy(stream);
      stream = nullptr;
    }
    if (nodeProxy != nullptr) {
      spa_hook_remove(&nodeListener);
      pw_proxy_destroy(nodeProxy);
      nodeProxy = nullptr;
    }
    core->unwatch(*this);
    spa_hook_remove(&coreListener);
  }

  void globalAdded(std::uint32_t id, const char* type, const spa_dict* props) override {
    if (nodeProxy != nullptr || std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0) {
      return;
    }
    const char* name = props != nullptr ? spa_dict_lookup(props, PW_KEY_NODE_NAME) : nullptr;
    if (target.id ? id == *target.id : name != nullptr && target.name == name) {
      node = id;
      readOffer();
    }
  }

  void globalRemoved(std::uint32_t id) override {
    if (id == node) {
      nodeWent();
    }
  }

  void nodeWent() {
    {
      Lock lock(mutex);
      gone = true;
    }
    end(target.goneMessage);
  }

  void connectionBroke(const char* message) {
    {
      Lock lock(mutex);
      lostConnection = true;
    }
    end(std::string("The connection to PipeWire was lost: ") + (message ? message : ""));
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
        pw_registry_bind(core->registry(), node, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, 0));
    if (nodeProxy == nullptr) {
      return;
    }
    pw_node_add_listener(reinterpret_cast<pw_node*>(nodeProxy), &nodeListener, &nodeEvents(), this);
    pw_node_enum_params(reinterpret_cast<pw_node*>(nodeProxy), 0, SPA_PARAM_EnumFormat, 0,
                        UINT32_MAX, nullptr);
    // The sync's answer comes after every param of the enumeration.
    offerRead = pw_core_sync(core->core(), PW_ID_CORE, 0);
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
    const auto format = agreedFormat(param);
    if (!format) {
      return;
    }
    agreed = *format;
    std::uint8_t storage[512];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof storage);
    auto params = bufferParams(builder);
    pw_stream_update_params(stream, params.data(), params.size());
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
    static_assert(hostTimeScale == 1'000'000'000, "host time counts nanoseconds");
    const bool copied = copyPicture(*buffer->buffer, agreed, hostTimeNow().value, filling);
    pw_stream_queue_buffer(stream, buffer);
    if (!copied) {
      return;
    }
    {
      Lock lock(mutex);
      filling.sequence = ++received;
      std::swap(filling, newest);
    }
    arrived.notify_all();
  }
};

namespace {

using Consumer = PipeWireFrames::Consumer;

const pw_node_events& nodeEvents() {
  static const pw_node_events events = [] {
    pw_node_events events{};
    events.version = PW_VERSION_NODE_EVENTS;
    events.param = [](void* data, int, std::uint32_t id, std::uint32_t, std::uint32_t,
                      const spa_pod* param) {
      if (id == SPA_PARAM_EnumFormat && param != nullptr) {
        static_cast<Consumer*>(data)->offered(param);
      }
    };
    return events;
  }();
  return events;
}

const pw_core_events& coreEvents() {
  static const pw_core_events events = [] {
    pw_core_events events{};
    events.version = PW_VERSION_CORE_EVENTS;
    events.done = [](void* data, std::uint32_t id, int seq) {
      auto& consumer = *static_cast<Consumer*>(data);
      if (id == PW_ID_CORE && seq == consumer.offerRead) {
        consumer.offerComplete();
      }
    };
    events.error = [](void* data, std::uint32_t id, int, int, const char* message) {
      if (id == PW_ID_CORE) {
        static_cast<Consumer*>(data)->connectionBroke(message);
      }
    };
    return events;
  }();
  return events;
}

const pw_stream_events& streamEvents() {
  static const pw_stream_events events = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = [](void* data, pw_stream_state, pw_stream_state state,
                              const char* error) {
      auto& consumer = *static_cast<Consumer*>(data);
      if (state == PW_STREAM_STATE_ERROR) {
        consumer.end(capitalized(consumer.target.description) + " failed: " + (error ? error : ""));
      } else if (state == PW_STREAM_STATE_STREAMING) {
        consumer.streamed = true;
      } else if (state == PW_STREAM_STATE_UNCONNECTED && consumer.streamed) {
        consumer.nodeWent();
      }
    };
    events.param_changed = [](void* data, std::uint32_t id, const spa_pod* param) {
      if (id == SPA_PARAM_Format) {
        static_cast<Consumer*>(data)->formatChanged(param);
      }
    };
    events.process = [](void* data) { static_cast<Consumer*>(data)->process(); };
    return events;
  }();
  return events;
}

} // namespace

std::string capitalized(std::string text) {
  if (!text.empty() && text.front() >= 'a' && text.front() <= 'z') {
    text.front() = static_cast<char>(text.front() - 'a' + 'A');
  }
  return text;
}

PipeWireFrames::PipeWireFrames(std::shared_ptr<Core> core, VideoNode node, double maxFrameRate) {
  LoopLock loop(core->loop());
  consumer_ = std::make_unique<Consumer>(std::move(core), std::move(node), maxFrameRate);
}

PipeWireFrames::~PipeWireFrames() {
  LoopLock loop(consumer_->core->loop());
  consumer_->takeDown();
}

bool PipeWireFrames::waitForFirstFrame(std::chrono::milliseconds timeout) {
  Consumer& c = *consumer_;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  Lock lock(c.mutex);
  while (c.received == 0 && !c.failure && std::chrono::steady_clock::now() < deadline) {
    lock.waitUntil(c.arrived, deadline);
  }
  return c.received > 0;
}

bool PipeWireFrames::takeNewer(Frame& into) {
  Consumer& c = *consumer_;
  Lock lock(c.mutex);
  // After a swap the older frame stays behind: never handed on again.
  if (c.newest.sequence <= into.sequence) {
    return false;
  }
  std::swap(c.newest, into);
  return true;
}

std::optional<std::string> PipeWireFrames::failure() const {
  Lock lock(consumer_->mutex);
  return consumer_->failure;
}

bool PipeWireFrames::nodeGone() const {
  Lock lock(consumer_->mutex);
  return consumer_->gone;
}

bool PipeWireFrames::connectionLost() const {
  Lock lock(consumer_->mutex);
  return consumer_->lostConnection;
}

} // namespace Platform::Linux::PipeWire
