// What both roles of quorbel-peer set up from the options: the code page,
// the drives and the login pair.
#pragma once

#include "core/base/text.h"
#include "linux/host/codec.h"
#include "linux/host/path_map.h"
#include "linux/peer/options.h"

namespace quorbel::peer {

// The login pair is text that the code page holds, each half below 128 bytes.
struct Setup {
    posix::IconvCodec codec;
    posix::PathMap drives;
    u16 id, pw;
};
// False after telling why.
bool PrepareSetup(const Options& options, Setup& setup);

}  // namespace quorbel::peer
