// Marks travel with their page in its TIFF annotation tag: through saving,
// reloading, Add Page and Delete Page.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "annotations/annotation_text.h"
#include "annotations/mark_test_util.h"
#include "formats/format_test_util.h"
#include "formats/tiff_graphic.h"
#include "scanwindow/scan_document.h"

namespace lumetra {
namespace {

using testing::MakePatterned;
using testing::OneMarkOfEachKind;
using testing::TempPath;

std::unique_ptr<TTiffGraphic> PageWithMarks(TImageFormat format, const std::vector<TMark>& marks) {
  auto page = MakePatterned<TTiffGraphic>(format, 64, 48);
  page->SetCustomTagValue(SaveMarksToText(marks));
  return page;
}

std::unique_ptr<TTiffGraphic> LoadPage(const std::string& file, int index) {
  TFileStream stream(file, fmOpenRead);
  auto page = std::make_unique<TTiffGraphic>();
  page->LoadImageFromStream(stream, index);
  return page;
}

std::vector<TMark> MarksOf(const TTiffGraphic& page) {
  std::vector<TMark> marks;
  LoadMarksFromText(page.CustomTagValue(), marks);
  return marks;
}

class AnnotatedTiffPage : public ::testing::TestWithParam<TImageFormat> {};

TEST_P(AnnotatedTiffPage, KeepsEveryKindOfMarkThroughAFile) {
  const std::vector<TMark> marks = OneMarkOfEachKind();
  auto page = PageWithMarks(GetParam(), marks);
  page->SetCompression(quorvex::scanwindow::CompressionForFormat(GetParam()));
  const std::string file = TempPath("annotated.tif");
  {
    TFileStream out(file, fmCreate);
    page->SaveToStream(out);
  }
  auto back = LoadPage(file, 1);
  EXPECT_EQ(back->CustomTagValue(), page->CustomTagValue());
  EXPECT_EQ(MarksOf(*back), marks);
#ifndef _WIN32
  // The page itself still reads in a peer that knows nothing of the tag.
  EXPECT_EQ(std::system(("identify -quiet " + file + " >/dev/null 2>&1").c_str()), 0);
  EXPECT_EQ(std::system(("convert -quiet " + file + " null: >/dev/null 2>&1").c_str()), 0);
#endif
  std::remove(file.c_str());
}

INSTANTIATE_TEST_SUITE_P(Formats, AnnotatedTiffPage,
                         ::testing::Values(ifBlackWhite, ifGray256, ifColor16, ifTrueColor));

// Add Page appends and Delete Page rewrites the document page by page:
// each page keeps its own marks, in its own place.
TEST(AnnotatedTiffDocument, AddPageAndDeletePageKeepEachPagesMarks) {
  std::vector<std::vector<TMark>> pageMarks(3);
  for (int i = 0; i < 3; ++i) {
    TMark mark = NewMark(mkStickNote);
    mark.markRect = {i, i, 10 + i, 10 + i};
    mark.text = "page " + std::to_string(i + 1);
    pageMarks[i] = {mark};
  }
  const std::string doc = TempPath("annotated_doc.tif");
  const std::string added = TempPath("annotated_add.tif");
  std::remove(doc.c_str());
  {
    TFileStream out(added, fmCreate);
    PageWithMarks(ifBlackWhite, pageMarks[0])->SaveToStream(out);
    PageWithMarks(ifTrueColor, pageMarks[1])->AppendToStream(out);
    PageWithMarks(ifGray256, pageMarks[2])->AppendToStream(out);
  }
  ASSERT_EQ(quorvex::scanwindow::AppendPages(added, doc), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(MarksOf(*LoadPage(doc, i + 1)), pageMarks[i]) << i;

  quorvex::scanwindow::RewriteWithoutPage(doc, 3, 2, TempPath("annotated_rewrite.tif"));
  EXPECT_EQ(MarksOf(*LoadPage(doc, 1)), pageMarks[0]);
  EXPECT_EQ(MarksOf(*LoadPage(doc, 2)), pageMarks[2]);
  std::remove(doc.c_str());
  std::remove(added.c_str());
}

}  // namespace
}  // namespace lumetra
