#include "Platform/Linux/X11/ImageGrabber.h"

#include "Platform/ThreadSafety.h"

#include <xcb/shm.h>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <vector>

namespace Platform::Linux::X11 {

namespace {

constexpr std::uint32_t allPlanes = ~0U;

// Frames lent out at once, at most: the last one shown, those queued for the
// receivers and the encoder. Past it a grab goes to a segment of its own and
// the frame is a copy.
constexpr std::size_t mostLentSegments = 12;
// Returned segments kept for the next grabs.
constexpr std::size_t mostShelvedSegments = 4;

// X protocol error codes.
constexpr std::uint8_t badWindow = 3;
constexpr std::uint8_t badPixmap = 4;
constexpr std::uint8_t badMatch = 8;
constexpr std::uint8_t badDrawable = 9;

} // namespace

// A System V segment attached both here and in the server. Marked for removal
// as soon as both are attached, so it cannot leak past the process.
// Lent segments come back from any thread: the last holder of a frame.
struct ImageGrabber::Segment {
  std::shared_ptr<XConnection> connection;
  xcb_shm_seg_t id = 0;
  std::uint8_t* memory = nullptr;
  std::size_t size = 0;

  ~Segment() {
    xcb_shm_detach(connection->get(), id);
    xcb_flush(connection->get());
    shmdt(memory);
  }
};

struct ImageGrabber::Shelf {
  Mutex mutex;
  std::vector<std::unique_ptr<Segment>> free GUARDED_BY(mutex);
  std::size_t lent GUARDED_BY(mutex) = 0;

  // Keeps a segment for the next grabs while there is room; detaches it
  // otherwise.
  void put(std::unique_ptr<Segment> segment) {
    Lock lock(mutex);
    if (free.size() < mostShelvedSegments) {
      free.push_back(std::move(segment));
    }
  }
};

ImageGrabber::ImageGrabber(std::shared_ptr<XConnection> connection)
    : connection_(std::move(connection)), shelf_(std::make_shared<Shelf>()),
      shmRefused_(!connection_->extensions().shm) {}

ImageGrabber::~ImageGrabber() = default;

std::unique_ptr<ImageGrabber::Segment> ImageGrabber::makeSegment(std::size_t size) {
  const int shmId = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
  if (shmId < 0) {
    shmRefused_ = true;
    return nullptr;
  }
  void* memory = shmat(shmId, nullptr, 0);
  if (memory == reinterpret_cast<void*>(-1)) {
    shmctl(shmId, IPC_RMID, nullptr);
    shmRefused_ = true;
    return nullptr;
  }
  xcb_connection_t* c = connection_->get();
  const xcb_shm_seg_t id = connection_->generateId();
  XReply<xcb_generic_error_t> error(
      xcb_request_check(c, xcb_shm_attach_checked(c, id, static_cast<std::uint32_t>(shmId), 0)));
  shmctl(shmId, IPC_RMID, nullptr);
  if (error) {
    shmdt(memory);
    shmRefused_ = true;
    return nullptr;
  }
  // Filled in place: a temporary Segment would detach the memory when it dies.
  auto segment = std::make_unique<Segment>();
  segment->connection = connection_;
  segment->id = id;
  segment->memory = static_cast<std::uint8_t*>(memory);
  segment->size = size;
  return segment;
}

// A segment of exactly `size` bytes to lend out: a returned one, or a new one
// while not too many are out; none past that or without shared memory.
std::unique_ptr<ImageGrabber::Segment> ImageGrabber::takeSegment(std::size_t size) {
  if (shmRefused_) {
    return nullptr;
  }
  {
    Lock lock(shelf_->mutex);
    auto& free = shelf_->free;
    // Segments of another size are of a size the content no longer has.
    std::erase_if(free, [size](const auto& segment) { return segment->size != size; });
    if (!free.empty()) {
      auto segment = std::move(free.back());
      free.pop_back();
      return segment;
    }
    if (shelf_->lent >= mostLentSegments) {
      return nullptr;
    }
  }
  return makeSegment(size);
}

std::shared_ptr<void> ImageGrabber::lend(std::unique_ptr<Segment> segment) {
  {
    Lock lock(shelf_->mutex);
    ++shelf_->lent;
  }
  return std::shared_ptr<void>(segment.release(),
                               [shelf = std::weak_ptr<Shelf>(shelf_)](void* lent) {
                                 std::unique_ptr<Segment> returned(static_cast<Segment*>(lent));
                                 const auto alive = shelf.lock();
                                 if (!alive) {
                                   return; // the grabber is gone: detached here
                                 }
                                 {
                                   Lock lock(alive->mutex);
                                   --alive->lent;
                                 }
                                 alive->put(std::move(returned));
                               });
}

bool ImageGrabber::ensureSegment(std::size_t size) {
  if (shmRefused_) {
    return false;
  }
  if (segment_ && segment_->size >= size) {
    return true;
  }
  segment_.reset();
  segment_ = makeSegment(size);
  return segment_ != nullptr;
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
  std::unique_ptr<Segment> lent = takeSegment(size);
  if (lent || ensureSegment(size)) {
    const Segment& segment = lent ? *lent : *segment_;
    xcb_generic_error_t* rawError = nullptr;
    XReply<xcb_shm_get_image_reply_t> reply(
        xcb_shm_get_image_reply(c,
                                xcb_shm_get_image(c, drawable, x, y, width, height, allPlanes,
                                                  XCB_IMAGE_FORMAT_Z_PIXMAP, segment.id, 0),
                                &rawError));
    XReply<xcb_generic_error_t> error(rawError);
    if (!reply) {
      result.outcome = error ? outcomeOf(error.get()) : Outcome::failed;
      if (lent) {
        shelf_->put(std::move(lent));
      }
      return result;
    }
    result.outcome = Outcome::grabbed;
    result.image = Capture::MutableImage{segment.memory, width, height, bytesPerRow};
    if (lent) {
      result.lease = lend(std::move(lent));
    }
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
  result.image =
      Capture::MutableImage{xcb_get_image_data(lastReply_.get()), width, height, bytesPerRow};
  return result;
}

} // namespace Platform::Linux::X11
