// Messages whose answers need no target: the process tests drive the plug-in
// with them.
#pragma once

#include <string>

namespace plugin_test {

// A request for a method that is not bound; the dispatcher answers it alone.
inline std::string Unknown(int id) {
  return "{ \"jsonrpc\" : \"2.0\", \"method\" : \"OSA_Client_Nothing\", \"params\" : { \"n\" : 1 "
         "}, \"id\" : " +
         std::to_string(id) + " }";
}

inline std::string UnknownAnswer(int id) {
  return "{ \"jsonrpc\" : \"2.0\", \"error\" : { \"code\" : -32601, \"message\" : \"unknown "
         "message\"}, \"id\" : " +
         std::to_string(id) + " }";
}

inline const std::string kExit =
    "{ \"jsonrpc\" : \"2.0\", \"method\" : \"OSA_Client_Exit\", \"params\" : { \"n\" : 1 }, "
    "\"id\" : 9 }";

}  // namespace plugin_test
