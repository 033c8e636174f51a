// Build step run on the build machine after widl: gives every type
// description of a compiled type library that has no version the library's
// own. widl refuses a version attribute on a dispinterface, yet clients read
// IScannerEvents' version from the type library like any other's.
//
// Usage: typelib_versions FILE.tlb (rewritten in place).
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

// The compiled layout: a header of 21 32-bit fields, one more when the
// help-DLL flag is set, the offsets of the type descriptions, then the
// segment directory whose first segment holds the type descriptions, each
// 100 bytes with its version at byte 56.
constexpr std::size_t kHeaderFields = 21;
constexpr std::size_t kVarFlags = 5, kLibVersion = 6, kTypeCount = 8;
constexpr std::uint32_t kHelpDllFlag = 0x100;
constexpr std::uint32_t kMagic = 0x5446534D;  // "MSFT"
constexpr std::size_t kSegmentEntry = 16;
constexpr std::size_t kTypeInfoSize = 100, kTypeInfoVersion = 56;

std::uint32_t Get(const std::vector<unsigned char>& data, std::size_t at) {
  return data[at] | data[at + 1] << 8 | data[at + 2] << 16 | std::uint32_t{data[at + 3]} << 24;
}

void Put(std::vector<unsigned char>& data, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) data[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: typelib_versions FILE.tlb\n");
    return 2;
  }
  std::vector<unsigned char> data;
  {
    std::ifstream in(argv[1], std::ios::binary);
    data.assign(std::istreambuf_iterator<char>(in), {});
  }
  auto fail = [&](const char* why) {
    std::fprintf(stderr, "typelib_versions: %s: %s\n", argv[1], why);
    return 1;
  };
  if (data.size() < kHeaderFields * 4 || Get(data, 0) != kMagic) return fail("not a type library");
  const std::uint32_t libVersion = Get(data, kLibVersion * 4);
  const std::uint32_t count = Get(data, kTypeCount * 4);
  std::size_t at = kHeaderFields * 4;
  if (Get(data, kVarFlags * 4) & kHelpDllFlag) at += 4;
  at += std::size_t{count} * 4;
  if (at + kSegmentEntry > data.size()) return fail("truncated segment directory");
  const std::size_t table = Get(data, at);
  if (table + std::size_t{count} * kTypeInfoSize > data.size()) return fail("truncated type table");
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t version = table + i * kTypeInfoSize + kTypeInfoVersion;
    if (Get(data, version) == 0) Put(data, version, libVersion);
  }
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  return out ? 0 : fail("cannot write");
}
