#pragma once

#include <optional>
#include <string>

namespace App {

// One recordable window as the helper lists it.
struct Screen {
  std::string id;
  std::string title; // "application | window title"
};

// One audio input device as the helper lists it.
struct Audio {
  std::string id;
  std::string name;
};

// "application | title", each part empty when absent.
std::string displayTitle(const std::optional<std::string>& appName,
                         const std::optional<std::string>& title);

// Print the recordable windows or the audio input devices as a JSON array;
// on failure print "Unknown Error: " with the reason and end the process
// with status 1.
void getScreens();
void getAudioDevices();

// Records the window into the file until a stop signal. Prints its lines; every
// failure ends the process with status 1.
void startRecording(const std::string& screenId, const std::optional<std::string>& mic,
                    const std::string& fullFilePath);

} // namespace App
