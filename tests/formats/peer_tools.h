// What the peer-tool tests share: running a peer tool, and reading a file's
// pixels the way ImageMagick reads them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "formats/registry.h"
#include "imaging/dib_graphic.h"
#include "support/format_images.h"

namespace lumetra::testing {

inline bool HaveTool(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// The set-up installs every peer tool and source package: one that is
// missing is a broken machine, not a reason to check nothing.
#define ASSERT_TOOLS(...)                         \
  for (const char* tool : {__VA_ARGS__})          \
  ASSERT_TRUE(::lumetra::testing::HaveTool(tool)) \
      << tool << " is missing: run scripts/setup-packages.sh"

struct ToolRun {
  int status;
  std::string output;  // stdout and stderr
};

inline ToolRun RunTool(const std::string& command) {
  const std::string log = TempPath("qv_peer_tool.log");
  const int status = std::system((command + " >" + log + " 2>&1").c_str());
  std::ifstream in(log);
  std::stringstream text;
  text << in.rdbuf();
  std::remove(log.c_str());
  return {status, text.str()};
}

// ImageMagick's 8-bit RGB pixels of a page of File (0 the first), or empty.
// ImageMagick keeps the rows of a bottom-up Targa file in file order unless
// it is told to orient them.
inline std::vector<std::uint8_t> MagickPixels(const std::string& file, int width, int height,
                                              int page = 0) {
  const std::string raw = TempPath("qv_magick.rgb");
  std::remove(raw.c_str());
  const bool targa = file.size() > 4 && file.substr(file.size() - 4) == ".tga";
  if (RunTool("convert '" + file + "[" + std::to_string(page) + "]' " +
              (targa ? "-auto-orient " : "") + "-depth 8 rgb:" + raw)
          .status != 0)
    return {};
  std::ifstream in(raw, std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  std::remove(raw.c_str());
  if (bytes.size() != std::size_t(width) * height * 3) return {};
  return bytes;
}

// Fraction of pixels within Tolerance on every channel.
inline double Agreement(const TDibGraphic& image, const std::vector<std::uint8_t>& rgb,
                        int tolerance) {
  long good = 0;
  for (int y = 0; y < image.Height(); ++y)
    for (int x = 0; x < image.Width(); ++x) {
      const std::uint32_t p = image.Pixels(x, y);
      const std::uint8_t* q = rgb.data() + (std::size_t(y) * image.Width() + x) * 3;
      good += std::abs(int(p >> 16) - q[0]) <= tolerance &&
              std::abs(int((p >> 8) & 0xFF) - q[1]) <= tolerance &&
              std::abs(int(p & 0xFF) - q[2]) <= tolerance;
    }
  return double(good) / (double(image.Width()) * image.Height());
}

// Loads File with the class its extension names.
inline std::unique_ptr<TDibGraphic> LoadAny(const std::string& file) {
  RegisterExtraPictureFormats();
  auto image = CreateGraphicForFile(file);
  image->LoadFromFile(file);
  return image;
}

}  // namespace lumetra::testing
