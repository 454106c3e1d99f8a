#pragma once

namespace App {

// The SIGINT handler: forwards the signal to the main queue through a pipe
// and does nothing else inside the signal context.
extern "C" void signalHandler(int signalNumber);

// Installs signalHandler for SIGINT. On the main queue, each interrupt prints
// its line; the first one stops the recorder and ends the process with the
// outcome. Later ones neither start a second stop nor end the process before
// the file is finished.
void setupSignalHandler();

} // namespace App
