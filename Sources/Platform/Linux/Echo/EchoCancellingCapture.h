#pragma once

#include "Platform/Linux/AudioCapture.h"

#include <memory>

// A microphone capture cleaned of the speakers' echo: the microphone's
// buffers pass through an EchoCanceller with, as its reference, the
// buffers of a second capture (the default sink's monitor: everything the
// machine plays) that played at the same host-clock instants. Each buffer
// keeps its timing; only its sound changes. A microphone buffer waits for
// the reference that covers it, a while at most: a reference that does not
// come (nothing plays, the sink is suspended) counts as silence.
//
// Thread contract: as AudioCapture; buffers are delivered on the thread of
// whichever capture completed them, one at a time and in order.

namespace Platform::Linux::Echo {

std::unique_ptr<AudioCapture> makeEchoCancellingCapture(std::unique_ptr<AudioCapture> microphone,
                                                        std::unique_ptr<AudioCapture> reference);

} // namespace Platform::Linux::Echo
