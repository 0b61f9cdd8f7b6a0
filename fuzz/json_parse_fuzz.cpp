// Fuzz target: parses arbitrary bytes and writes whatever tree comes back.
// A failed parse must always carry an error text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "simple_json/json_parse.h"
#include "simple_json/json_write.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  const JsonPtr tree = JsonParse(text, &error);
  if (tree == nullptr) {
    if (error.rfind("Error: ", 0) != 0) std::abort();
    return 0;
  }
  if (!error.empty()) std::abort();
  std::string out;
  JsonWrite(out, tree.get());
  std::string indented;
  JsonWriteIndented(indented, tree.get(), 2, 0);
  return 0;
}
