#pragma once

#include "Platform/FFmpeg/FragmentIndex.h"
#include "Platform/FFmpeg/IsoBoxes.h"

#include <cstdint>
#include <vector>

namespace Platform::FFmpeg {

// The moov box of a plain movie whose samples are those of `fragments`,
// where they already lie in the file: the fragmented movie's own moov
// (`initialMoov`, header included) with its movie extends box dropped, its
// durations filled in and full sample tables (stts, ctts, stss, stsc, stsz,
// stco or co64) in place of the empty ones. Sample descriptions, handlers,
// names and user data are kept as they are. Edit lists keep each track's
// first sample at the time it had in the fragments; the initial moov's own
// edit lists, if any, are kept with their open durations closed.
// Throws MalformedMovie when the initial moov cannot be understood.
std::vector<std::uint8_t> buildCompleteMovieHeader(Bytes initialMoov,
                                                   const FragmentIndex& fragments);

} // namespace Platform::FFmpeg
