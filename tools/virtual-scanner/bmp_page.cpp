#include "bmp_page.h"

#include <algorithm>
#include <cstring>

namespace quorvex::vscan {

bool BmpFileToPackedDib(const std::vector<std::uint8_t>& file, std::vector<std::uint8_t>& dib) {
  if (file.size() < 14 + 40 || file[0] != 'B' || file[1] != 'M') return false;
  auto read32 = [&](std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, file.data() + at, 4);
    return v;
  };
  const std::uint32_t pixelOffset = read32(10);
  const std::uint32_t headerSize = read32(14);
  if (headerSize < 40 || headerSize > file.size() - 14) return false;
  const auto width = static_cast<std::int32_t>(read32(18));
  const auto height = static_cast<std::int32_t>(read32(22));
  const std::uint16_t bits = static_cast<std::uint16_t>(file[28] | file[29] << 8);
  const std::uint32_t compression = read32(30);
  const std::uint32_t used = read32(46);
  if (width <= 0 || height == 0 || height == INT32_MIN || bits == 0 || bits > 32) return false;
  std::uint64_t table = bits <= 8 ? 4ull * (used ? std::min<std::uint32_t>(used, 256) : 1u << bits) : 0;
  if (compression == 3 && headerSize == 40) table += 12;  // BI_BITFIELDS masks
  const std::uint64_t stride = (std::uint64_t(width) * bits + 31) / 32 * 4;
  const std::uint64_t pixels = compression == 0 || compression == 3
                                   ? stride * std::uint64_t(height < 0 ? -std::int64_t(height) : height)
                                   : read32(34);
  const std::uint64_t tableEnd = 14 + std::uint64_t(headerSize) + table;
  if (pixelOffset < 14 + headerSize || tableEnd > file.size() || pixels == 0 ||
      pixelOffset + pixels > file.size())
    return false;
  dib.assign(file.begin() + 14, file.begin() + static_cast<std::ptrdiff_t>(tableEnd));
  dib.insert(dib.end(), file.begin() + pixelOffset, file.begin() + static_cast<std::ptrdiff_t>(pixelOffset + pixels));
  return true;
}

}  // namespace quorvex::vscan
