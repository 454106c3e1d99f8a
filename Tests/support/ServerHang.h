#pragma once

// A server that hangs without dying, as a compositor stalled on its GPU or an
// audio server stuck on a device does: the process is stopped (SIGSTOP) for
// the object's life, or until it is continued. Its clients' connections stay
// open and simply get no answer.

namespace TestSupport {

class ServerHang {
public:
  // Throws std::runtime_error when there is no such process.
  explicit ServerHang(int pid);
  ~ServerHang() { resume(); }
  ServerHang(const ServerHang&) = delete;
  ServerHang& operator=(const ServerHang&) = delete;

  // Continues the server (SIGCONT); later calls do nothing.
  void resume();

private:
  int pid_;
  bool stopped_ = true;
};

} // namespace TestSupport
