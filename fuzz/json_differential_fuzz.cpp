// Fuzz target: the library against its earlier heap-node form (the
// reference). Both must accept the same texts, write the same text for each
// tree, and give the same error lines for the rest. Each line of the input is
// compared too, whole and after its first colon, so that record files serve
// as seeds message by message.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/json_reference.h"
#include "simple_json/json_parse.h"
#include "simple_json/json_write.h"

namespace {

void Compare(std::string_view text) {
  std::string error;
  const JsonPtr tree = JsonParse(text, &error);
  std::string referenceWritten;
  std::string referenceError;
  const bool referenceParsed =
      json_reference::ReferenceParse(text, &referenceWritten, &referenceError);
  if ((tree != nullptr) != referenceParsed) std::abort();
  if (tree == nullptr) {
    if (error != referenceError) std::abort();
    return;
  }
  std::string written;
  JsonWrite(written, tree.get());
  if (written != referenceWritten) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Compare(text);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    if (end < text.size() || start > 0) Compare(line);
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos) Compare(line.substr(colon + 1));
    start = end + 1;
  }
  return 0;
}
