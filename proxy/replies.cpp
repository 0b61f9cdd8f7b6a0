// The shapes of a gdbserver's replies (see replies.h).
#include "proxy/replies.h"

#include <algorithm>

namespace {

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

bool ProxyIsStopReply(std::string_view reply) {
  if (reply.size() < 3 || !IsHex(reply[1]) || !IsHex(reply[2])) return false;
  return reply[0] == 'T' || (reply[0] == 'S' && reply.size() == 3);
}

bool ProxyIsErrorReply(std::string_view reply) {
  return !reply.empty() && reply[0] == 'E' &&
         ((reply.size() == 3 && IsHex(reply[1]) && IsHex(reply[2])) ||
          (reply.size() >= 2 && reply[1] == '.'));
}

bool ProxyReplyFits(std::string_view request, std::string_view reply) {
  if (request == "?") {
    return ProxyIsStopReply(reply) || reply.starts_with("W") || reply.starts_with("X");
  }
  if (ProxyIsStopReply(reply)) return false;
  if (reply.empty() || ProxyIsErrorReply(reply)) return true;
  const char head = request.empty() ? '\0' : request[0];
  if (head == 'm' || head == 'g' || head == 'p') {
    return std::all_of(reply.begin(), reply.end(), [](char c) { return IsHex(c) || c == 'x'; });
  }
  if (request.starts_with("qXfer:")) return reply[0] == 'l' || reply[0] == 'm';
  if (head == 'M' || head == 'P' || head == 'G' || head == 'Z' || head == 'z' || head == 'D') {
    return reply == "OK";
  }
  return true;
}
