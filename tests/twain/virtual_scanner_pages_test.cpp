// The virtual scanner's pages and settings file, without a source manager.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <vector>

#include "bmp_page.h"
#include "imaging/dib_graphic.h"
#include "page_painter.h"
#include "settings.h"

namespace quorvex::vscan {
namespace {

struct PaintedPage {
  lumetra::TBitmapInfoHeader header;
  std::vector<std::uint8_t> block;
  const std::uint8_t* Bits() const {
    return block.data() + sizeof header + header.biClrUsed * 4;
  }
  int Stride() const { return ((header.biWidth * header.biBitCount + 31) / 32) * 4; }
};

PaintedPage Paint(const TPageRequest& request) {
  PaintedPage page;
  // Guard bytes after the block catch a painter that writes past its end.
  const std::size_t size = PackedDibSize(request);
  page.block.assign(size + 64, 0xA5);
  PaintPage(request, page.block.data());
  EXPECT_TRUE(std::all_of(page.block.begin() + size, page.block.end(),
                          [](std::uint8_t b) { return b == 0xA5; }));
  page.block.resize(size);
  std::memcpy(&page.header, page.block.data(), sizeof page.header);
  return page;
}

struct PageCase {
  int bitsPerPixel;
  bool colour;
  std::uint16_t xDpi, yDpi;
};

class PagePainterTest : public ::testing::TestWithParam<PageCase> {};

TEST_P(PagePainterTest, IsAConsistentA4PackedDib) {
  const PageCase c = GetParam();
  const TPageRequest request{7, c.xDpi, c.yDpi, c.bitsPerPixel, c.colour};
  const PaintedPage page = Paint(request);
  const auto& h = page.header;
  EXPECT_EQ(h.biSize, 40u);
  EXPECT_EQ(h.biWidth, static_cast<int>(std::lround(210 / 25.4 * c.xDpi)));
  EXPECT_EQ(h.biHeight, static_cast<int>(std::lround(297 / 25.4 * c.yDpi)));
  EXPECT_EQ(h.biBitCount, c.bitsPerPixel);
  EXPECT_EQ(h.biCompression, 0u);
  EXPECT_EQ(h.biClrUsed, c.bitsPerPixel <= 8 ? 1u << c.bitsPerPixel : 0u);
  EXPECT_EQ(h.biSizeImage, static_cast<std::uint32_t>(page.Stride()) * h.biHeight);
  EXPECT_EQ(page.block.size(), 40 + h.biClrUsed * 4 + h.biSizeImage);
  EXPECT_NEAR(h.biXPelsPerMeter / 39.37, c.xDpi, 0.5);
  EXPECT_NEAR(h.biYPelsPerMeter / 39.37, c.yDpi, 0.5);

  // Mostly paper with some ink: count distinct pixel bytes of the rows.
  std::set<std::uint8_t> values;
  for (int y = 0; y < h.biHeight; y += 7) {
    const std::uint8_t* row = page.Bits() + static_cast<std::size_t>(y) * page.Stride();
    values.insert(row, row + (h.biWidth * h.biBitCount + 7) / 8);
  }
  EXPECT_GT(values.size(), 1u) << "a blank page";
}

INSTANTIATE_TEST_SUITE_P(Formats, PagePainterTest,
                         ::testing::Values(PageCase{1, false, 300, 300}, PageCase{1, false, 75, 150},
                                           PageCase{4, false, 100, 100}, PageCase{8, false, 50, 60},
                                           PageCase{4, true, 100, 100}, PageCase{8, true, 120, 80},
                                           PageCase{24, true, 100, 100}, PageCase{24, true, 51, 53}));

// The colour of a pixel in the photograph region (top right of the page).
std::uint32_t PhotoPixel(const PaintedPage& page, int dpi) {
  const int x = static_cast<int>(6.0 * dpi);
  const int y = page.header.biHeight - 1 - static_cast<int>(3.0 * dpi);
  const std::uint8_t* p = page.Bits() + static_cast<std::size_t>(y) * page.Stride() + 3 * x;
  return p[2] << 16 | p[1] << 8 | p[0];
}

TEST(PagePainter, ColourPagesCarryAPhotograph) {
  const PaintedPage colour = Paint(TPageRequest{1, 100, 100, 24, true});
  const std::uint32_t pixel = PhotoPixel(colour, 100);
  const int r = pixel >> 16, g = pixel >> 8 & 0xff, b = pixel & 0xff;
  EXPECT_FALSE(r == g && g == b) << std::hex << pixel;

  // Grey pages keep the photo area for text and paper: only greys.
  const PaintedPage grey = Paint(TPageRequest{1, 100, 100, 8, false});
  for (std::uint32_t i = 0; i < grey.header.biClrUsed; ++i) {
    const std::uint8_t* q = grey.block.data() + 40 + 4 * i;
    EXPECT_TRUE(q[0] == q[1] && q[1] == q[2]) << i;
  }
}

TEST(PagePainter, ABlankSheetOfAnySizeIsAllPaper) {
  for (const int bits : {1, 8, 24}) {
    TPageRequest request{2, 100, 100, bits, bits == 24};
    request.width = 333;
    request.height = 5;
    request.blank = true;
    const PaintedPage page = Paint(request);
    EXPECT_EQ(page.header.biWidth, 333);
    EXPECT_EQ(page.header.biHeight, 5);
    for (int y = 0; y < 5; ++y) {
      const std::uint8_t* row = page.Bits() + static_cast<std::size_t>(y) * page.Stride();
      for (int x = 0; x < 333; ++x) {
        std::uint32_t colour;
        if (bits == 24) {
          colour = row[3 * x] | row[3 * x + 1] << 8 | row[3 * x + 2] << 16;
        } else {
          const int index = bits == 1 ? row[x >> 3] >> (7 - (x & 7)) & 1 : row[x];
          const std::uint8_t* q = page.block.data() + 40 + 4 * index;
          colour = q[0] | q[1] << 8 | q[2] << 16;
        }
        ASSERT_EQ(colour, 0xFFFFFFu) << bits << " bits at " << x << "," << y;
      }
    }
  }
}

TEST(PagePainter, EveryPageNumberLooksDifferent) {
  const PaintedPage first = Paint(TPageRequest{1, 100, 100, 1, false});
  const PaintedPage second = Paint(TPageRequest{2, 100, 100, 1, false});
  const PaintedPage firstAgain = Paint(TPageRequest{1, 100, 100, 1, false});
  EXPECT_NE(first.block, second.block);
  EXPECT_EQ(first.block, firstAgain.block);
  // Large numbers fit on the page too.
  Paint(TPageRequest{123456, 100, 100, 1, false});
}

struct BmpCase {
  int bits;
  std::uint32_t colours;  // biClrUsed
  std::uint32_t gap;      // bytes between the colour table and the pixels
  std::size_t cut;        // bytes missing at the end of the file
  bool valid;
};

class BmpPageTest : public ::testing::TestWithParam<BmpCase> {};

// A 5 x 3 BMP whose pixel bytes are 0x80 and whose table entries are 0x11.
TEST_P(BmpPageTest, PixelsComeFromTheirOffsetAfterHeaderAndTable) {
  const BmpCase c = GetParam();
  const std::uint32_t tableBytes = c.bits <= 8 ? 4 * (c.colours ? c.colours : 1u << c.bits) : 0;
  const std::uint32_t stride = (5 * c.bits + 31) / 32 * 4;
  const std::uint32_t offset = 14 + 40 + tableBytes + c.gap;
  std::vector<std::uint8_t> file(offset + stride * 3, 0x00);
  auto put = [&](std::size_t at, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) file[at + i] = static_cast<std::uint8_t>(v >> 8 * i);
  };
  file[0] = 'B';
  file[1] = 'M';
  put(2, static_cast<std::uint32_t>(file.size()), 4);
  put(10, offset, 4);
  put(14, 40, 4);
  put(18, 5, 4);
  put(22, 3, 4);
  put(26, 1, 2);
  put(28, static_cast<std::uint32_t>(c.bits), 2);
  put(46, c.colours, 4);
  std::fill(file.begin() + 54, file.begin() + 54 + tableBytes, 0x11);
  std::fill(file.begin() + offset, file.end(), 0x80);
  file.resize(file.size() - c.cut);

  std::vector<std::uint8_t> dib;
  ASSERT_EQ(BmpFileToPackedDib(file, dib), c.valid);
  if (!c.valid) return;
  ASSERT_EQ(dib.size(), 40 + tableBytes + stride * 3);
  EXPECT_TRUE(std::equal(dib.begin(), dib.begin() + 40, file.begin() + 14));
  EXPECT_TRUE(std::all_of(dib.begin() + 40, dib.begin() + 40 + tableBytes,
                          [](std::uint8_t b) { return b == 0x11; }));
  EXPECT_TRUE(std::all_of(dib.begin() + 40 + tableBytes, dib.end(),
                          [](std::uint8_t b) { return b == 0x80; }));
}

INSTANTIATE_TEST_SUITE_P(Files, BmpPageTest,
                         ::testing::Values(BmpCase{24, 0, 0, 0, true}, BmpCase{24, 0, 16, 0, true},
                                           BmpCase{8, 0, 2, 0, true}, BmpCase{8, 16, 100, 0, true},
                                           BmpCase{1, 0, 0, 0, true}, BmpCase{24, 0, 16, 1, false},
                                           BmpCase{8, 0, 0, 1, false}));

TEST(BmpPage, AnOffsetInsideTheHeaderOrPastTheEndIsRefused) {
  std::vector<std::uint8_t> file(54 + 12, 0);
  file[0] = 'B';
  file[1] = 'M';
  file[14] = 40;
  file[18] = 4;   // 4 x 1, 24 bits: 12 bytes
  file[22] = 1;
  file[26] = 1;
  file[28] = 24;
  std::vector<std::uint8_t> dib;
  for (const std::uint32_t offset : {20u, 60u, 0xFFFFFFF0u}) {
    for (int i = 0; i < 4; ++i) file[10 + i] = static_cast<std::uint8_t>(offset >> 8 * i);
    EXPECT_FALSE(BmpFileToPackedDib(file, dib)) << offset;
  }
}

TEST(ScanSettings, ReadsEveryKeyAndIgnoresTheRest) {
  const TScanSettings s = ParseSettings(
      "# a test batch\r\n"
      "pages = 5\r\n"
      "  cancel_at=2   # the second sheet jams\n"
      "refuse_imageinfo = yes\n"
      "fail_enable = true\n"
      "feeder_loaded = 1\n"
      "colour = purple\n"
      "folder = C:\\scans\\in box\n"
      "log = C:\\temp\\source.log\n"
      "checkstatus_set = 1\ncheckstatus_enable = yes\npending_unknown = 1\n"
      "fail_transfer_at = 3\nfail_endxfer_at = 4\nrefuse_caps = 1\nshort_block_at = 5\n"
      "huge_page_at = 6\nno_closereq = 1\nfail_closeds_once = 1\npause_ms = 2500\n"
      "product_name = Acme Flatbed 9000 with a name longer than thirty-two\n");
  EXPECT_EQ(s.pages, 5);
  EXPECT_EQ(s.cancelAt, 2);
  EXPECT_TRUE(s.refuseImageInfo);
  EXPECT_TRUE(s.failEnable);
  EXPECT_TRUE(s.feederLoaded);
  EXPECT_EQ(s.folder, "C:\\scans\\in box");
  EXPECT_EQ(s.log, "C:\\temp\\source.log");
  EXPECT_TRUE(s.checkStatusOnSet && s.checkStatusOnEnable && s.pendingUnknown);
  EXPECT_TRUE(s.refuseCapabilities && s.noCloseRequest && s.failCloseOnce);
  EXPECT_EQ(s.failTransferAt, 3);
  EXPECT_EQ(s.failEndTransferAt, 4);
  EXPECT_EQ(s.shortBlockAt, 5);
  EXPECT_EQ(s.hugePageAt, 6);
  EXPECT_EQ(s.pauseMs, 2500);
  // A TWAIN product name holds 32 characters.
  EXPECT_EQ(s.productName, "Acme Flatbed 9000 with a name lo");
}

TEST(ScanSettings, BadValuesKeepTheDefaults) {
  const TScanSettings s =
      ParseSettings("pages = many\ncancel_at = -1\nfeeder_loaded = maybe\npages 9\n= 4\n");
  EXPECT_EQ(s.pages, 3);
  EXPECT_EQ(s.cancelAt, 0);
  EXPECT_FALSE(s.feederLoaded);
}

}  // namespace
}  // namespace quorvex::vscan
