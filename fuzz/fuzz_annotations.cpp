// The annotation text form as a page's TIFF tag may bring it: any bytes.
// A form that reads must write back to a text that reads to the same marks,
// and its marks must paint onto a page at any zoom.
#include <cstdlib>

#include "annotations/annotation_text.h"
#include "annotations/mark_painter.h"
#include "fuzz_input.h"

namespace {

std::vector<lumetra::TMark> Reload(const std::vector<lumetra::TMark>& marks) {
  std::vector<lumetra::TMark> back;
  lumetra::LoadMarksFromText(lumetra::SaveMarksToText(marks), back);
  return back;
}

// A picture read from a raw anymap may carry bits past the end of its rows
// that the plain one written back does not: compare those by presence.
std::vector<lumetra::TMark> WithoutPictureBytes(std::vector<lumetra::TMark> marks) {
  for (lumetra::TMark& mark : marks)
    if (!mark.picture.empty()) mark.picture = {1};
  return marks;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<lumetra::TMark> marks;
  try {
    lumetra::LoadMarksFromText(text, marks);
  } catch (const lumetra::Exception&) {
    return 0;
  }
  const std::vector<lumetra::TMark> again = Reload(marks);
  if (WithoutPictureBytes(again) != WithoutPictureBytes(marks)) std::abort();
  if (Reload(again) != again) std::abort();
  for (const double zoom : {50.0, 200.0}) {
    lumetra::TDibGraphic display;
    display.NewImage(static_cast<int>(64 * zoom / 100), static_cast<int>(48 * zoom / 100),
                     lumetra::ifColor256, nullptr, 0, 0);
    lumetra::PaintMarks(display, marks, {0, 0, 64, 48}, zoom, 96);
  }
  return 0;
}
