// The shapes of a gdbserver's replies: stop replies, error replies, and
// whether a reply can answer a given request at all, so that a stray packet
// (a stop the stub announced on its own, the late reply of a request that
// timed out) is not taken for the reply to the next request.
#pragma once

#include <string_view>

// "T05..." or "S05": a stop reply.
[[nodiscard]] bool ProxyIsStopReply(std::string_view reply);

// "E01" or "E.text".
[[nodiscard]] bool ProxyIsErrorReply(std::string_view reply);

// Whether `reply` can be the reply to `request`: '?' takes a stop or exit
// reply; memory and register reads take hex (or "xx"), qXfer reads "l"/"m"
// data, writes and breakpoints "OK"; any of them an error or the empty
// reply. Every other request takes anything but a stop reply.
[[nodiscard]] bool ProxyReplyFits(std::string_view request, std::string_view reply);
