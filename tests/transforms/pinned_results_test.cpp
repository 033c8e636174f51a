// Checksums of results that depend on floating-point arithmetic. Both
// builds must produce these same bits, and an optimisation of the loops must
// not change them. (The resampler's sums moved once, when its work rows
// stopped being rounded to bytes: ResampleAgainstBefore shows every channel
// of these same cases within one level of the earlier results.)
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "support/test_images.h"
#include "transforms/format_transform.h"
#include "transforms/geometric_transforms.h"
#include "transforms/point_transforms.h"
#include "transforms/resize_transform.h"

namespace lumetra {
namespace {

std::string Checksum(const TDibGraphic& g) {
  std::uint64_t h = 1469598103934665603ull;
  const int bytes = (g.Width() * g.InfoHeader().biBitCount + 7) / 8;
  for (int y = 0; y < g.Height(); ++y)
    for (int i = 0; i < bytes; ++i) h = (h ^ g.ScanLine(y)[i]) * 1099511628211ull;
  for (int i = 0; i < PaletteEntryCount(g.ImageFormat()); ++i)
    h = (h ^ PaletteColour(g.LogPalette()->palPalEntry[i])) * 1099511628211ull;
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
  return text;
}

TEST(PinnedResults, FloatingPointTransformsGiveTheSameBitsEverywhere) {
  TDibGraphic source, dest;
  testing::MakePattern(source, ifTrueColor, 61, 47);
  std::string sums;
  for (int filter = rfTriangle; filter <= rfMitchell; ++filter) {
    TResizeTransform resize;
    resize.SetInterpolate(true);
    resize.SetResampleFilter(static_cast<TResampleFilter>(filter));
    resize.SetNewWidth(filter % 2 ? 23 : 140);
    resize.SetNewHeight(filter % 2 ? 90 : 19);
    resize.ApplyOnDest(source, dest);
    sums += Checksum(dest) + " ";
  }
  TRotateTransform rotate;
  rotate.SetAngle(13.7);
  rotate.ApplyOnDest(source, dest);
  sums += Checksum(dest) + " ";
  TContrastTransform().ApplyOnDest(source, dest);
  sums += Checksum(dest) + " ";
  TGammaTransform gamma;
  gamma.SetGammaValue(2.2);
  gamma.ApplyOnDest(source, dest);
  sums += Checksum(dest) + " ";
  TImageFormatTransform format;
  format.SetTargetFormat(ifColor16);
  format.ApplyOnDest(source, dest);
  sums += Checksum(dest);
  EXPECT_EQ(sums,
            "566c9a9b5387fba8 b6bceed0a3e4689e 287aa2cebeb75b2e 6b4d465fdd6f933b 50031641a94451ef "
            "62de790bfbbdcd59 21ae7bf7c383c028 020f0fa8374eb1d4 367423f928bba583 318663eb46a3f699");
}

}  // namespace
}  // namespace lumetra
