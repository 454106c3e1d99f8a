#pragma once

// Installs the platform the helper runs on. The shipped helper installs the
// Linux platform; a test build links another definition.
void installPlatform();

#include <string>

// Whether recording this target first waits on the user (a desktop's picker
// dialog): a stop signal then cancels the start instead of waiting for it.
bool startWaitsForUser(const std::string& screenId);
