// Fuzz target: any tree the parser accepts, once written, must parse again
// and write back to the same text (parse -> write -> parse -> write).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "simple_json/json_parse.h"
#include "simple_json/json_write.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const JsonPtr first = JsonParse(text, nullptr);
  if (first == nullptr) return 0;
  std::string firstText;
  JsonWrite(firstText, first.get());

  std::string error;
  const JsonPtr second = JsonParse(firstText, &error);
  if (second == nullptr || !error.empty()) std::abort();
  std::string secondText;
  JsonWrite(secondText, second.get());
  if (secondText != firstText) std::abort();
  return 0;
}
