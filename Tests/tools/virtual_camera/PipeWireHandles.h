#pragma once

// Owners of the PipeWire objects the virtual camera makes.

#include <pipewire/pipewire.h>

#include <memory>

namespace VirtualCamera {

template <auto destroy> struct Destroy {
  template <typename T> void operator()(T* object) const { destroy(object); }
};

using MainLoop = std::unique_ptr<pw_main_loop, Destroy<pw_main_loop_destroy>>;
using Context = std::unique_ptr<pw_context, Destroy<pw_context_destroy>>;
using Core = std::unique_ptr<pw_core, Destroy<pw_core_disconnect>>;
using Stream = std::unique_ptr<pw_stream, Destroy<pw_stream_destroy>>;

} // namespace VirtualCamera
