#include "Platform/Linux/X11/XDiscovery.h"

#include "Platform/Linux/X11/ClientWindowSelection.h"
#include "Platform/Linux/X11/TextDecoding.h"

#include <xcb/randr.h>

#include <algorithm>
#include <fstream>
#include <map>

namespace Platform::Linux::X11 {

namespace {

// Longer property values are cut here: titles and lists are far shorter.
constexpr std::uint32_t maximumPropertyWords = 16384;

xcb_get_property_cookie_t requestProperty(const XConnection& connection, xcb_window_t window,
                                          Atom name, std::uint32_t words = maximumPropertyWords) {
  return xcb_get_property(connection.get(), 0, window, connection.atom(name), XCB_ATOM_ANY, 0,
                          words);
}

XReply<xcb_get_property_reply_t> propertyReply(const XConnection& connection,
                                               xcb_get_property_cookie_t cookie) {
  XReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection.get(), cookie, nullptr));
  if (reply && reply->type == XCB_ATOM_NONE) {
    return nullptr;
  }
  return reply;
}

std::string propertyBytes(const xcb_get_property_reply_t& reply) {
  const auto* data = static_cast<const char*>(xcb_get_property_value(&reply));
  return std::string(data, static_cast<std::size_t>(xcb_get_property_value_length(&reply)));
}

std::vector<std::uint32_t> propertyWords(const xcb_get_property_reply_t& reply) {
  if (reply.format != 32) {
    return {};
  }
  const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(&reply));
  return std::vector<std::uint32_t>(data, data + xcb_get_property_value_length(&reply) / 4);
}

std::optional<std::uint32_t> firstWord(const XReply<xcb_get_property_reply_t>& reply) {
  if (!reply) {
    return std::nullopt;
  }
  const std::vector<std::uint32_t> words = propertyWords(*reply);
  if (words.empty()) {
    return std::nullopt;
  }
  return words.front();
}

std::optional<std::vector<std::uint32_t>>
windowList(const XReply<xcb_get_property_reply_t>& reply) {
  if (!reply || reply->type != XCB_ATOM_WINDOW) {
    return std::nullopt;
  }
  return propertyWords(*reply);
}

std::optional<TextProperty> textProperty(const XConnection& connection,
                                         const XReply<xcb_get_property_reply_t>& reply) {
  if (!reply || reply->format != 8) {
    return std::nullopt;
  }
  TextProperty property;
  if (reply->type == connection.atom(Atom::utf8String)) {
    property.encoding = TextEncoding::utf8;
  } else if (reply->type == XCB_ATOM_STRING) {
    property.encoding = TextEncoding::latin1;
  } else if (reply->type == connection.atom(Atom::compoundText)) {
    property.encoding = TextEncoding::compound;
  }
  property.bytes = propertyBytes(*reply);
  return property;
}

std::optional<WindowClass> windowClass(const XReply<xcb_get_property_reply_t>& reply) {
  if (!reply || reply->format != 8) {
    return std::nullopt;
  }
  // "instance\0class\0"
  const std::string bytes = propertyBytes(*reply);
  const std::size_t separator = bytes.find('\0');
  WindowClass result;
  result.instanceName = bytes.substr(0, separator);
  if (separator != std::string::npos) {
    const std::string rest = bytes.substr(separator + 1);
    result.className = rest.substr(0, rest.find('\0'));
  }
  return result;
}

std::vector<WindowType> windowTypes(const XConnection& connection,
                                    const XReply<xcb_get_property_reply_t>& reply) {
  static const std::map<Atom, WindowType> typeOfAtom = {
      {Atom::netWmWindowTypeNormal, WindowType::normal},
      {Atom::netWmWindowTypeDesktop, WindowType::desktop},
      {Atom::netWmWindowTypeDock, WindowType::dock},
      {Atom::netWmWindowTypeToolbar, WindowType::toolbar},
      {Atom::netWmWindowTypeMenu, WindowType::menu},
      {Atom::netWmWindowTypeUtility, WindowType::utility},
      {Atom::netWmWindowTypeSplash, WindowType::splash},
      {Atom::netWmWindowTypeDialog, WindowType::dialog},
      {Atom::netWmWindowTypeDropdownMenu, WindowType::dropdownMenu},
      {Atom::netWmWindowTypePopupMenu, WindowType::popupMenu},
      {Atom::netWmWindowTypeTooltip, WindowType::tooltip},
      {Atom::netWmWindowTypeNotification, WindowType::notification},
      {Atom::netWmWindowTypeCombo, WindowType::combo},
      {Atom::netWmWindowTypeDnd, WindowType::dnd},
  };
  std::vector<WindowType> types;
  if (!reply) {
    return types;
  }
  for (const std::uint32_t value : propertyWords(*reply)) {
    for (const auto& [atom, type] : typeOfAtom) {
      if (value == connection.atom(atom)) {
        types.push_back(type);
      }
    }
  }
  return types;
}

std::vector<TopLevelWindow> readTopLevels(const XConnection& connection) {
  xcb_connection_t* c = connection.get();
  XReply<xcb_query_tree_reply_t> tree(
      xcb_query_tree_reply(c, xcb_query_tree(c, connection.root()), nullptr));
  if (!tree) {
    return {};
  }
  const xcb_window_t* ids = xcb_query_tree_children(tree.get());
  const int count = xcb_query_tree_children_length(tree.get());

  struct Pending {
    xcb_get_window_attributes_cookie_t attributes;
    xcb_get_property_cookie_t wmState, wmName, netWmName, wmClass;
    xcb_query_tree_cookie_t children;
  };
  std::vector<Pending> pending;
  pending.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    pending.push_back({xcb_get_window_attributes(c, ids[i]),
                       requestProperty(connection, ids[i], Atom::wmState, 0),
                       requestProperty(connection, ids[i], Atom::wmName, 0),
                       requestProperty(connection, ids[i], Atom::netWmName, 0),
                       requestProperty(connection, ids[i], Atom::wmClass, 0),
                       xcb_query_tree(c, ids[i])});
  }
  std::vector<TopLevelWindow> topLevels;
  std::vector<std::vector<std::pair<std::uint32_t, xcb_get_property_cookie_t>>> childStates;
  for (int i = 0; i < count; ++i) {
    TopLevelWindow topLevel;
    topLevel.id = ids[i];
    XReply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, pending[i].attributes, nullptr));
    topLevel.mapped = attributes && attributes->map_state != XCB_MAP_STATE_UNMAPPED;
    topLevel.overrideRedirect = attributes && attributes->override_redirect != 0;
    topLevel.hasWmState = propertyReply(connection, pending[i].wmState) != nullptr;
    const bool hasWmName = propertyReply(connection, pending[i].wmName) != nullptr;
    const bool hasNetWmName = propertyReply(connection, pending[i].netWmName) != nullptr;
    const bool hasWmClass = propertyReply(connection, pending[i].wmClass) != nullptr;
    topLevel.hasClientProperties = hasWmName || hasNetWmName || hasWmClass;
    XReply<xcb_query_tree_reply_t> subtree(xcb_query_tree_reply(c, pending[i].children, nullptr));
    std::vector<std::pair<std::uint32_t, xcb_get_property_cookie_t>> states;
    if (subtree && topLevel.mapped && !topLevel.hasWmState) {
      const xcb_window_t* childIds = xcb_query_tree_children(subtree.get());
      const int childCount = xcb_query_tree_children_length(subtree.get());
      for (int j = 0; j < childCount; ++j) {
        states.emplace_back(childIds[j],
                            requestProperty(connection, childIds[j], Atom::wmState, 0));
      }
    }
    childStates.push_back(std::move(states));
    topLevels.push_back(std::move(topLevel));
  }
  for (std::size_t i = 0; i < topLevels.size(); ++i) {
    for (const auto& [childId, cookie] : childStates[i]) {
      topLevels[i].children.push_back({childId, propertyReply(connection, cookie) != nullptr});
    }
  }
  return topLevels;
}

} // namespace

std::vector<DisplayFacts> readDisplays(const XConnection& connection) {
  xcb_connection_t* c = connection.get();
  std::vector<DisplayFacts> displays;
  if (connection.extensions().randrMonitors) {
    XReply<xcb_randr_get_monitors_reply_t> monitors(
        xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, connection.root(), 1), nullptr));
    if (monitors) {
      std::uint32_t ordinal = 0;
      for (auto monitor = xcb_randr_get_monitors_monitors_iterator(monitors.get()); monitor.rem > 0;
           xcb_randr_monitor_info_next(&monitor)) {
        const xcb_randr_monitor_info_t& info = *monitor.data;
        ++ordinal;
        DisplayFacts facts;
        facts.display.width = info.width;
        facts.display.height = info.height;
        facts.display.frame =
            CGRect{static_cast<double>(info.x), static_cast<double>(info.y),
                   static_cast<double>(info.width), static_cast<double>(info.height)};
        facts.display.displayID = ordinal;
        if (xcb_randr_monitor_info_outputs_length(monitor.data) > 0) {
          const xcb_randr_output_t output = xcb_randr_monitor_info_outputs(monitor.data)[0];
          facts.display.displayID = output;
          XReply<xcb_randr_get_output_info_reply_t> outputInfo(xcb_randr_get_output_info_reply(
              c, xcb_randr_get_output_info(c, output, XCB_CURRENT_TIME), nullptr));
          if (outputInfo) {
            const auto* name =
                reinterpret_cast<const char*>(xcb_randr_get_output_info_name(outputInfo.get()));
            facts.name = repairUtf8(std::string_view(
                name,
                static_cast<std::size_t>(xcb_randr_get_output_info_name_length(outputInfo.get()))));
          }
        }
        if (facts.name.empty()) {
          XReply<xcb_get_atom_name_reply_t> atomName(
              xcb_get_atom_name_reply(c, xcb_get_atom_name(c, info.name), nullptr));
          if (atomName) {
            facts.name = repairUtf8(std::string_view(
                xcb_get_atom_name_name(atomName.get()),
                static_cast<std::size_t>(xcb_get_atom_name_name_length(atomName.get()))));
          }
        }
        if (info.primary != 0) {
          displays.insert(displays.begin(), std::move(facts));
        } else {
          displays.push_back(std::move(facts));
        }
      }
    }
  }
  if (displays.empty()) {
    const xcb_screen_t& screen = connection.screen();
    DisplayFacts whole;
    whole.display.displayID = 1;
    whole.display.width = screen.width_in_pixels;
    whole.display.height = screen.height_in_pixels;
    whole.display.frame = CGRect{0, 0, static_cast<double>(screen.width_in_pixels),
                                 static_cast<double>(screen.height_in_pixels)};
    whole.name = "screen";
    displays.push_back(std::move(whole));
  }
  return displays;
}

DesktopFacts readDesktop(const XConnection& connection) {
  const xcb_window_t root = connection.root();
  const auto current = requestProperty(connection, root, Atom::netCurrentDesktop, 1);
  const auto active = requestProperty(connection, root, Atom::netActiveWindow, 1);
  DesktopFacts desktop;
  desktop.currentDesktop = firstWord(propertyReply(connection, current));
  desktop.activeWindow = firstWord(propertyReply(connection, active));
  if (desktop.activeWindow == XCB_WINDOW_NONE) {
    desktop.activeWindow.reset();
  }
  return desktop;
}

std::vector<WindowFacts> readWindows(const XConnection& connection) {
  xcb_connection_t* c = connection.get();
  const xcb_window_t root = connection.root();
  const auto stackingCookie = requestProperty(connection, root, Atom::netClientListStacking);
  const auto listCookie = requestProperty(connection, root, Atom::netClientList);
  const auto stacking = windowList(propertyReply(connection, stackingCookie));
  const auto list = windowList(propertyReply(connection, listCookie));
  std::vector<TopLevelWindow> topLevels;
  if (!stacking && !list) {
    topLevels = readTopLevels(connection);
  }
  std::vector<std::uint32_t> ids = clientWindowsInStackingOrder(stacking, list, topLevels);
  std::reverse(ids.begin(), ids.end());

  struct Pending {
    xcb_get_property_cookie_t netWmName, wmName, wmClass, pid, state, type, desktop;
    xcb_get_window_attributes_cookie_t attributes;
    xcb_get_geometry_cookie_t geometry;
    xcb_translate_coordinates_cookie_t position;
  };
  std::vector<Pending> pending;
  pending.reserve(ids.size());
  for (const std::uint32_t id : ids) {
    pending.push_back({requestProperty(connection, id, Atom::netWmName),
                       requestProperty(connection, id, Atom::wmName),
                       requestProperty(connection, id, Atom::wmClass),
                       requestProperty(connection, id, Atom::netWmPid, 1),
                       requestProperty(connection, id, Atom::netWmState),
                       requestProperty(connection, id, Atom::netWmWindowType),
                       requestProperty(connection, id, Atom::netWmDesktop, 1),
                       xcb_get_window_attributes(c, id), xcb_get_geometry(c, id),
                       xcb_translate_coordinates(c, id, root, 0, 0)});
  }

  std::vector<WindowFacts> windows;
  windows.reserve(ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const Pending& request = pending[i];
    WindowFacts facts;
    facts.id = ids[i];
    facts.netWmName = textProperty(connection, propertyReply(connection, request.netWmName));
    facts.wmName = textProperty(connection, propertyReply(connection, request.wmName));
    facts.wmClass = windowClass(propertyReply(connection, request.wmClass));
    if (const auto pid = firstWord(propertyReply(connection, request.pid))) {
      facts.pid = static_cast<std::int32_t>(*pid);
    }
    if (const auto state = propertyReply(connection, request.state)) {
      for (const std::uint32_t value : propertyWords(*state)) {
        facts.stateAbove |= value == connection.atom(Atom::netWmStateAbove);
        facts.stateBelow |= value == connection.atom(Atom::netWmStateBelow);
        facts.stateHidden |= value == connection.atom(Atom::netWmStateHidden);
      }
    }
    facts.types = windowTypes(connection, propertyReply(connection, request.type));
    facts.desktop = firstWord(propertyReply(connection, request.desktop));
    XReply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, request.attributes, nullptr));
    XReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, request.geometry, nullptr));
    XReply<xcb_translate_coordinates_reply_t> position(
        xcb_translate_coordinates_reply(c, request.position, nullptr));
    if (!attributes || !geometry || !position) {
      continue; // destroyed while we asked
    }
    facts.viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    facts.frame =
        CGRect{static_cast<double>(position->dst_x), static_cast<double>(position->dst_y),
               static_cast<double>(geometry->width), static_cast<double>(geometry->height)};
    windows.push_back(std::move(facts));
  }
  return windows;
}

std::optional<std::string> processExecutableName(std::int32_t pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  if (!comm || !std::getline(comm, name) || name.empty()) {
    return std::nullopt;
  }
  return repairUtf8(name);
}

} // namespace Platform::Linux::X11
