#include "Platform/Linux/Wayland/ScreenCastPortal.h"

#include "Platform/Error.h"

#include "Platform/Linux/SdBusHandles.h"
#include "Platform/PickerAnswers.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace Platform::Linux::Wayland {

namespace {

constexpr const char* portalName = "org.freedesktop.portal.Desktop";
constexpr const char* portalPath = "/org/freedesktop/portal/desktop";
constexpr const char* screenCastInterface = "org.freedesktop.portal.ScreenCast";

constexpr std::uint64_t callTimeoutMicroseconds = 10'000'000;
// The user may take a while to choose; past this the dialog is abandoned.
constexpr std::uint64_t answerTimeoutMicroseconds = 600'000'000;

// The portal's cursor modes (bit masks of its interface).
constexpr std::uint32_t cursorHidden = 1;
constexpr std::uint32_t cursorEmbedded = 2;

// The portal's answers: 0 granted, 1 cancelled by the user, 2 other end.
constexpr std::uint32_t responseCancelled = 1;

// Restore tokens and persist modes came with version 4 of the interface.
constexpr std::uint32_t firstVersionThatRemembers = 4;
// Remember the pick until the user revokes it.
constexpr std::uint32_t persistUntilRevoked = 2;

[[noreturn]] void fail(std::int64_t code, const std::string& description) {
  throw SystemError(ErrorDomain::screenCapture, code, description);
}
[[noreturn]] void fail(const std::string& description) {
  fail(-3802, description);
}

void check(int result, const char* what) {
  if (result < 0) {
    fail(std::string("The screen-cast portal's answer could not be read (") + what + ")");
  }
}

BusHandle openSessionBus() {
  sd_bus* raw = nullptr;
  if (sd_bus_open_user(&raw) < 0) {
    fail("The session bus cannot be reached, so the desktop's screen-cast portal cannot either");
  }
  BusHandle bus(raw);
  sd_bus_set_method_call_timeout(bus.get(), callTimeoutMicroseconds);
  return bus;
}

// Every request of this process gets its own token: the portal derives the
// request's object path from it.
std::string nextToken() {
  static std::atomic<unsigned> counter{0};
  return "tarsel" + std::to_string(getpid()) + "_" + std::to_string(++counter);
}

// One portal request: the call returns at once, the answer comes later as
// the Response signal of the request object, which we listen to before
// calling so that no answer is missed.
class Request {
public:
  Request(sd_bus* bus, std::string token, const std::stop_token& stop,
          std::optional<std::chrono::milliseconds> patience)
      : bus_(bus), token_(std::move(token)), stop_(stop), patience_(patience) {
    const char* unique = nullptr;
    check(sd_bus_get_unique_name(bus, &unique), "unique name");
    std::string sender = unique + 1; // without the leading ':'
    std::replace(sender.begin(), sender.end(), '.', '_');
    path_ = std::string(portalPath) + "/request/" + sender + "/" + token_;
    if (sd_bus_match_signal(bus, &slot_, portalName, path_.c_str(),
                            "org.freedesktop.portal.Request", "Response", &Request::onResponse,
                            this) < 0) {
      fail("Could not listen to the screen-cast portal");
    }
  }
  ~Request() { sd_bus_slot_unref(slot_); }
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;

  const std::string& token() const { return token_; }

  // Waits for the answer; its results stay readable in the message. A stop
  // or the end of the patience closes the request, and the dialog with it.
  sd_bus_message* await(const char* step) {
    std::uint64_t waited = 0;
    // A stop is seen within a slice: well within the second a user waits.
    constexpr std::uint64_t slice = 50'000;
    const std::uint64_t patience = patience_ ? static_cast<std::uint64_t>(patience_->count()) * 1000
                                             : answerTimeoutMicroseconds;
    while (!response_) {
      const int processed = sd_bus_process(bus_, nullptr);
      if (processed < 0) {
        fail(std::string("The connection to the screen-cast portal broke during ") + step);
      }
      if (processed > 0) {
        continue;
      }
      if (stop_.stop_requested()) {
        close();
        fail(userDeclinedScreenCaptureCode,
             "The recording was stopped while the desktop's picker was open");
      }
      if (waited >= patience) {
        close();
        fail(std::string("The screen-cast portal did not answer ") + step);
      }
      sd_bus_wait(bus_, slice);
      waited += slice;
    }
    std::uint32_t code = 0;
    check(sd_bus_message_read(response_.get(), "u", &code), "response");
    if (code == responseCancelled) {
      fail(userDeclinedScreenCaptureCode, pickCancelledDescription);
    }
    if (code != 0) {
      fail(std::string("The desktop refused the screen cast at ") + step);
    }
    return response_.get();
  }

private:
  static int onResponse(sd_bus_message* message, void* self, sd_bus_error*) {
    static_cast<Request*>(self)->response_.reset(sd_bus_message_ref(message));
    return 0;
  }

  // Withdraws the request: the desktop closes its dialog.
  void close() {
    sd_bus_call_method(bus_, portalName, path_.c_str(), "org.freedesktop.portal.Request", "Close",
                       nullptr, nullptr, "");
  }

  sd_bus* bus_;
  std::string token_;
  std::stop_token stop_;
  std::optional<std::chrono::milliseconds> patience_;
  std::string path_;
  sd_bus_slot* slot_ = nullptr;
  MessageHandle response_;
};

// Calls a method of the ScreenCast portal: `arguments` appends the ones
// before the options, `options` adds to the options, which always carry the
// request's "handle_token".
template <typename Arguments, typename Options>
void callPortal(sd_bus* bus, const char* method, const Request& request, Arguments arguments,
                Options options) {
  sd_bus_message* raw = nullptr;
  check(sd_bus_message_new_method_call(bus, &raw, portalName, portalPath, screenCastInterface,
                                       method),
        "call");
  MessageHandle call(raw);
  arguments(call.get());
  check(sd_bus_message_open_container(call.get(), 'a', "{sv}"), "options");
  check(sd_bus_message_append(call.get(), "{sv}", "handle_token", "s", request.token().c_str()),
        "options");
  options(call.get());
  check(sd_bus_message_close_container(call.get()), "options");
  BusError error;
  sd_bus_message* reply = nullptr;
  if (sd_bus_call(bus, call.get(), 0, error.get(), &reply) < 0) {
    fail(std::string("The screen-cast portal refused ") + method + ": " + error.text());
  }
  sd_bus_message_unref(reply);
}

// Reads the "session_handle" of CreateSession's results.
std::string readSessionHandle(sd_bus_message* results) {
  check(sd_bus_message_enter_container(results, 'a', "{sv}"), "results");
  std::optional<std::string> handle;
  while (sd_bus_message_enter_container(results, 'e', "sv") > 0) {
    const char* key = nullptr;
    check(sd_bus_message_read(results, "s", &key), "results");
    const char* value = nullptr;
    if (std::string(key) == "session_handle" &&
        sd_bus_message_read(results, "v", "s", &value) >= 0) {
      handle = value;
    } else {
      check(sd_bus_message_skip(results, "v"), "results");
    }
    check(sd_bus_message_exit_container(results), "results");
  }
  if (!handle) {
    fail("The screen-cast portal made no session");
  }
  return *handle;
}

// Reads Start's results: the first stream's node, kind and size, and the
// token that restores the pick.
void readStream(sd_bus_message* results, ScreenCastGrant& grant) {
  bool found = false;
  check(sd_bus_message_enter_container(results, 'a', "{sv}"), "results");
  while (sd_bus_message_enter_container(results, 'e', "sv") > 0) {
    const char* key = nullptr;
    check(sd_bus_message_read(results, "s", &key), "results");
    if (std::string(key) == "restore_token") {
      const char* token = nullptr;
      check(sd_bus_message_read(results, "v", "s", &token), "restore token");
      grant.restoreToken = token;
      check(sd_bus_message_exit_container(results), "results");
      continue;
    }
    if (std::string(key) != "streams" || found) {
      check(sd_bus_message_skip(results, "v"), "results");
      check(sd_bus_message_exit_container(results), "results");
      continue;
    }
    check(sd_bus_message_enter_container(results, 'v', "a(ua{sv})"), "streams");
    check(sd_bus_message_enter_container(results, 'a', "(ua{sv})"), "streams");
    if (sd_bus_message_enter_container(results, 'r', "ua{sv}") > 0) {
      check(sd_bus_message_read(results, "u", &grant.node), "stream");
      found = true;
      check(sd_bus_message_enter_container(results, 'a', "{sv}"), "stream");
      while (sd_bus_message_enter_container(results, 'e', "sv") > 0) {
        const char* property = nullptr;
        check(sd_bus_message_read(results, "s", &property), "stream");
        if (std::string(property) == "size") {
          check(sd_bus_message_read(results, "v", "(ii)", &grant.width, &grant.height), "size");
        } else if (std::string(property) == "source_type") {
          std::uint32_t type = 0;
          check(sd_bus_message_read(results, "v", "u", &type), "source type");
          grant.source = type == static_cast<std::uint32_t>(CastSource::window)
                             ? CastSource::window
                             : CastSource::monitor;
        } else {
          check(sd_bus_message_skip(results, "v"), "stream");
        }
        check(sd_bus_message_exit_container(results), "stream");
      }
      check(sd_bus_message_exit_container(results), "stream");
      check(sd_bus_message_exit_container(results), "stream");
    }
    // Only one source is asked for: further streams are not read.
    check(sd_bus_message_exit_container(results), "streams");
    check(sd_bus_message_exit_container(results), "streams");
    check(sd_bus_message_exit_container(results), "results");
  }
  if (!found) {
    fail("The screen-cast portal granted no stream");
  }
}

// Ends the portal session, then lets go of the bus connection (which alone
// would end it too, a little later).
struct Session {
  BusHandle bus;
  std::string handle;
  ~Session() {
    sd_bus_call_method(bus.get(), portalName, handle.c_str(), "org.freedesktop.portal.Session",
                       "Close", nullptr, nullptr, "");
  }
};

// A property of the ScreenCast portal; 0 when it cannot be read.
std::uint32_t portalProperty(sd_bus* bus, const char* name) {
  BusError error;
  std::uint32_t value = 0;
  if (sd_bus_get_property_trivial(bus, portalName, portalPath, screenCastInterface, name,
                                  error.get(), 'u', &value) < 0) {
    return 0;
  }
  return value;
}

} // namespace

bool screenCastPortalAvailable() {
  try {
    return portalProperty(openSessionBus().get(), "version") > 0;
  } catch (const Error&) {
    return false;
  }
}

namespace {

// Names the kinds of source in a portal's bit mask, for errors.
std::string describeSources(std::uint32_t sources) {
  std::string names;
  for (const auto& [bit, name] :
       {std::pair{CastSource::monitor, "screens"}, std::pair{CastSource::window, "windows"}}) {
    if ((sources & static_cast<std::uint32_t>(bit)) != 0) {
      names += (names.empty() ? "" : " and ") + std::string(name);
    }
  }
  return names.empty() ? "nothing" : names;
}

// One run of the portal's three steps. `token`, when given, asks the desktop
// to restore that pick; `refusedToken` is set when the portal refused the
// request that carried it, so that the caller can ask again without.
ScreenCastGrant castOnce(const ScreenCastRequest& request, const std::optional<std::string>& token,
                         const std::stop_token& stop, bool& refusedToken) {
  auto session = std::make_shared<Session>();
  session->bus = openSessionBus();
  sd_bus* bus = session->bus.get();
  const auto makeRequest = [&] { return Request(bus, nextToken(), stop, request.patience); };

  {
    Request created = makeRequest();
    const std::string sessionToken = nextToken();
    callPortal(
        bus, "CreateSession", created, [](sd_bus_message*) {},
        [&](sd_bus_message* call) {
          check(sd_bus_message_append(call, "{sv}", "session_handle_token", "s",
                                      sessionToken.c_str()),
                "options");
        });
    session->handle = readSessionHandle(created.await("creating the session"));
  }
  {
    // A portal that cannot say what it offers is asked for everything wanted.
    const std::uint32_t offered = portalProperty(bus, "AvailableSourceTypes");
    const std::uint32_t types = offered != 0 ? offered & request.sources : request.sources;
    if (types == 0) {
      fail("The desktop's screen-cast portal offers " + describeSources(offered) +
           ", and this recording needs " + describeSources(request.sources));
    }
    const bool remembers = portalProperty(bus, "version") >= firstVersionThatRemembers;
    // A portal rejects a cursor mode it does not offer: without an embedded
    // cursor, the cursor is left out.
    const std::uint32_t cursor =
        request.showsCursor && (portalProperty(bus, "AvailableCursorModes") & cursorEmbedded) != 0
            ? cursorEmbedded
            : cursorHidden;
    Request selected = makeRequest();
    try {
      callPortal(
          bus, "SelectSources", selected,
          [&](sd_bus_message* call) {
            check(sd_bus_message_append(call, "o", session->handle.c_str()), "session");
          },
          [&](sd_bus_message* call) {
            check(sd_bus_message_append(call, "{sv}", "types", "u", types), "options");
            check(sd_bus_message_append(call, "{sv}", "cursor_mode", "u", cursor), "options");
            check(sd_bus_message_append(call, "{sv}", "multiple", "b", 0), "options");
            if (remembers) {
              check(sd_bus_message_append(call, "{sv}", "persist_mode", "u", persistUntilRevoked),
                    "options");
              if (token) {
                check(sd_bus_message_append(call, "{sv}", "restore_token", "s", token->c_str()),
                      "options");
              }
            }
          });
      selected.await("choosing the source");
    } catch (const SystemError&) {
      refusedToken = token.has_value() && !stop.stop_requested();
      throw;
    }
  }
  ScreenCastGrant grant;
  {
    Request started = makeRequest();
    callPortal(
        bus, "Start", started,
        [&](sd_bus_message* call) {
          check(sd_bus_message_append(call, "os", session->handle.c_str(), ""), "session");
        },
        [](sd_bus_message*) {});
    readStream(started.await("the picker"), grant);
  }

  BusError error;
  sd_bus_message* rawReply = nullptr;
  if (sd_bus_call_method(bus, portalName, portalPath, screenCastInterface, "OpenPipeWireRemote",
                         error.get(), &rawReply, "oa{sv}", session->handle.c_str(), 0) < 0) {
    fail("The screen-cast portal did not open PipeWire: " + error.text());
  }
  MessageHandle reply(rawReply);
  int descriptor = -1;
  check(sd_bus_message_read(reply.get(), "h", &descriptor), "PipeWire connection");
  // The message owns its descriptor: keep a copy of our own.
  grant.remote = fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
  if (grant.remote < 0) {
    fail("The PipeWire connection of the screen cast could not be kept");
  }
  grant.lease = std::move(session);
  return grant;
}

} // namespace

ScreenCastGrant requestScreenCast(const ScreenCastRequest& request, std::stop_token stop) {
  bool refusedToken = false;
  try {
    return castOnce(request, request.restoreToken, stop, refusedToken);
  } catch (const SystemError&) {
    if (!refusedToken) {
      throw;
    }
  }
  // A portal that refuses the token outright (rather than showing its
  // dialog, as a stale one does) is asked as if there were none.
  return castOnce(request, std::nullopt, stop, refusedToken);
}

} // namespace Platform::Linux::Wayland
