#pragma once

// Installs the platform the helper runs on. The shipped helper installs the
// Linux platform; a test build links another definition.
void installPlatform();
