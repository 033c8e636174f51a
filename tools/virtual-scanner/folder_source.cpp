// The folder source: BMP files of a folder delivered as the scanned pages,
// at the resolution the application asked for.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "bmp_page.h"
#include "virtual_source.h"

namespace quorvex::vscan {
namespace {

// A BMP file of the folder source as a packed DIB.
bool ReadBmpAsDib(const std::string& path, std::vector<std::uint8_t>& dib) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::vector<std::uint8_t> file;
  std::uint8_t buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
    file.insert(file.end(), buffer, buffer + n);
    if (file.size() > (512u << 20)) break;
  }
  std::fclose(f);
  return BmpFileToPackedDib(file, dib);
}

}  // namespace

void VirtualSource::ListFolder() {
  folderFiles_.clear();
  if (!settings_.folder.empty()) {
    WIN32_FIND_DATAA found;
    const std::string pattern = settings_.folder + "\\*.bmp";
    const HANDLE find = FindFirstFileA(pattern.c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
          folderFiles_.push_back(settings_.folder + "\\" + found.cFileName);
      } while (FindNextFileA(find, &found));
      FindClose(find);
    }
    std::sort(folderFiles_.begin(), folderFiles_.end());
  }
}

bool VirtualSource::LoadFolderPage(std::vector<std::uint8_t>& dib) {
  if (pagesDone_ >= static_cast<int>(folderFiles_.size())) return false;
  if (!ReadBmpAsDib(folderFiles_[pagesDone_], dib)) return false;
  // The page is delivered at the resolution asked for.
  const auto xDpi = static_cast<std::int32_t>(CurrentValue(ICAP_XRESOLUTION) * 39.3700787 + 0.5);
  const auto yDpi = static_cast<std::int32_t>(CurrentValue(ICAP_YRESOLUTION) * 39.3700787 + 0.5);
  std::memcpy(dib.data() + 24, &xDpi, 4);
  std::memcpy(dib.data() + 28, &yDpi, 4);
  return true;
}

}  // namespace quorvex::vscan
