// The folder source's pages: a BMP file as the packed DIB a native transfer
// carries (header, colour table, pixels).
#pragma once

#include <cstdint>
#include <vector>

namespace quorvex::vscan {

// Takes the header and colour table after the 14-byte file header and the
// pixels from where the file header says they start (writers may leave a
// gap before them). False for a file that is no BMP or is cut short.
bool BmpFileToPackedDib(const std::vector<std::uint8_t>& file, std::vector<std::uint8_t>& dib);

}  // namespace quorvex::vscan
