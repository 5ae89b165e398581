// What quorbel-peer keeps between runs: $XDG_STATE_HOME/quorbel, else
// ~/.local/state/quorbel, with ~ from $HOME, else from the user's account.
#pragma once

#include <string>

namespace quorbel::peer {

// The folder, "" when no home is known; with `make`, each missing folder
// on the way is made (0700).
std::string StateFolder(bool make);

// The Server's own salt of the stretch: read from server-salt in that
// folder at every start, made there once (0600) where none is, the same
// for two starts at once; a salt of this run alone, with a note why, where
// none can be kept.
std::string ServerSalt();

}  // namespace quorbel::peer
