#include "formats/registry.h"

#include <thread>

#include "support/format_images.h"
#include "formats/jpeg_graphic.h"
#include "formats/png_graphic.h"
#include "formats/tiff_graphic.h"

namespace lumetra {
namespace {

using testing::MessageOf;

class TFirstTestGraphic : public TDibGraphic {
 public:
  const char* ClassName() const noexcept override { return "TFirstTestGraphic"; }
};
class TSecondTestGraphic : public TDibGraphic {
 public:
  const char* ClassName() const noexcept override { return "TSecondTestGraphic"; }
};

struct Lookup {
  const char* name;
  const char* className;  // null: nothing registered
};

class RegistryLookup : public ::testing::TestWithParam<Lookup> {};

TEST_P(RegistryLookup, FindsByExtensionOrBareWord) {
  const TGraphicClass* found = FindGraphicClass(GetParam().name);
  if (!GetParam().className) {
    EXPECT_EQ(found, nullptr);
  } else {
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->className, GetParam().className);
    EXPECT_STREQ(found->Create()->ClassName(), GetParam().className);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, RegistryLookup,
    ::testing::Values(Lookup{"scan.tif", "TTiffGraphic"}, Lookup{"SCAN.TIF", "TTiffGraphic"},
                      Lookup{"TIF", "TTiffGraphic"}, Lookup{"*.TIFF", "TTiffGraphic"},
                      Lookup{".tiff", "TTiffGraphic"}, Lookup{"C:\\pics.v2\\a.Png", "TPngGraphic"},
                      Lookup{"photo.jpeg", "TJpegGraphic"}, Lookup{"jpg", "TJpegGraphic"},
                      Lookup{"archive.tif.xyz", nullptr}, Lookup{"README", nullptr},
                      Lookup{"C:\\dir.tif\\file", nullptr}, Lookup{"", nullptr}));

TEST(Registry, UnknownExtensionMessageCarriesTheDot) {
  EXPECT_EQ(MessageOf([] { CreateGraphicForFile("c:\\x\\picture.xyz"); }),
            "Graphic files of .xyz format are not supported or not registered");
  EXPECT_EQ(MessageOf([] { CreateGraphicForFile("README"); }),
            "Graphic files of  format are not supported or not registered");
  EXPECT_THROW(CreateGraphicForFile("README"), ELumetraError);
}

TEST(Registry, BuiltinTableComesFirstInItsOrder) {
  const auto formats = RegisteredFileFormats();
  const std::pair<const char*, const char*> expected[] = {{"PPM", "Portable Pixelmap"},
                                                          {"PGM", "Portable Greymap"},
                                                          {"PBM", "Portable Bitmap"},
                                                          {"TIF", "TIFF file"},
                                                          {"TIFF", "TIFF file"},
                                                          {"PCX", "ZSoft PC Paintbrush"},
                                                          {"PCC", "ZSoft PC Paintbrush"},
                                                          {"DCX", "DCX file"},
                                                          {"PNG", "Portable Network Graphic"},
                                                          {"JPG", "JPEG"},
                                                          {"JPEG", "JPEG"},
                                                          {"PDF", "PDF file"},
                                                          {"TGA", "Truevision Targa"},
                                                          {"VST", "Truevision Vista"},
                                                          {"AFI", "Truevision Targa"},
                                                          {"EPS", "Encapsulated postscript"}};
  ASSERT_GE(formats.size(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(formats[i].extension, expected[i].first);
    EXPECT_EQ(formats[i].description, expected[i].second);
  }
}

TEST(Registry, FirstRegistrationWinsAndExtensionsAreUpperCased) {
  RegisterFileFormat("qvt", "Test one", GraphicClassOf<TFirstTestGraphic>());
  RegisterFileFormat("QVT", "Test two", GraphicClassOf<TSecondTestGraphic>());
  const TGraphicClass* found = FindGraphicClass("x.QvT");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->className, "TFirstTestGraphic");
  EXPECT_EQ(RegisteredFileFormats().back().extension, "QVT");
  const std::string filter = GraphicFileFilter();
  EXPECT_EQ(
      filter.rfind("All (*.ppm;*.pgm;*.pbm;*.tif;*.tiff;*.pcx;*.pcc;*.dcx;*.png;*.jpg;*.jpeg;", 0),
      0u)
      << filter;
  EXPECT_NE(filter.find("|TIFF file (*.tif)|*.tif|"), std::string::npos);
  EXPECT_NE(filter.find("|Test two (*.qvt)|*.qvt"), std::string::npos);
}

TEST(Registry, ExtraPictureFormatsAddBitmapsOnceAfterTheTable) {
  RegisterExtraPictureFormats();
  RegisterExtraPictureFormats();
  int bmp = 0;
  for (const auto& f : RegisteredFileFormats()) bmp += f.extension == "BMP";
  EXPECT_EQ(bmp, 1);
  ASSERT_NE(FindGraphicClass("*.BMP"), nullptr);
  EXPECT_EQ(FindGraphicClass("x.bmp")->className, "TBitmapGraphic");
}

TEST(Registry, ConcurrentFirstUseRegistersTheBuiltinsOnce) {
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([] {
      RegisterBuiltinFormats();
      FindGraphicClass("a.png");
    });
  for (auto& t : threads) t.join();
  int tif = 0;
  for (const auto& f : RegisteredFileFormats()) tif += f.extension == "TIF";
  EXPECT_EQ(tif, 1);
}

// A stream that fails on any access: single-image formats must not touch it.
class UntouchableStream : public TStream {
 public:
  std::int64_t Read(void*, std::int64_t) override { throw EReadError("touched"); }
  std::int64_t Write(const void*, std::int64_t) override { throw EWriteError("touched"); }
  std::int64_t Seek(std::int64_t, TSeekOrigin) override { throw EReadError("touched"); }
  void SetSize(std::int64_t) override { throw EWriteError("touched"); }
};

TEST(Registry, SingleImageFormatsCountOnePageWithoutReading) {
  UntouchableStream stream;
  EXPECT_EQ(TPngGraphic().GetImageCount(stream), 1);
  EXPECT_EQ(TJpegGraphic().GetImageCount(stream), 1);
  EXPECT_EQ(MessageOf([&] { TPngGraphic().AppendToStream(stream); }),
            "The TPngGraphic format does not support multiple images");
}

TEST(Registry, SaveImagesToStreamCountZeroAndOne) {
  auto page = testing::MakePatterned<TTiffGraphic>(ifGray256, 9, 9);
  TTiffGraphic writer;
  writer.DateTime = "2026:12:08 00:00:00";
  auto get = [&](int, bool& freeIt) -> TGraphic* {
    freeIt = false;
    return page.get();
  };
  TMemoryStream none;
  writer.SaveImagesToStream(none, 0, get);
  EXPECT_EQ(none.Size(), 0);
  TMemoryStream one, direct;
  writer.SaveImagesToStream(one, 1, get);
  writer.SaveToStream(direct);
  ASSERT_EQ(one.Size(), direct.Size());
  EXPECT_EQ(std::memcmp(one.Memory(), direct.Memory(), one.Size()), 0);
  TMemoryStream three;
  writer.SaveImagesToStream(three, 3, get);
  three.SetPosition(0);
  EXPECT_EQ(TTiffGraphic().GetImageCount(three), 3);
}

TEST(Registry, ReadFromOffsetZeroCopiesOnlyTheRest) {
  TMemoryStream stream;
  stream.WriteBuffer("0123456789", 10);
  stream.SetPosition(4);
  std::string seen;
  ReadFromOffsetZero(stream, [&](TStream& s) {
    EXPECT_EQ(s.Position(), 0);
    char buffer[16] = {};
    seen.assign(buffer, static_cast<std::size_t>(s.Read(buffer, 16)));
  });
  EXPECT_EQ(seen, "456789");
  stream.SetPosition(10);
  ReadFromOffsetZero(stream, [&](TStream& s) { EXPECT_EQ(s.Size(), 0); });
}

}  // namespace
}  // namespace lumetra
