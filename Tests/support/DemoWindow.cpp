#include "support/DemoWindow.h"

#include <csignal>
#include <stdexcept>

namespace TestSupport {

namespace {

std::vector<std::string> demoArguments(const char* program,
                                       const std::vector<std::string>& options) {
  std::vector<std::string> arguments{program};
  arguments.insert(arguments.end(), options.begin(), options.end());
  return arguments;
}

} // namespace

DemoWindow::DemoWindow(const std::vector<std::string>& options,
                       const std::map<std::string, std::string>& environment)
    : process_(demoArguments(DEMO_WINDOW_PATH, options), environment) {
  const auto line = process_.readLine(std::chrono::seconds(10));
  if (!line) {
    throw std::runtime_error("demo-window did not map its window");
  }
  id_ = static_cast<std::uint32_t>(std::stoul(*line));
}

DemoWindow::DemoWindow(Wayland, const std::vector<std::string>& options,
                       const std::map<std::string, std::string>& environment)
    : process_(demoArguments(WAYLAND_DEMO_WINDOW_PATH, options), environment) {
  if (process_.readLine(std::chrono::seconds(10)) != "shown") {
    throw std::runtime_error("wayland-demo-window did not show its window");
  }
}

DemoWindow::~DemoWindow() {
  close();
}

void DemoWindow::close() {
  process_.signal(SIGTERM);
  process_.wait(std::chrono::seconds(5));
}

std::unique_ptr<Subprocess> startTone(double frequency,
                                      const std::map<std::string, std::string>& environment) {
  return std::make_unique<Subprocess>(
      std::vector<std::string>{DEMO_WINDOW_PATH, "--play-tone", std::to_string(frequency)},
      environment);
}

} // namespace TestSupport
