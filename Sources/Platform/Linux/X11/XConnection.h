#pragma once

#include "Platform/ThreadSafety.h"

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>

// One connection to an X display, shared by reference count between every
// object that talks to it: discovery, streams and their grabbers. It interns
// the atoms the backend reads, probes the extensions once, and hands the
// events of the connection to subscribers.
//
// Thread contract: every member may be called from any thread (xcb itself is
// thread-safe). Event handlers run on the thread that calls pumpEvents, one at
// a time, and must be short: they may not subscribe, unsubscribe or pump.

namespace Platform::Linux::X11 {

// An xcb reply (or error) freed when it goes out of scope.
struct FreeDeleter {
  void operator()(void* pointer) const { std::free(pointer); }
};
template <typename T> using XReply = std::unique_ptr<T, FreeDeleter>;

enum class Atom {
  utf8String,
  compoundText,
  wmName,
  wmClass,
  wmState,
  netWmName,
  netWmPid,
  netWmState,
  netWmStateAbove,
  netWmStateBelow,
  netWmStateHidden,
  netWmWindowType,
  netWmWindowTypeNormal,
  netWmWindowTypeDesktop,
  netWmWindowTypeDock,
  netWmWindowTypeToolbar,
  netWmWindowTypeMenu,
  netWmWindowTypeUtility,
  netWmWindowTypeSplash,
  netWmWindowTypeDialog,
  netWmWindowTypeDropdownMenu,
  netWmWindowTypePopupMenu,
  netWmWindowTypeTooltip,
  netWmWindowTypeNotification,
  netWmWindowTypeCombo,
  netWmWindowTypeDnd,
  netWmDesktop,
  netCurrentDesktop,
  netActiveWindow,
  netClientList,
  netClientListStacking,
  count,
};

// What the server offers, probed once when the connection opens.
struct Extensions {
  bool composite = false; // 0.2 or later: NameWindowPixmap
  bool shm = false;
  bool xfixes = false; // cursor images
  std::uint8_t xfixesFirstEvent = 0;
  bool damage = false;
  std::uint8_t damageFirstEvent = 0;
  bool randrMonitors = false; // RandR 1.5
  std::uint8_t randrFirstEvent = 0;
};

class XConnection : public std::enable_shared_from_this<XConnection> {
public:
  // Opens `displayName`, or $DISPLAY when absent. Throws Platform::Error
  // with a text naming the display when it cannot be opened.
  static std::shared_ptr<XConnection> open(const std::optional<std::string>& displayName);

  ~XConnection();
  XConnection(const XConnection&) = delete;
  XConnection& operator=(const XConnection&) = delete;

  xcb_connection_t* get() const { return connection_; }
  const xcb_screen_t& screen() const { return *screen_; }
  xcb_window_t root() const { return screen_->root; }
  const std::string& displayName() const { return displayName_; }
  xcb_atom_t atom(Atom name) const { return atoms_[static_cast<std::size_t>(name)]; }
  const Extensions& extensions() const { return extensions_; }

  // Whether the server's 32-bit images are B, G, R, X bytes: the only layout
  // frames are grabbed in.
  bool hasCapturableImageFormat() const { return capturableImageFormat_; }

  // False once the server closed the connection or it broke.
  bool isAlive() const;

  // Allocates an id for a new server-side resource (damage, pixmap, segment).
  std::uint32_t generateId() const { return xcb_generate_id(connection_); }

  using EventHandler = std::function<void(const xcb_generic_event_t& event)>;

  // Ends the subscription when destroyed; the handler is not called after.
  class Subscription {
  public:
    Subscription() = default;
    Subscription(Subscription&& other) noexcept;
    Subscription& operator=(Subscription&& other) noexcept;
    ~Subscription();

  private:
    friend class XConnection;
    Subscription(std::shared_ptr<XConnection> connection, std::uint64_t id)
        : connection_(std::move(connection)), id_(id) {}
    void reset();
    std::shared_ptr<XConnection> connection_;
    std::uint64_t id_ = 0;
  };

  // `handler` sees every event and asynchronous error of the connection;
  // each subscriber picks its own by resource id.
  [[nodiscard]] Subscription subscribe(EventHandler handler);

  // Hands every event that has arrived to the subscribers, without blocking.
  void pumpEvents();

private:
  XConnection(xcb_connection_t* connection, int screenNumber, std::string displayName);
  void internAtoms();
  void probeExtensions();
  void unsubscribe(std::uint64_t id);

  xcb_connection_t* const connection_;
  const xcb_screen_t* screen_ = nullptr;
  const std::string displayName_;
  xcb_atom_t atoms_[static_cast<std::size_t>(Atom::count)] = {};
  Extensions extensions_;
  bool capturableImageFormat_ = false;

  Mutex eventMutex_; // serialises pumping with (un)subscribing
  std::list<std::pair<std::uint64_t, EventHandler>> handlers_ GUARDED_BY(eventMutex_);
  std::uint64_t nextHandlerId_ GUARDED_BY(eventMutex_) = 1;
};

} // namespace Platform::Linux::X11
