#include "formats/pdf_tiff_directory.h"

#include <algorithm>
#include <set>

#include "base/exception.h"
#include "base/format.h"

namespace lumetra {
namespace {

constexpr std::uint16_t kTypeShort = 3;
constexpr std::uint16_t kTypeLong = 4;
constexpr std::uint32_t kEntrySize = 12;

std::uint16_t Swap16(std::uint16_t v) {
  return static_cast<std::uint16_t>((v >> 8) | (v << 8));
}
std::uint32_t Swap32(std::uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

[[noreturn]] void InvalidPage() {
  throw Exception("Invalid TIFF Page Number");
}

}  // namespace

// --- TTiffDecoder -------------------------------------------------------------------

TTiffDecoder::TTiffDecoder(TStream& stream) : stream_(stream), base_(stream.Position()) {
  std::uint8_t order[2];
  stream_.ReadBuffer(order, 2);
  bigEndian_ = order[0] == 'M' && order[1] == 'M';
  Read16();  // 42
  firstDirectory_ = Read32();
}

std::uint16_t TTiffDecoder::Read16() {
  std::uint8_t b[2];
  stream_.ReadBuffer(b, 2);
  const auto v = static_cast<std::uint16_t>(b[0] | (b[1] << 8));
  return bigEndian_ ? Swap16(v) : v;
}

std::uint32_t TTiffDecoder::Read32() {
  std::uint8_t b[4];
  stream_.ReadBuffer(b, 4);
  const std::uint32_t v = b[0] | (b[1] << 8) | (b[2] << 16) | (std::uint32_t{b[3]} << 24);
  return bigEndian_ ? Swap32(v) : v;
}

void TTiffDecoder::Select(int pageIndex) {
  entries_.clear();
  const std::int64_t length = stream_.Size() - base_;
  std::set<std::uint32_t> visited;  // a chain that loops back ends the walk
  std::uint32_t offset = firstDirectory_;
  for (int index = 0; offset != 0 && visited.insert(offset).second; ++index) {
    if (offset + std::int64_t{2} > length) InvalidPage();
    stream_.SetPosition(base_ + offset);
    const std::uint16_t count = Read16();
    if (offset + 2 + std::int64_t{count} * kEntrySize + 4 > length) InvalidPage();
    if (index == pageIndex) {
      entries_.reserve(count);
      for (int i = 0; i < count; ++i) {
        Entry e{};
        e.tag = Read16();
        e.type = Read16();
        e.count = Read32();
        e.value = Read32();
        // A single SHORT sits in the first two bytes of the value field:
        // in a big-endian file those are the high half of the swapped word.
        if (bigEndian_ && e.type == kTypeShort && e.count == 1) e.value >>= 16;
        entries_.push_back(e);
      }
      return;
    }
    stream_.Seek(std::int64_t{count} * kEntrySize, soCurrent);
    offset = Read32();
  }
  InvalidPage();
}

int TTiffDecoder::IndexOfTag(std::uint16_t tag) const {
  for (std::size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].tag == tag) return static_cast<int>(i);
  return -1;
}

std::uint32_t TTiffDecoder::TagValue(std::uint16_t tag) const {
  const int index = IndexOfTag(tag);
  if (index < 0) throw Exception(Format("TIFF Tag Not Found: %d", tag));
  return entries_[index].value;
}

// --- TTiffEncoder -------------------------------------------------------------------

TTiffEncoder::TTiffEncoder(TStream& stream) : stream_(stream), base_(stream.Position()) {
  const std::uint8_t placeholder[8] = {};
  stream_.WriteBuffer(placeholder, 8);
}

std::uint32_t TTiffEncoder::Offset() const {
  return static_cast<std::uint32_t>(stream_.Position() - base_);
}

void TTiffEncoder::WordAlign() {
  if (Offset() & 1) {
    const std::uint8_t zero = 0;
    stream_.WriteBuffer(&zero, 1);
  }
}

void TTiffEncoder::BeginDirectory() {
  entries_.clear();
}

void TTiffEncoder::AddLong(std::uint16_t tag, std::uint32_t value) {
  entries_.push_back({tag, kTypeLong, 1, value});
}

void TTiffEncoder::AddShort(std::uint16_t tag, std::uint16_t value) {
  entries_.push_back({tag, kTypeShort, 1, value});
}

void TTiffEncoder::AddShorts(std::uint16_t tag, const std::vector<std::uint16_t>& values) {
  WordAlign();
  const std::uint32_t offset = Offset();
  std::vector<std::uint8_t> bytes(values.size() * 2);
  for (std::size_t i = 0; i < values.size(); ++i) Put16(&bytes[2 * i], values[i]);
  if (!bytes.empty()) stream_.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  entries_.push_back({tag, kTypeShort, static_cast<std::uint32_t>(values.size()), offset});
}

void TTiffEncoder::WriteDirectory() {
  WordAlign();
  const std::uint32_t directory = Offset();
  std::stable_sort(entries_.begin(), entries_.end(),
                   [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
  std::vector<std::uint8_t> bytes(2 + entries_.size() * kEntrySize + 4);
  Put16(bytes.data(), static_cast<std::uint16_t>(entries_.size()));
  std::uint8_t* p = bytes.data() + 2;
  for (const Entry& e : entries_) {
    Put16(p, e.tag);
    Put16(p + 2, e.type);
    Put32(p + 4, e.count);
    Put32(p + 8, e.value);
    p += kEntrySize;
  }
  Put32(p, 0);
  stream_.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  if (directories_++ == 0) {
    const std::int64_t end = stream_.Position();
    std::uint8_t header[8] = {'I', 'I'};
    Put16(header + 2, 42);
    Put32(header + 4, directory);
    stream_.SetPosition(base_);
    stream_.WriteBuffer(header, 8);
    stream_.SetPosition(end);
  }
}

}  // namespace lumetra
