#pragma once

#include <string>

#include "run/ChannelParts.h"

namespace brintel::cli {

// A channel's parts on Linux: a termios port that opens `port` alone, libcurl,
// iconv, and the port's node on the file system.
run::ChannelParts PosixChannelParts(const std::string& port);

}  // namespace brintel::cli
