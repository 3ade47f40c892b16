#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace brintel::cli {

// Columns UTF-8 text takes on a terminal: East Asian wide characters two,
// others one.
int TerminalColumns(std::string_view utf8);

// The longest start of `utf8`, cut at a character boundary, that takes at most
// `columns` columns: a redrawn line must never wrap.
std::string CutToColumns(std::string_view utf8, int columns);

// Text from the server made safe to print: control characters (C0, DEL, C1)
// shown as \xHH so that none can move the cursor or change colours, and text
// over `maxColumns` cut with "...". The bytes sent back to the server are
// not touched; this is for showing only.
std::string ShownText(std::string_view utf8, int maxColumns = 200);

// The end of a port's name that tells a hub's sockets apart: its last path
// component, or "~" and that component's last 19 characters when it is
// longer (a by-path name's "usb-0:1.2:1.0-port0" is what differs), shown as
// ShownText does.
std::string ShortPort(std::string_view port);

}  // namespace brintel::cli
