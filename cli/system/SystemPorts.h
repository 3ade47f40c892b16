#pragma once

#include <string>
#include <vector>

#include "run/ChannelParts.h"

// The serial ports and the parts of a run as the system at hand gives them;
// everything else of brintel-cli is the same on Linux and Windows.
namespace brintel::cli {

// A port as the user typed it, as this system names it: "ttyUSB0" is
// /dev/ttyUSB0 on Linux (unless a file of that name is right here); "com5"
// and "\\.\COM5" are COM5 on Windows.
std::string ResolvePortName(const std::string& name);

// Whether two names are one device (a link and its target, two names of one
// adapter), which would give one display two channels.
bool SamePort(const std::string& a, const std::string& b);

// Every USB serial adapter the system knows, in a stable order (--all-ports),
// and where they are looked for, for messages.
std::vector<std::string> AdapterPorts();
extern const char* const kAdapterPortsPlace;

// The parts of a run on these ports, tried in order; none: the system's scan.
run::ChannelParts SystemChannelParts(const std::vector<std::string>& ports);

}  // namespace brintel::cli
