#include "Platform/Linux/X11/ImageGrabber.h"

#include <xcb/shm.h>

#include <sys/ipc.h>
#include <sys/shm.h>

namespace Platform::Linux::X11 {

namespace {

constexpr std::uint32_t allPlanes = ~0U;

// X protocol error codes.
constexpr std::uint8_t badWindow = 3;
constexpr std::uint8_t badPixmap = 4;
constexpr std::uint8_t badMatch = 8;
constexpr std::uint8_t badDrawable = 9;

} // namespace

// A System V segment attached both here and in the server. Marked for removal
// as soon as both are attached, so it cannot leak past the process.
struct ImageGrabber::Segment {
  xcb_connection_t* connection = nullptr;
  xcb_shm_seg_t id = 0;
  std::uint8_t* memory = nullptr;
  std::size_t size = 0;

  ~Segment() {
    xcb_shm_detach(connection, id);
    xcb_flush(connection);
    shmdt(memory);
  }
};

ImageGrabber::ImageGrabber(std::shared_ptr<XConnection> connection)
    : connection_(std::move(connection)), shmRefused_(!connection_->extensions().shm) {}

ImageGrabber::~ImageGrabber() = default;

bool ImageGrabber::ensureSegment(std::size_t size) {
  if (shmRefused_) {
    return false;
  }
  if (segment_ && segment_->size >= size) {
    return true;
  }
  segment_.reset();
  const int shmId = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
  if (shmId < 0) {
    shmRefused_ = true;
    return false;
  }
  void* memory = shmat(shmId, nullptr, 0);
  if (memory == reinterpret_cast<void*>(-1)) {
    shmctl(shmId, IPC_RMID, nullptr);
    shmRefused_ = true;
    return false;
  }
  xcb_connection_t* c = connection_->get();
  const xcb_shm_seg_t id = connection_->generateId();
  XReply<xcb_generic_error_t> error(
      xcb_request_check(c, xcb_shm_attach_checked(c, id, static_cast<std::uint32_t>(shmId), 0)));
  shmctl(shmId, IPC_RMID, nullptr);
  if (error) {
    shmdt(memory);
    shmRefused_ = true;
    return false;
  }
  // Filled in place: a temporary Segment would detach the memory when it dies.
  segment_ = std::make_unique<Segment>();
  segment_->connection = c;
  segment_->id = id;
  segment_->memory = static_cast<std::uint8_t*>(memory);
  segment_->size = size;
  return true;
}

ImageGrabber::Outcome ImageGrabber::outcomeOf(const xcb_generic_error_t* error) {
  switch (error->error_code) {
  case badMatch:
    return Outcome::unavailable;
  case badWindow:
  case badPixmap:
  case badDrawable:
    return Outcome::gone;
  default:
    return Outcome::failed;
  }
}

ImageGrabber::Grab ImageGrabber::grab(xcb_drawable_t drawable, std::int16_t x, std::int16_t y,
                                      std::uint16_t width, std::uint16_t height) {
  xcb_connection_t* c = connection_->get();
  const std::size_t bytesPerRow = static_cast<std::size_t>(width) * 4;
  const std::size_t size = bytesPerRow * height;
  Grab result;
  if (ensureSegment(size)) {
    xcb_generic_error_t* rawError = nullptr;
    XReply<xcb_shm_get_image_reply_t> reply(
        xcb_shm_get_image_reply(c,
                                xcb_shm_get_image(c, drawable, x, y, width, height, allPlanes,
                                                  XCB_IMAGE_FORMAT_Z_PIXMAP, segment_->id, 0),
                                &rawError));
    XReply<xcb_generic_error_t> error(rawError);
    if (!reply) {
      result.outcome = error ? outcomeOf(error.get()) : Outcome::failed;
      return result;
    }
    result.outcome = Outcome::grabbed;
    result.image = MutableImage{segment_->memory, width, height, bytesPerRow};
    return result;
  }
  xcb_generic_error_t* rawError = nullptr;
  lastReply_.reset(xcb_get_image_reply(
      c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, x, y, width, height, allPlanes),
      &rawError));
  XReply<xcb_generic_error_t> error(rawError);
  if (!lastReply_) {
    result.outcome = error ? outcomeOf(error.get()) : Outcome::failed;
    return result;
  }
  if (static_cast<std::size_t>(xcb_get_image_data_length(lastReply_.get())) < size) {
    result.outcome = Outcome::failed;
    return result;
  }
  result.outcome = Outcome::grabbed;
  result.image = MutableImage{xcb_get_image_data(lastReply_.get()), width, height, bytesPerRow};
  return result;
}

} // namespace Platform::Linux::X11
