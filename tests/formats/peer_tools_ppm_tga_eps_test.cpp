// Portable maps and Targa files read like ImageMagick and netpbm read them
// both ways, and an EPS file shows the TIFF preview a peer wrote.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "formats/eps_graphic.h"
#include "formats/ppm_graphic.h"
#include "formats/registry.h"
#include "peer_tools.h"
#include "support/format_images.h"

namespace lumetra {
namespace {

using namespace testing;  // peer tools, patterns and comparators

// Portable maps as ImageMagick and netpbm write them: plain and raw, 8 and
// 16 bits (and netpbm's 10), with comment lines; ours read what they read.
TEST(PeerTools, PortableMapsLoadLikeThePeersReadThem) {
  ASSERT_TOOLS("convert", "pnmtoplainpnm", "pamdepth");
  const std::string dir = TempPath("qv_maps");
  ASSERT_EQ(RunTool("rm -rf " + dir + " && mkdir -p " + dir).status, 0);
  const std::string make =
      "cd " + dir + " && convert -size 41x27 gradient:red-blue -swirl 90 s24.png" +
      " && convert s24.png -colorspace gray sg.png && convert s24.png -monochrome s1.png";
  ASSERT_EQ(RunTool(make).status, 0);
  const char* const commands[] = {
      "convert s24.png -depth 8 p6.ppm",
      "convert s24.png -depth 16 p6_16.ppm",
      "convert s24.png -depth 8 -compress none p3.ppm",
      "convert s24.png -depth 16 -compress none p3_16.ppm",
      "convert sg.png -depth 8 p5.pgm",
      "convert sg.png -depth 16 p5_16.pgm",
      "convert sg.png -depth 8 -compress none p2.pgm",
      "convert s1.png p4.pbm",
      "convert s1.png -compress none p1.pbm",
      "pnmtoplainpnm p4.pbm >n1.pbm",
      "pnmtoplainpnm p5.pgm >n2.pgm",
      "pnmtoplainpnm p6.ppm >n3.ppm",
      "pamdepth 1023 p6.ppm >n6_10.ppm",
      "pamdepth 65535 p5.pgm >n5_16.pgm",
      "pamdepth 65535 p6.ppm | pnmtoplainpnm >n3_16.ppm",
      "(printf 'P6\n# one comment\n# and another\n41 27\n255\n'; tail -c 3321 p6.ppm) "
      ">comments.ppm",
  };
  for (const char* command : commands) {
    SCOPED_TRACE(command);
    ASSERT_EQ(RunTool("(cd " + dir + " && " + command + ")").status, 0);
  }
  for (const char* name : {"p6.ppm", "p6_16.ppm", "p3.ppm", "p3_16.ppm", "p5.pgm", "p5_16.pgm",
                           "p2.pgm", "p4.pbm", "p1.pbm", "n1.pbm", "n2.pgm", "n3.ppm", "n6_10.ppm",
                           "n5_16.pgm", "n3_16.ppm", "comments.ppm"}) {
    const std::string file = dir + "/" + name;
    SCOPED_TRACE(file);
    std::unique_ptr<TDibGraphic> image;
    ASSERT_NO_THROW(image = LoadAny(file));
    const auto rgb = MagickPixels(file, image->Width(), image->Height());
    ASSERT_FALSE(rgb.empty());
    EXPECT_EQ(Agreement(*image, rgb, 1), 1.0);
  }
  RunTool("rm -rf " + dir);
}

// Every format in both variants passes pnmfile and reads in ImageMagick with
// our pixels; Targa files of each depth too.
TEST(PeerTools, WrittenPortableMapsAndTargaReadLikeOurs) {
  ASSERT_TOOLS("convert", "pnmfile");
  for (int f = ifBlackWhite; f <= ifTrueColor; ++f)
    for (bool binary : {false, true}) {
      SCOPED_TRACE("format " + std::to_string(f) + (binary ? " raw" : " plain"));
      const std::string file = TempPath("qv_written.ppm");
      auto image = MakePatterned<TPpmGraphic>(TImageFormat(f), 45, 31);
      image->Binary = binary;
      image->SaveToFile(file);
      const ToolRun check = RunTool("pnmfile " + file);
      EXPECT_EQ(check.status, 0) << check.output;
      const auto rgb = MagickPixels(file, 45, 31);
      ASSERT_FALSE(rgb.empty());
      EXPECT_EQ(Agreement(*image, rgb, 0), 1.0);
      std::remove(file.c_str());
    }
}

// An EPS file with a binary header around netpbm's PostScript and a TIFF
// preview written by ImageMagick shows that preview.
TEST(PeerTools, EpsWithAPeerTiffPreviewShowsIt) {
  ASSERT_TOOLS("convert", "pnmtops");
  const std::string tif = TempPath("qv_preview.tif"), ps = TempPath("qv_preview.ps");
  auto image = MakePatterned(ifTrueColor, 40, 30);
  TPpmGraphic ppm;
  ppm.Assign(image.get());
  ppm.Binary = true;
  ppm.SaveToFile(TempPath("qv_preview.ppm"));
  ASSERT_EQ(RunTool("convert " + TempPath("qv_preview.ppm") + " -compress lzw " + tif).status, 0);
  ASSERT_EQ(RunTool("(pnmtops " + TempPath("qv_preview.ppm") + " >" + ps + ")").status, 0);
  TMemoryStream psBytes, tiffBytes;
  psBytes.LoadFromFile(ps);
  tiffBytes.LoadFromFile(tif);
  std::uint8_t h[32] = {};
  // The header is 30 bytes: seven offsets and lengths and a checksum
  // (0xFFFF: none).
  const std::uint32_t psAt = 30, tiffAt = 30 + std::uint32_t(psBytes.Size());
  const std::uint32_t fields[] = {TEPSGraphic::kMagic,
                                  psAt,
                                  std::uint32_t(psBytes.Size()),
                                  0,
                                  0,
                                  tiffAt,
                                  std::uint32_t(tiffBytes.Size()),
                                  0xFFFF};
  std::memcpy(h, fields, sizeof h);
  TMemoryStream eps;
  eps.WriteBuffer(h, 30);
  eps.WriteBuffer(psBytes.Memory(), psBytes.Size());
  eps.WriteBuffer(tiffBytes.Memory(), tiffBytes.Size());
  eps.SetPosition(0);
  auto reader = CreateGraphicForFile("x.eps");
  reader->LoadImageFromStream(eps, 1);
  EXPECT_TRUE(testing::SamePixels(*image, *reader));
  for (const std::string& f : {tif, ps, TempPath("qv_preview.ppm")}) std::remove(f.c_str());
}

}  // namespace
}  // namespace lumetra
