// What the image scroll box tests share: a form holding the box, which
// counts its redraws and zoom changes, and pages of black text lines.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>

#include "formats/tiff_graphic.h"
#include "platform/platform.h"
#include "ui/form.h"
#include "viewer/image_scroll_box.h"

namespace viewer_test {

using namespace lumetra;

// A white 1-bit page with a few black "text lines".
inline std::unique_ptr<TTiffGraphic> MakePage(int width, int height) {
  auto page = std::make_unique<TTiffGraphic>();
  page->NewImage(width, height, ifBlackWhite, nullptr, 300, 300);
  page->Fill(0xFFFFFF);
  for (int y = height / 10; y + 4 < height * 9 / 10; y += 12) {
    for (int x = width / 10; x < width * 8 / 10; ++x) {
      for (int dy = 0; dy < 4; ++dy) page->SetPixels(x, y + dy, 0);
    }
  }
  return page;
}

inline std::string TempName(const std::string& stem) {
  return platform::TempDirectory() + "qvviewer_" + stem;
}

// Writes a TIFF whose pages have the given widths (height 60 each).
inline std::string WriteTiff(const std::string& stem, std::initializer_list<int> widths) {
  const std::string name = TempName(stem);
  bool first = true;
  for (int w : widths) {
    auto page = MakePage(w, 60);
    if (first) {
      TFileStream file(name, fmCreate);
      page->SaveToStream(file);
      first = false;
    } else {
      TFileStream file(name, fmOpenReadWrite);
      page->AppendToStream(file);
    }
  }
  return name;
}

class Viewer : public testing::Test {
 protected:
  Viewer() : form("Viewer test", 400, 300) {
    box.SetBounds(0, 0, 400, 300);
    box.OnRedraw = [this](TDibGraphic*) { ++redraws; };
    box.OnZoomChange = [this](TImageScrollBox*, float z) {
      ++zoomChanges;
      lastZoom = z;
    };
  }
  void Show(int width, int height) {
    auto page = MakePage(width, height);
    box.AssignGraphic(page.get());
  }
  void Pump(int milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < end) {
      ui::Application().ProcessMessages();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  int DisplayWidth() { return box.DisplayGraphic()->Width(); }
  int DisplayHeight() { return box.DisplayGraphic()->Height(); }

  ui::TForm form;
  TImageScrollBox box{form};
  int redraws = 0;
  int zoomChanges = 0;
  float lastZoom = 0;
};

}  // namespace viewer_test
