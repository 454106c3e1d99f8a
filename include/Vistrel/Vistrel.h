#pragma once

/// @file
/// Everything a program that records needs: the recorder, its options and
/// errors, device discovery and the diagnostics log.

#include "Vistrel/Devices.h"
#include "Vistrel/Error.h"
#include "Vistrel/Log.h"
#include "Vistrel/Recorder.h"
#include "Vistrel/RecordingOptions.h"
#include "Vistrel/SystemAudio.h"
#include "Vistrel/Target.h"
#include "Vistrel/VideoCodec.h"

/// Records displays, windows and sound into movie files.
namespace Vistrel {}
