// The two roles of quorbel-peer; each returns the exit code.
#pragma once

#include "linux/peer/options.h"

namespace quorbel::peer {

int RunServer(const Options& options);
int RunClient(const Options& options);

}  // namespace quorbel::peer
