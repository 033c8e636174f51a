// A small viewer program: opens an image file (from the command line or
// File > Open) in TImageScrollBox and offers the zoom modes, centring,
// anti-aliasing and paging, so a person can look at the control.
//
//   viewer.exe [file] [--full-page|--fit-width|--fit-height|--fit-to-page]
//              [--centered] [--anti-aliased] [--annotate] [--select=L,T,R,B]
//   --select draws a rubber band with its grips from (L, T) to (R, B) of the
//   display copy with the mouse, as a person would; with --annotate (the
//   annotation mode, the page's marks editable) it drags from (L, T), on a
//   mark, to (R, B).
//   viewer.exe --bench   prints how long the display copy of a 2480 x 3508
//                        1-bit page takes to rebuild at full page in a
//                        783 x 556 window
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "base/conversions.h"
#include "formats/registry.h"
#include "ui/dialogs.h"
#include "ui/form.h"
#include "viewer/image_scroll_box.h"
#include "annotations/win32/annotation_mouse_handler.h"
#include "viewer/selection_handlers.h"

using namespace lumetra;

namespace {

struct ZoomItem {
  const char* caption;
  TZoomMode mode;
};
constexpr ZoomItem kZoomModes[] = {
    {"Actual size", zmOriginalSize}, {"Full page", zmFullPage},     {"Fit width", zmFitWidth},
    {"Fit height", zmFitHeight},     {"Fit to page", zmFitToPage},
};

class TfrmViewer : public ui::TForm {
 public:
  TfrmViewer() : TForm("Quorvex viewer", 783, 556) {
    RegisterAnnotationMode(ImageScrollBox);
    const ui::TMenuItemDef rows[] = {
        {0, "FileMenu", "&File"},
        {1, "OpenMenu", "&Open ...", "Ctrl+O", 0, [this](TObject*) { OpenMenuClick(); }},
        {1, "N1", "-"},
        {1, "ExitMenu", "E&xit", "", 0, [this](TObject*) { Close(); }},
        {0, "ViewMenu", "&View"},
        {1, "ActualSizeMenu", "&Actual Size", "", 0, [this](TObject*) { SetMode(zmOriginalSize); }},
        {1, "FullPageMenu", "&Full Page", "", 0, [this](TObject*) { SetMode(zmFullPage); }},
        {1, "FitWidthMenu", "Fit &Width", "", 0, [this](TObject*) { SetMode(zmFitWidth); }},
        {1, "FitHeightMenu", "Fit &Height", "", 0, [this](TObject*) { SetMode(zmFitHeight); }},
        {1, "FitToPageMenu", "Fit to &Page", "", 0, [this](TObject*) { SetMode(zmFitToPage); }},
        {1, "N2", "-"},
        {1, "AntiAliasedMenu", "Ant&i aliased", "", 0,
         [this](TObject*) {
           ImageScrollBox.SetAntiAliased(!ImageScrollBox.AntiAliased());
           MainMenu["AntiAliasedMenu"].SetChecked(ImageScrollBox.AntiAliased());
         }},
        {1, "CenteredMenu", "&Centered", "", 0,
         [this](TObject*) {
           ImageScrollBox.SetCentered(!ImageScrollBox.Centered());
           MainMenu["CenteredMenu"].SetChecked(ImageScrollBox.Centered());
         }},
        {1, "N3", "-"},
        {1, "DragMenu", "&Drag", "", 0, [this](TObject*) { SetMouseMode(mmDrag); }},
        {1, "QuickSelectMenu", "&Quick Select", "", 0,
         [this](TObject*) { SetMouseMode(mmQuickSelect); }},
        {1, "SelectMenu", "&Select", "", 0, [this](TObject*) { SetMouseMode(mmRubberband); }},
        {1, "AnnotationMenu", "A&nnotations", "", 0,
         [this](TObject*) { SetMouseMode(mmAnnotation); }},
        {1, "GripsMenu", "Selection &Grips", "", 0,
         [this](TObject*) {
           showGrips_ = !showGrips_;
           MainMenu["GripsMenu"].SetChecked(showGrips_);
           if (auto* band = dynamic_cast<TRubberbandMouseHandler*>(ImageScrollBox.MouseHandler()))
             band->SetShowGrips(showGrips_);
         }},
    };
    MainMenu.Build(rows);
    SetMenu(&MainMenu);
    MainMenu["DragMenu"].SetChecked(true);
    SetMinSize(600, 300);
    OnClose = [](TObject*, ui::TCloseAction& action) { action = ui::caFree; };

    Panel1.SetHeight(34);
    Panel1.SetAlign(ui::alTop);
    ZoomLabel.SetBounds(8, 10, 36, 16);
    ZoomCombo.SetBounds(46, 6, 110, 200);
    for (const ZoomItem& item : kZoomModes) ZoomCombo.AddItem(item.caption);
    ZoomCombo.OnChange = [this](TObject*) {
      const int i = ZoomCombo.ItemIndex();
      if (i >= 0) SetMode(kZoomModes[i].mode);
    };
    PercentLabel.SetBounds(170, 10, 48, 16);
    ZoomEdit.SetBounds(220, 6, 50, 22);
    ZoomEdit.SetMaxLength(3);
    ZoomUpDown.SetAssociate(ZoomEdit);
    ZoomUpDown.SetMin(5);
    ZoomUpDown.SetMax(999);
    ZoomUpDown.SetPosition(100);
    ZoomEdit.OnChange = [this](TObject*) { ZoomEditChange(); };
    PageLabel.SetBounds(290, 10, 30, 16);
    PageEdit.SetBounds(322, 6, 50, 22);
    PageUpDown.SetAssociate(PageEdit);
    PageUpDown.SetMin(1);
    PageUpDown.SetMax(1);
    PageEdit.OnChange = [this](TObject*) { PageEditChange(); };

    sbStatus.SetPanels({160, 100});
    ImageScrollBox.SetAlign(ui::alClient);
    ImageScrollBox.OnZoomChange = [this](TImageScrollBox*, float zoom) {
      char text[32];
      std::snprintf(text, sizeof text, "Zoom %.1f %%", zoom);
      sbStatus.SetPanelText(1, text);
    };
  }

  void Open(const std::string& fileName) {
    TBusyCursor busy;
    const int pages = ImageScrollBox.GetPageCount(fileName);
    ImageScrollBox.LoadFromFile(fileName, pages > 1 ? 0 : 1);
    updating_ = true;
    PageUpDown.SetMax(std::max(pages, 1));
    PageUpDown.SetPosition(1);
    if (pages > 1) ImageScrollBox.SetCurrentPage(1);
    updating_ = false;
    SetCaption("Quorvex viewer - " + fileName);
    const TDibGraphic& g = *ImageScrollBox.Graphic();
    sbStatus.SetPanelText(0, std::to_string(g.Width()) + " x " + std::to_string(g.Height()) +
                                 ", " + std::to_string(pages) + " page(s)");
  }

  void SetMouseMode(TMouseMode mode) {
    ImageScrollBox.SetMouseMode(mode);
    MainMenu["DragMenu"].SetChecked(mode == mmDrag);
    MainMenu["QuickSelectMenu"].SetChecked(mode == mmQuickSelect);
    MainMenu["SelectMenu"].SetChecked(mode == mmRubberband);
    MainMenu["AnnotationMenu"].SetChecked(mode == mmAnnotation);
    if (auto* band = dynamic_cast<TRubberbandMouseHandler*>(ImageScrollBox.MouseHandler()))
      band->SetShowGrips(showGrips_);
  }

  // A band dragged with mouse messages on the page, grips shown; in the
  // annotation mode a mark dragged.
  void Select(int left, int top, int right, int bottom) {
    if (ImageScrollBox.MouseMode() != mmAnnotation) {
      if (!showGrips_) MainMenu["GripsMenu"].Click();
      SetMouseMode(mmRubberband);
    }
    HWND page = ImageScrollBox.Image().Handle();
    ::PostMessageA(page, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(left, top));
    ::PostMessageA(page, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(right, bottom));
    ::PostMessageA(page, WM_LBUTTONUP, 0, MAKELPARAM(right, bottom));
  }

  void SetMode(TZoomMode mode) {
    ImageScrollBox.SetZoomMode(mode);
    for (std::size_t i = 0; i < std::size(kZoomModes); ++i) {
      if (kZoomModes[i].mode == mode) ZoomCombo.SetItemIndex(static_cast<int>(i));
    }
  }

  ui::TMainMenu MainMenu;
  ui::TPanel Panel1{*this};
  ui::TLabel ZoomLabel{Panel1, "&Mode"};
  ui::TComboBox ZoomCombo{Panel1};
  ui::TLabel PercentLabel{Panel1, "&Zoom %"};
  ui::TEdit ZoomEdit{Panel1, "100"};
  ui::TUpDown ZoomUpDown{Panel1};
  ui::TLabel PageLabel{Panel1, "Page"};
  ui::TEdit PageEdit{Panel1, "1"};
  ui::TUpDown PageUpDown{Panel1, true};
  ui::TStatusBar sbStatus{*this};
  TImageScrollBox ImageScrollBox{*this};

 private:
  void OpenMenuClick() {
    ui::TOpenDialog dialog;
    dialog.Filter = GraphicFileFilter();
    if (dialog.Execute(Handle())) Open(dialog.FileName);
  }
  void ZoomEditChange() {
    if (updating_) return;
    int value = 100;
    if (!TryStrToInt(ZoomEdit.Text(), value)) value = 100;
    ImageScrollBox.SetZoomPercent(static_cast<float>(value));
    ZoomCombo.SetItemIndex(-1);
  }
  void PageEditChange() {
    if (updating_ || ImageScrollBox.PageCount() < 2) return;
    int page = 1;
    if (TryStrToInt(PageEdit.Text(), page) && page >= 1 && page <= ImageScrollBox.PageCount()) {
      ImageScrollBox.SetCurrentPage(page);
    }
  }
  bool updating_ = false;
  bool showGrips_ = false;
};

int Bench() {
  ui::TForm form("Viewer benchmark", 783, 556);
  TImageScrollBox box(form);
  box.SetAlign(ui::alClient);
  TDibGraphic page;
  page.NewImage(2480, 3508, ifBlackWhite, nullptr, 300, 300);
  page.Fill(0xFFFFFF);
  for (int y = 300; y < 3200; y += 48) {
    for (int x = 250; x < 2230; ++x) {
      if ((x / 23) % 5 != 4) {
        for (int dy = 0; dy < 22; ++dy) page.SetPixels(x, y + dy, 0);
      }
    }
  }
  box.AssignGraphic(&page);
  box.SetZoomMode(zmFullPage);
  for (bool antiAliased : {false, true}) {
    box.SetAntiAliased(antiAliased);
    std::vector<double> times;
    for (int i = 0; i < 25; ++i) {
      const auto start = std::chrono::steady_clock::now();
      box.Redraw(true);
      times.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count());
    }
    std::sort(times.begin(), times.end());
    std::printf("display copy of 2480 x 3508 1-bit at full page (%d x %d, zoom %.4f%%)%s: "
                "median %.2f ms, min %.2f ms, max %.2f ms\n",
                box.DisplayGraphic()->Width(), box.DisplayGraphic()->Height(),
                static_cast<double>(box.ZoomPercent()), antiAliased ? ", anti-aliased" : "",
                times[times.size() / 2], times.front(), times.back());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (std::find(args.begin(), args.end(), "--bench") != args.end()) return Bench();
  TfrmViewer form;
  TZoomMode mode = zmFullPage;
  std::string file;
  int band[4] = {};
  bool select = false, annotate = false;
  for (const std::string& a : args) {
    if (a.rfind("--select=", 0) == 0) {
      select = std::sscanf(a.c_str() + 9, "%d,%d,%d,%d", &band[0], &band[1], &band[2], &band[3]) == 4;
      continue;
    }
    if (a == "--full-page") mode = zmFullPage;
    else if (a == "--fit-width") mode = zmFitWidth;
    else if (a == "--fit-height") mode = zmFitHeight;
    else if (a == "--fit-to-page") mode = zmFitToPage;
    else if (a == "--actual-size") mode = zmOriginalSize;
    else if (a == "--centered") form.MainMenu["CenteredMenu"].Click();
    else if (a == "--anti-aliased") form.MainMenu["AntiAliasedMenu"].Click();
    else if (a == "--annotate") annotate = true;
    else file = a;
  }
  form.SetMode(mode);
  form.Show();
  if (!file.empty()) {
    try {
      form.Open(file);
    } catch (...) {
      ui::Application().HandleException(&form);
    }
  }
  if (annotate) form.SetMouseMode(mmAnnotation);
  if (select) form.Select(band[0], band[1], band[2], band[3]);
  ui::Application().Run();
  return 0;
}
