#pragma once

namespace Platform {

// The description of userDeclinedScreenCaptureCode when the user closed a
// desktop's picker without choosing; parents match the line it makes.
inline constexpr const char* pickCancelledDescription =
    "The screen cast was cancelled in the desktop's picker";

} // namespace Platform
