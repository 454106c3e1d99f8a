#pragma once

// The recording engine: request values, errors, the recorder and device
// discovery.

#include "Vistrel/Devices.h"
#include "Vistrel/Error.h"
#include "Vistrel/Log.h"
#include "Vistrel/Recorder.h"
#include "Vistrel/RecordingOptions.h"
#include "Vistrel/Target.h"
#include "Vistrel/VideoCodec.h"
