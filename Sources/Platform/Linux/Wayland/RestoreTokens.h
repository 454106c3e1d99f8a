#pragma once

#include <optional>
#include <string>

// The desktop's memory of what the user picked: the ScreenCast portal hands
// out a restore token with every granted cast, and a later request that
// brings it back records the same source without a dialog. Each token is
// good for one use, so the newest one replaces the last.
//
// Tokens live in $XDG_STATE_HOME/tarsel-helper/ (~/.local/state when unset),
// one file per kind of pick, readable by the user alone. Deleting a file
// forgets that pick: the next recording asks again.
//
// Thread contract: any thread; files are replaced atomically, so concurrent
// processes see the old token or the new one, never a mix.

namespace Platform::Linux::Wayland {

class RestoreTokens {
public:
  // `kind` names the pick ("picker", "display"); it becomes the file's name.
  explicit RestoreTokens(std::string kind);

  // The kept token; none when there is none or it cannot be read.
  std::optional<std::string> load() const;
  // Keeps `token` in place of the last one; none forgets it. A failure to
  // write is logged, not thrown: the recording goes on, and the next start
  // asks the user again.
  void store(const std::optional<std::string>& token) const;

  // Where the token is kept; empty when neither XDG_STATE_HOME nor HOME is set.
  const std::string& path() const { return path_; }

private:
  std::string directory_;
  std::string path_;
};

} // namespace Platform::Linux::Wayland
