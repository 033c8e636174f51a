// Writes the seed corpus: small valid files of each format and layout, so
// the fuzzers start from inputs that reach the pixel paths.
#include <cstdio>
#include <string>
#include <vector>

#include "formats/bmp_graphic.h"
#include "formats/jpeg_graphic.h"
#include "formats/pcx_graphic.h"
#include "formats/pdf_graphic.h"
#include "formats/png_graphic.h"
#include "formats/ppm_graphic.h"
#include "formats/tga_graphic.h"
#include "formats/tiff_graphic.h"

using namespace lumetra;

namespace {

template <class T>
std::unique_ptr<T> Sample(TImageFormat format, int w, int h) {
  auto image = std::make_unique<T>();
  image->NewImage(w, h, format, nullptr, 100, 100);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      image->SetPixels(x, y, ((x * 37) << 16) ^ ((y * 11) << 8) ^ (x * y));
  return image;
}

void Save(TDibGraphic& image, const std::string& path) {
  TFileStream out(path, fmCreate);
  image.SaveToStream(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  int n = 0;
  for (int f = ifBlackWhite; f <= ifTrueColor; ++f) {
    for (int c = tcNone; c <= tcLZW; ++c) {
      if (!IsCompressionAllowed(TTiffCompression(c), TImageFormat(f))) continue;
      auto tiff = Sample<TTiffGraphic>(TImageFormat(f), 17, 9);
      tiff->SetCompression(TTiffCompression(c));
      tiff->SetRowsPerStrip(4);
      TFileStream out(dir + "/tiff_" + std::to_string(n++) + ".tif", fmCreate);
      tiff->SaveToStream(out);
      tiff->AppendToStream(out);
    }
    auto png = Sample<TPngGraphic>(TImageFormat(f), 13, 7);
    png->Interlaced = f % 2 == 0;
    Save(*png, dir + "/png_" + std::to_string(f) + ".png");
  }
  for (int f = ifBlackWhite; f <= ifTrueColor; ++f) {
    const std::string suffix = std::to_string(f);
    Save(*Sample<TBitmapGraphic>(TImageFormat(f), 13, 7), dir + "/bmp_" + suffix + ".bmp");
    Save(*Sample<TPcxGraphic>(TImageFormat(f), 13, 7), dir + "/pcx_" + suffix + ".pcx");
    TFileStream dcx(dir + "/dcx_" + suffix + ".dcx", fmCreate);
    Sample<TDcxGraphic>(TImageFormat(f), 13, 7)->AppendToStream(dcx);
    Sample<TDcxGraphic>(ifBlackWhite, 9, 5)->AppendToStream(dcx);
    if (f == ifGray256 || f == ifColor256 || f == ifTrueColor)
      Save(*Sample<TTgaGraphic>(TImageFormat(f), 13, 7), dir + "/tga_" + suffix + ".tga");
    for (bool binary : {false, true}) {
      auto ppm = Sample<TPpmGraphic>(TImageFormat(f), 13, 7);
      ppm->Binary = binary;
      Save(*ppm, dir + "/ppm_" + suffix + (binary ? "r" : "p") + ".ppm");
    }
  }
  for (bool progressive : {false, true})
    for (TImageFormat f : {ifGray256, ifTrueColor}) {
      auto jpeg = Sample<TJpegGraphic>(f, 19, 11);
      jpeg->Progressive = progressive;
      Save(*jpeg, dir + "/jpeg_" + std::to_string(f) + (progressive ? "p" : "") + ".jpg");
    }
  // One document with a page of every format, and one made by appending.
  std::vector<std::unique_ptr<TDibGraphic>> pages;
  for (int f = ifBlackWhite; f <= ifTrueColor; ++f)
    pages.push_back(Sample<TDibGraphic>(TImageFormat(f), 23, 15));
  TPdfGraphic pdf;
  {
    TFileStream out(dir + "/pdf_all.pdf", fmCreate);
    pdf.SaveImagesToStream(out, static_cast<int>(pages.size()), [&](int i, bool& freeIt) {
      freeIt = false;
      return static_cast<TGraphic*>(pages[i - 1].get());
    });
  }
  TFileStream out(dir + "/pdf_appended.pdf", fmCreate);
  for (int f : {ifBlackWhite, ifColor256}) {
    pdf.Assign(pages[f].get());
    pdf.AppendToStream(out);
  }
  return 0;
}
