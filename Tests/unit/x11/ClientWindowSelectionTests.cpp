#include "Platform/Linux/X11/ClientWindowSelection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace Platform::Linux::X11 {
namespace {

using testing::ElementsAre;
using testing::IsEmpty;

TopLevelWindow topLevel(std::uint32_t id) {
  TopLevelWindow window;
  window.id = id;
  window.mapped = true;
  return window;
}

TEST(ClientWindowSelection, WithoutWindowManagerNamedMappedTopLevelsAreClients) {
  TopLevelWindow named = topLevel(1);
  named.hasClientProperties = true;
  TopLevelWindow helper = topLevel(2); // no title, no class: a bare helper window
  TopLevelWindow unmapped = topLevel(3);
  unmapped.mapped = false;
  unmapped.hasClientProperties = true;
  TopLevelWindow menu = topLevel(4);
  menu.overrideRedirect = true;
  menu.hasClientProperties = true;

  EXPECT_THAT(selectClientWindows({named, helper, unmapped, menu}), ElementsAre(1U));
}

TEST(ClientWindowSelection, ReparentedClientsAreFoundInsideTheirFrames) {
  TopLevelWindow frame = topLevel(10);
  frame.hasClientProperties = true; // frames may carry a title of their own
  frame.children = {{11, false}, {12, true}, {13, true}};
  TopLevelWindow managed = topLevel(20);
  managed.hasWmState = true;
  managed.children = {{21, true}};

  EXPECT_THAT(selectClientWindows({frame, managed}), ElementsAre(12U, 20U));
}

TEST(ClientWindowSelection, WindowManagerListsWinOverTheFallback) {
  TopLevelWindow named = topLevel(1);
  named.hasClientProperties = true;
  const std::vector<std::uint32_t> stacking{7, 8};
  const std::vector<std::uint32_t> mapping{8, 7};

  EXPECT_THAT(clientWindowsInStackingOrder(stacking, mapping, {named}), ElementsAre(7U, 8U));
  EXPECT_THAT(clientWindowsInStackingOrder(std::nullopt, mapping, {named}), ElementsAre(8U, 7U));
  EXPECT_THAT(clientWindowsInStackingOrder(std::vector<std::uint32_t>{}, mapping, {named}),
              IsEmpty());
  EXPECT_THAT(clientWindowsInStackingOrder(std::nullopt, std::nullopt, {named}), ElementsAre(1U));
}

} // namespace
} // namespace Platform::Linux::X11
