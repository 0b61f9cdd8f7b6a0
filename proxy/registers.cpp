// Register layout from the target description, and 'g' data to and from
// kernel register numbers (see registers.h).
#include "proxy/registers.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "model/register_file.h"

namespace {

// Includes nest at most this deep, so a description that includes itself
// cannot loop.
constexpr int kMaxIncludeDepth = 4;
// A register wider than this is not one the proxy can show.
constexpr std::uint32_t kMaxRegisterBits = 512;

constexpr std::string_view kBuiltinM3 =
    "<?xml version=\"1.0\"?>\n"
    "<!DOCTYPE target SYSTEM \"gdb-target.dtd\">\n"
    "<target><architecture>arm</architecture>\n"
    "<feature name=\"org.gnu.gdb.arm.m-profile\">\n"
    "<reg name=\"r0\" bitsize=\"32\"/><reg name=\"r1\" bitsize=\"32\"/>"
    "<reg name=\"r2\" bitsize=\"32\"/><reg name=\"r3\" bitsize=\"32\"/>"
    "<reg name=\"r4\" bitsize=\"32\"/><reg name=\"r5\" bitsize=\"32\"/>"
    "<reg name=\"r6\" bitsize=\"32\"/><reg name=\"r7\" bitsize=\"32\"/>"
    "<reg name=\"r8\" bitsize=\"32\"/><reg name=\"r9\" bitsize=\"32\"/>"
    "<reg name=\"r10\" bitsize=\"32\"/><reg name=\"r11\" bitsize=\"32\"/>"
    "<reg name=\"r12\" bitsize=\"32\"/>"
    "<reg name=\"sp\" bitsize=\"32\" type=\"data_ptr\"/>"
    "<reg name=\"lr\" bitsize=\"32\"/>"
    "<reg name=\"pc\" bitsize=\"32\" type=\"code_ptr\"/>"
    "<reg name=\"xpsr\" bitsize=\"32\"/>\n"
    "</feature>\n";

constexpr std::string_view kBuiltinVfp =
    "<feature name=\"org.gnu.gdb.arm.vfp\">\n"
    "<reg name=\"d0\" bitsize=\"64\" type=\"float\"/><reg name=\"d1\" bitsize=\"64\" "
    "type=\"float\"/>"
    "<reg name=\"d2\" bitsize=\"64\" type=\"float\"/><reg name=\"d3\" bitsize=\"64\" "
    "type=\"float\"/>"
    "<reg name=\"d4\" bitsize=\"64\" type=\"float\"/><reg name=\"d5\" bitsize=\"64\" "
    "type=\"float\"/>"
    "<reg name=\"d6\" bitsize=\"64\" type=\"float\"/><reg name=\"d7\" bitsize=\"64\" "
    "type=\"float\"/>"
    "<reg name=\"d8\" bitsize=\"64\" type=\"float\"/><reg name=\"d9\" bitsize=\"64\" "
    "type=\"float\"/>"
    "<reg name=\"d10\" bitsize=\"64\" type=\"float\"/><reg name=\"d11\" bitsize=\"64\" "
    "type=\"float\"/>"
    "<reg name=\"d12\" bitsize=\"64\" type=\"float\"/><reg name=\"d13\" bitsize=\"64\" "
    "type=\"float\"/>"
    "<reg name=\"d14\" bitsize=\"64\" type=\"float\"/><reg name=\"d15\" bitsize=\"64\" "
    "type=\"float\"/>"
    "<reg name=\"fpscr\" bitsize=\"32\" type=\"int\" group=\"float\"/>\n"
    "</feature>\n";

constexpr std::string_view kTargetEnd = "</target>\n";

// Concatenated at start-up: the two descriptions differ only in the FPU part.
const std::string& BuiltinText(bool withFpu) {
  static const std::string m3 = std::string(kBuiltinM3) + std::string(kTargetEnd);
  static const std::string m4f =
      std::string(kBuiltinM3) + std::string(kBuiltinVfp) + std::string(kTargetEnd);
  return withFpu ? m4f : m3;
}

// Kernel numbers of the named core registers.
struct NamedRegister {
  std::string_view name;
  std::int32_t kernel;
};
constexpr std::array<NamedRegister, 9> kNamedRegisters = {{
    {"sp", static_cast<std::int32_t>(model::kRegSp)},
    {"lr", static_cast<std::int32_t>(model::kRegLr)},
    {"pc", static_cast<std::int32_t>(model::kRegPc)},
    {"xpsr", static_cast<std::int32_t>(model::kRegXpsr)},
    {"cpsr", static_cast<std::int32_t>(model::kRegXpsr)},
    {"fpscr", static_cast<std::int32_t>(model::kRegFpscr)},
    {"r13", static_cast<std::int32_t>(model::kRegSp)},
    {"r14", static_cast<std::int32_t>(model::kRegLr)},
    {"r15", static_cast<std::int32_t>(model::kRegPc)},
}};

// "r7" with prefix "r" -> 7; false when the rest is not a decimal number.
bool NumberAfter(std::string_view name, std::string_view prefix, std::uint32_t* number) {
  if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) return false;
  const std::string_view digits = name.substr(prefix.size());
  std::uint32_t value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || end != digits.data() + digits.size()) return false;
  *number = value;
  return true;
}

// The value of attribute `name` inside one tag's text; false when absent.
bool Attribute(std::string_view tag, std::string_view name, std::string* value) {
  std::size_t at = 0;
  while ((at = tag.find(name, at)) != std::string_view::npos) {
    const bool startsWord = at > 0 && (tag[at - 1] == ' ' || tag[at - 1] == '\t' ||
                                       tag[at - 1] == '\n' || tag[at - 1] == '\r');
    std::size_t next = at + name.size();
    if (startsWord && next + 1 < tag.size() && tag[next] == '=' &&
        (tag[next + 1] == '"' || tag[next + 1] == '\'')) {
      const char quote = tag[next + 1];
      const std::size_t close = tag.find(quote, next + 2);
      if (close == std::string_view::npos) return false;
      *value = std::string(tag.substr(next + 2, close - next - 2));
      return true;
    }
    at = next;
  }
  return false;
}

struct ParsedRegister {
  std::string name;
  std::uint32_t bits = 0;
  std::uint32_t number = 0;
};

// Walks one document's tags in order: <reg .../> adds a register, an
// include is read and walked in place.
bool WalkDocument(const ProxyAnnexFetch& fetch, std::string_view annex, int depth,
                  std::vector<ParsedRegister>* registers, std::uint32_t* nextNumber,
                  std::string* error) {
  if (depth > kMaxIncludeDepth) {
    *error = "target description includes nest too deep at " + std::string(annex);
    return false;
  }
  std::string text;
  if (!fetch(annex, &text)) {
    *error = "cannot read target description " + std::string(annex);
    return false;
  }
  std::size_t at = 0;
  while ((at = text.find('<', at)) != std::string::npos) {
    if (text.compare(at, 4, "<!--") == 0) {
      const std::size_t end = text.find("-->", at + 4);
      if (end == std::string::npos) break;
      at = end + 3;
      continue;
    }
    const std::size_t close = text.find('>', at);
    if (close == std::string::npos) break;
    const std::string_view tag(text.data() + at, close - at + 1);
    at = close + 1;
    if (tag.starts_with("<xi:include")) {
      std::string href;
      if (!Attribute(tag, "href", &href)) continue;
      if (!WalkDocument(fetch, href, depth + 1, registers, nextNumber, error)) return false;
    } else if (tag.starts_with("<reg ") || tag.starts_with("<reg\t") || tag.starts_with("<reg\n")) {
      ParsedRegister reg;
      std::string bits;
      std::string number;
      if (!Attribute(tag, "name", &reg.name) || !Attribute(tag, "bitsize", &bits)) continue;
      if (!NumberAfter("b" + bits, "b", &reg.bits) || reg.bits == 0 ||
          reg.bits > kMaxRegisterBits || reg.bits % 8 != 0) {
        *error = "register " + reg.name + " has an unusable bit size " + bits;
        return false;
      }
      // regnum sets the number of this register and the next ones count on.
      std::uint32_t explicitNumber = 0;
      if (Attribute(tag, "regnum", &number) && NumberAfter("n" + number, "n", &explicitNumber)) {
        *nextNumber = explicitNumber;
      }
      reg.number = (*nextNumber)++;
      registers->push_back(std::move(reg));
    }
  }
  return true;
}

void PutValue(const ProxyRegisterLayout& layout, std::uint64_t value, std::uint32_t bytes,
              std::string* hex) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (std::uint32_t index = 0; index < bytes; ++index) {
    const std::uint32_t shift = layout.bigEndian ? 8 * (bytes - 1 - index) : 8 * index;
    const auto byte = static_cast<std::uint8_t>(shift < 64 ? value >> shift : 0);
    hex->push_back(kDigits[byte >> 4]);
    hex->push_back(kDigits[byte & 0x0F]);
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string_view ProxyBuiltinDescription(bool withFpu) {
  return BuiltinText(withFpu);
}

std::int32_t ProxyKernelRegisterOf(std::string_view name) {
  for (const NamedRegister& row : kNamedRegisters) {
    if (row.name == name) return row.kernel;
  }
  std::uint32_t number = 0;
  if (NumberAfter(name, "r", &number) && number <= 12) return static_cast<std::int32_t>(number);
  if (NumberAfter(name, "s", &number) && number < 32) {
    return static_cast<std::int32_t>(model::kRegS0 + number);
  }
  return kProxyNoKernelRegister;
}

bool ProxyParseDescription(const ProxyAnnexFetch& fetch, bool bigEndian,
                           ProxyRegisterLayout* layout, std::string* error) {
  std::vector<ParsedRegister> parsed;
  std::uint32_t nextNumber = 0;
  if (!WalkDocument(fetch, "target.xml", 0, &parsed, &nextNumber, error)) return false;
  if (parsed.empty()) {
    *error = "the target description names no register";
    return false;
  }
  std::stable_sort(
      parsed.begin(), parsed.end(),
      [](const ParsedRegister& a, const ParsedRegister& b) { return a.number < b.number; });
  ProxyRegisterLayout read;
  read.bigEndian = bigEndian;
  for (ParsedRegister& entry : parsed) {
    ProxyRegister reg;
    reg.name = std::move(entry.name);
    reg.number = entry.number;
    reg.bits = entry.bits;
    reg.offset = read.bytes;
    std::uint32_t d = 0;
    if (NumberAfter(reg.name, "d", &d) && d < 16 && reg.bits == 64) {
      reg.kernel = static_cast<std::int32_t>(model::kRegS0 + 2 * d);
      reg.kernelHigh = static_cast<std::int32_t>(model::kRegS0 + 2 * d + 1);
    } else if (reg.bits == 32) {
      reg.kernel = ProxyKernelRegisterOf(reg.name);
    }
    const bool floating = reg.kernelHigh != kProxyNoKernelRegister ||
                          (reg.kernel >= static_cast<std::int32_t>(model::kRegS0) &&
                           reg.kernel <= static_cast<std::int32_t>(model::kRegFpscr));
    if (floating && read.gBytes == 0) read.gBytes = read.bytes;
    read.bytes += reg.bits / 8;
    read.registers.push_back(std::move(reg));
  }
  if (read.gBytes == 0) read.gBytes = read.bytes;
  *layout = std::move(read);
  return true;
}

std::string ProxyEncodeRegister(const ProxyRegisterLayout& layout, const ProxyRegister& reg,
                                const ProxyKernelRead& read) {
  std::string hex;
  const std::uint32_t bytes = reg.bits / 8;
  std::uint32_t low = 0;
  std::uint32_t high = 0;
  bool have = reg.kernel != kProxyNoKernelRegister && read(reg.kernel, &low);
  if (have && reg.kernelHigh != kProxyNoKernelRegister) have = read(reg.kernelHigh, &high);
  if (!have) {
    hex.append(2 * bytes, 'x');
    return hex;
  }
  PutValue(layout, std::uint64_t{high} << 32 | low, bytes, &hex);
  return hex;
}

std::string ProxyEncodeRegisters(const ProxyRegisterLayout& layout, const ProxyKernelRead& read) {
  std::string hex;
  hex.reserve(2 * layout.bytes);
  for (const ProxyRegister& reg : layout.registers)
    hex.append(ProxyEncodeRegister(layout, reg, read));
  return hex;
}

bool ProxyDecodeRegisterData(const ProxyRegisterLayout& layout, std::string_view hex,
                             ProxyRegisterData* data) {
  if (hex.size() % 2 != 0) return false;
  ProxyRegisterData read;
  const std::size_t count = std::max<std::size_t>(hex.size() / 2, layout.bytes);
  read.bytes.assign(count, 0);
  read.available.assign(count, false);
  for (std::size_t index = 0; index < hex.size() / 2; ++index) {
    const char first = hex[2 * index];
    const char second = hex[2 * index + 1];
    if (first == 'x' && second == 'x') continue;
    const int high = HexValue(first);
    const int low = HexValue(second);
    if (high < 0 || low < 0) return false;
    read.bytes[index] = static_cast<std::uint8_t>(high << 4 | low);
    read.available[index] = true;
  }
  *data = std::move(read);
  return true;
}

bool ProxyKernelFromData(const ProxyRegisterLayout& layout, const ProxyRegisterData& data,
                         std::int32_t kernel, std::uint32_t* value) {
  const ProxyRegister* reg = ProxyRegisterOfKernel(layout, kernel);
  if (reg == nullptr) return false;
  std::uint32_t start = reg->offset;
  const std::uint32_t bytes = reg->bits / 8;
  // The high half of a d register lies in its upper four bytes.
  if (reg->kernelHigh == kernel) {
    start += layout.bigEndian ? 0 : 4;
  } else if (reg->kernelHigh != kProxyNoKernelRegister) {
    start += layout.bigEndian ? 4 : 0;
  } else if (bytes != 4) {
    return false;
  }
  if (start + 4 > data.bytes.size()) return false;
  std::uint32_t result = 0;
  for (std::uint32_t index = 0; index < 4; ++index) {
    if (!data.available[start + index]) return false;
    const std::uint32_t shift = layout.bigEndian ? 8 * (3 - index) : 8 * index;
    result |= std::uint32_t{data.bytes[start + index]} << shift;
  }
  *value = result;
  return true;
}

const ProxyRegister* ProxyFindRegister(const ProxyRegisterLayout& layout, std::uint32_t number) {
  for (const ProxyRegister& reg : layout.registers) {
    if (reg.number == number) return &reg;
  }
  return nullptr;
}

const ProxyRegister* ProxyRegisterOfKernel(const ProxyRegisterLayout& layout, std::int32_t kernel) {
  if (kernel == kProxyNoKernelRegister) return nullptr;
  for (const ProxyRegister& reg : layout.registers) {
    if (reg.kernel == kernel || reg.kernelHigh == kernel) return &reg;
  }
  return nullptr;
}

bool ProxyDecodeRegisterValue(const ProxyRegisterLayout& layout, const ProxyRegister& reg,
                              std::string_view hex, std::uint64_t* value) {
  const std::uint32_t bytes = reg.bits / 8;
  if (bytes > 8 || hex.size() != 2 * static_cast<std::size_t>(bytes)) return false;
  std::uint64_t result = 0;
  for (std::uint32_t index = 0; index < bytes; ++index) {
    const int high = HexValue(hex[2 * index]);
    const int low = HexValue(hex[2 * index + 1]);
    if (high < 0 || low < 0) return false;
    const std::uint32_t shift = layout.bigEndian ? 8 * (bytes - 1 - index) : 8 * index;
    result |= std::uint64_t(high << 4 | low) << shift;
  }
  *value = result;
  return true;
}
