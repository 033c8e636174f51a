// The scanning window's menu: its command table, the enabling the idle
// handler derives from it, and the commands' handlers.
#include <algorithm>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "base/conversions.h"
#include "formats/registry.h"
#include "imaging/lumisc.h"
#include "imaging/win32/clipboard.h"
#include "ocr/ocr_engine.h"
#include "ocr/win32/ocr_result_form.h"
#include "platform/platform.h"
#include "printing/win32/dib_graphic_printer.h"
#include "printing/win32/print_option_form.h"
#include "printing/win32/printer.h"
#include "scanwindow/win32/main_form.h"
#include "transforms/convolution_transforms.h"
#include "transforms/dialogs/crop_form.h"
#include "transforms/dialogs/format_conversion_form.h"
#include "transforms/dialogs/resize_form.h"
#include "transforms/geometric_transforms.h"
#include "transforms/point_transforms.h"
#include "ui/dialogs.h"

namespace quorvex::scanwindow {

using namespace lumetra;
using namespace lumetra::ui;

namespace {

// "&90  Degrees" under "&Rotate" reads "Rotate 90 Degrees".
std::string CommandLabel(TObject* sender, const std::string& fallback) {
  auto plain = [](const std::string& caption) {
    std::string text;
    for (char c : caption)
      if (c != '&' && !(c == ' ' && (text.empty() || text.back() == ' '))) text += c;
    if (text.size() > 4 && text.ends_with(" ...")) text.resize(text.size() - 4);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
  };
  const auto* item = dynamic_cast<const TMenuItem*>(sender);
  if (!item) return fallback;
  std::string label = plain(item->Caption());
  const TMenuItem* parent = item->Parent();
  if (parent && parent->Parent() && parent->Parent()->Parent())
    label = plain(parent->Caption()) + " " + label;
  return label;
}

// The transforms without parameters.
template <class T>
std::unique_ptr<TImageTransform> Make() {
  return std::make_unique<T>();
}

}  // namespace

class TfrmMain::TCommandWork {
 public:
  TCommandWork(TfrmMain& form, std::string label)
      : form_(form),
        label_(std::move(label)),
        before_(form.sbStatus_->PanelText(0)),
        viewerProgress_(std::move(form.imageScrollBox_->OnReadWriteProgress)) {
    form.imageScrollBox_->OnReadWriteProgress = Progress();
    Show(label_ + " ...");
  }
  ~TCommandWork() {
    form_.imageScrollBox_->OnReadWriteProgress = std::move(viewerProgress_);
    try {
      form_.sbStatus_->SetPanelText(0, before_);
    } catch (...) {
      // The status bar is only a report.
    }
    ::RedrawWindow(form_.Handle(), nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  }
  TCommandWork(const TCommandWork&) = delete;
  TCommandWork& operator=(const TCommandWork&) = delete;

  TLumetraProgressEvent Progress() {
    return [this](TObject*, std::uint8_t percent) {
      Show(label_ + " ... " + std::to_string(percent) + "%");
    };
  }

 private:
  // The window processes no messages while the command runs: the status
  // bar paints now.
  void Show(const std::string& text) {
    form_.sbStatus_->SetPanelText(0, text);
    ::UpdateWindow(form_.sbStatus_->Handle());
  }
  TfrmMain& form_;
  std::string label_;
  std::string before_;
  TLumetraProgressEvent viewerProgress_;
  TBusyCursor busy_;
};

// A row of the command table: the menu item, and what the command needs to
// be enabled (the items the form disables could otherwise never run, not
// even from their short-cuts).
struct TfrmMain::TCommandDef : TMenuItemDef {
  TCommandDef(int level, const char* name, const char* caption, const char* shortCut = "",
              unsigned flags = 0, TNotifyEvent onClick = {}, TNeeds needs = ndNothing)
      : TMenuItemDef(level, name, caption, shortCut, flags, std::move(onClick)), needs(needs) {}
  TNeeds needs;
};

void TfrmMain::BuildCommands() {
  auto zoom = [this](TZoomMode mode) {
    return TNotifyEvent([this, mode](TObject*) { imageScrollBox_->SetZoomMode(mode); });
  };
  auto mouseMode = [this](TMouseMode mode) {
    return TNotifyEvent([this, mode](TObject*) {
      imageScrollBox_->SetMouseMode(mode);
      CheckMouseMode();
    });
  };
  using TMake = std::function<std::unique_ptr<TImageTransform>()>;
  auto edit = [this](TMake make) {
    return TNotifyEvent([this, make](TObject* sender) { ApplyEdit(sender, make); });
  };
  // The dialog commands ask before anything is touched; null is Cancel.
  auto dialog = [edit](auto ask) {
    return edit([ask]() -> std::unique_ptr<TImageTransform> { return ask(); });
  };
  auto rotate = [edit](double angle) {
    return edit([angle] {
      auto t = std::make_unique<TRotateTransform>();
      t->SetAngle(angle);
      return std::unique_ptr<TImageTransform>(std::move(t));
    });
  };
  auto brightness = [edit](double amount) {
    return edit([amount] {
      auto t = std::make_unique<TBrightnessTransform>();
      t->SetAmount(amount);
      return std::unique_ptr<TImageTransform>(std::move(t));
    });
  };
  auto contrast = [edit](bool increase) {
    return edit([increase] {
      auto t = std::make_unique<TContrastTransform>();
      t->SetIncreaseContrast(increase);
      return std::unique_ptr<TImageTransform>(std::move(t));
    });
  };
  // Input-box parameters are asked before anything is touched: Cancel and a
  // bad number leave the image and the undo image as they were.
  auto arbitrary = edit([]() -> std::unique_ptr<TImageTransform> {
    std::string text = "45";
    if (!InputQuery("Rotate", "Rotation Angle", text)) return nullptr;
    auto t = std::make_unique<TRotateTransform>();
    t->SetAngle(static_cast<double>(StrToFloat(text)));
    t->SetBackColor(0x000000);
    return t;
  });
  auto gamma = edit([]() -> std::unique_ptr<TImageTransform> {
    std::string text = "1.0";
    if (!InputQuery("Gamma", "Gamma value (0.1 - 7.0)", text)) return nullptr;
    auto t = std::make_unique<TGammaTransform>();
    t->SetGammaValue(static_cast<double>(StrToFloat(text)));
    return t;
  });
  // The main menu: hidden and disabled as the form defines it, and what each
  // command needs to be enabled.
  const TCommandDef commands[] = {
      {0, "FileMenu", "&File"},
      {1, "OpenMenu", "&Open ...", "Ctrl+O", 0, On(&TfrmMain::OpenMenuClick)},
      {1, "SaveMenu", "&Save", "Ctrl+S", miHidden | miDisabled, On(&TfrmMain::SaveMenuClick),
       ndImage},
      {1, "SaveAsMenu", "Save &As ...", "", miHidden | miDisabled, On(&TfrmMain::SaveAsMenuClick),
       ndImage},
      {1, "N1", "-"},
      {1, "AppendtoTIFFMenu", "A&ppend to TIFF file ...", "", miHidden | miDisabled,
       On(&TfrmMain::AppendtoTIFFMenuClick), ndImage},
      {1, "AppendtoDCXMenu", "App&end to DCX file ...", "", miHidden | miDisabled,
       On(&TfrmMain::AppendtoDCXMenuClick), ndImage},
      {1, "N2", "-"},
      {1, "PrintMenu", "&Print ...", "", miHidden, On(&TfrmMain::PrintMenuClick)},
      {1, "PrintSetupMenu", "P&rint Setup ...", "", miHidden, On(&TfrmMain::PrintSetupMenuClick)},
      {1, "N3", "-"},
      {1, "ScanMenu", "S&can ...", "", 0, On(&TfrmMain::ScanMenuClick)},
      {1, "SelectScannerMenu", "Se&lect Scanner ...", "", 0, On(&TfrmMain::SelectScannerMenuClick)},
      {1, "N4", "-"},
      {1, "ExitSaveMenu", "Save && Exit", "", 0, On(&TfrmMain::ExitSaveMenuClick), ndDocumentPage},
      {1, "ExitMenu", "E&xit", "", 0, On(&TfrmMain::ExitMenuClick)},
      {0, "EditMenu", "&Edit", "", miHidden},
      {1, "UndoMenu", "&Undo", "Ctrl+Z", miHidden, On(&TfrmMain::UndoMenuClick), ndUndoImage},
      {1, "N5", "-"},
      {1, "CopyMenu", "&Copy", "Ctrl+C", miHidden | miDisabled, On(&TfrmMain::CopyMenuClick),
       ndImage},
      {1, "PasteMenu", "&Paste New Image", "Ctrl+V", miHidden | miDisabled,
       On(&TfrmMain::PasteMenuClick), ndClipboardImage},
      {1, "N6", "-"},
      {1, "CopySelectionMenu", "C&opy Selection", "", miHidden,
       On(&TfrmMain::CopySelectionMenuClick)},
      {1, "PasteIntoSelectionMenu", "Paste &Into Selection", "", miHidden,
       On(&TfrmMain::PasteIntoSelectionMenuClick)},
      {1, "CroptoSelectionMenu", "C&rop to Selection", "", miHidden,
       On(&TfrmMain::CroptoSelectionMenuClick)},
      {1, "N7", "-", "", miHidden},
      {1, "OCR1", "OCR", "", miHidden, On(&TfrmMain::OCR1Click)},
      {0, "ViewMenu", "&View"},
      {1, "AntiAliasedMenu", "Ant&i aliased", "", 0, TNotifyEvent([this](TObject*) {
         TMenuItem& item = mainMenu_["AntiAliasedMenu"];
         item.SetChecked(!item.Checked());
         imageScrollBox_->SetAntiAliased(item.Checked());
       })},
      {1, "CenteredMenu", "&Centered", "", 0, TNotifyEvent([this](TObject*) {
         TMenuItem& item = mainMenu_["CenteredMenu"];
         item.SetChecked(!item.Checked());
         imageScrollBox_->SetCentered(item.Checked());
       })},
      {1, "MouseModeMenu", "&Mouse Mode", "", miHidden},
      {2, "DragMenu", "&Drag", "", 0, mouseMode(mmDrag)},
      {2, "QuickSelectMenu", "&Quick Select", "", 0, mouseMode(mmQuickSelect)},
      {2, "SelectMenu", "&Select", "", 0, mouseMode(mmRubberband)},
      {1, "N8", "-"},
      {1, "ActualSizeMenu", "&Actual Size", "", 0, zoom(zmOriginalSize)},
      {1, "FullPageMenu", "&Full Page", "", 0, zoom(zmFullPage)},
      {1, "FitWidthMenu", "Fit &Width", "", 0, zoom(zmFitWidth)},
      {1, "FitHeightMenu", "Fit &Height", "", 0, zoom(zmFitHeight)},
      {1, "FitToPageMenu", "Fit to &Page", "", 0, zoom(zmFitToPage)},
      {1, "N9", "-"},
      {1, "AnimatedMenu", "A&nimated", "", miHidden, On(&TfrmMain::AnimatedMenuClick)},
      {0, "ImageMenu", "&Image", "", miHidden},
      {1, "RotateMenu", "&Rotate", "", 0, {}, ndImage},
      {2, "Rotate90Menu", "&90  Degrees", "", 0, rotate(90.0), ndImage},
      {2, "Rotate180Menu", "&180 Degrees", "", 0, rotate(180.0), ndImage},
      {2, "Rotate270Menu", "270 Degrees", "", 0, rotate(270.0), ndImage},
      {2, "RotateArbitraryMenu", "&Arbitrary", "", 0, arbitrary, ndImage},
      {1, "FlipMenu", "&Flip", "", 0, {}, ndImage},
      {2, "FlipHorizontalMenu", "&Horizontal", "", 0, edit(Make<TFlipHorizontalTransform>),
       ndImage},
      {2, "FlipVerticalMenu", "&Vertical", "", 0, edit(Make<TFlipVerticalTransform>), ndImage},
      {1, "NegativeMenu", "&Negative", "", miHidden, edit(Make<TNegativeTransform>), ndImage},
      {1, "CropMenu", "&Crop ...", "", miHidden, dialog([] { return ExecuteCropDialog(); }),
       ndImage},
      {1, "SharpenMenu", "&Sharpen", "", miHidden, edit(Make<TSharpenTransform>), ndImage},
      {1, "SmoothMenu", "S&mooth", "", miHidden, edit(Make<TSmoothTransform>), ndImage},
      {1, "BrightnessMenu", "&Brightness", "", miHidden, {}, ndImage},
      {2, "IncreassBrightnessMenu", "&Increase", "", miHidden, brightness(3), ndImage},
      {2, "DecreaseBrightnessMenu", "&Decrease", "", miHidden, brightness(-3), ndImage},
      {1, "ContrastMenu", "&Contrast", "", miHidden, {}, ndImage},
      {2, "IncreaseContrastMenu", "&Increase", "", miHidden, contrast(true), ndImage},
      {2, "DecreaseContrastMenu", "&Decrease", "", miHidden, contrast(false), ndImage},
      {1, "EdgeDetectionMenu", "E&dge Detection", "", miHidden, edit(Make<TEdgeTransform>),
       ndImage},
      {1, "EmbossMenu", "&Emboss", "", miHidden, edit(Make<TEmbossTransform>), ndImage},
      {1, "GammaMenu", "&Gamma ...", "", miHidden, gamma, ndImage},
      {1, "ConvertToGrayMenu", "Convert to Gra&y", "", 0, edit(Make<TConvertToGrayTransform>),
       ndImage},
      {1, "FormatConversionMenu", "F&ormat Conversion ...", "", 0,
       dialog([this] { return ExecuteFormatConversionDialog(*imageScrollBox_->Graphic()); }),
       ndImage},
      {1, "ResizeMenu", "Resi&ze ...", "", miHidden,
       dialog([this] { return ExecuteResizeDialog(*imageScrollBox_->Graphic()); }), ndImage},
      {0, "HelpMenu", "&Help"},
      {1, "AboutMenu", "&About ...", "", 0, On(&TfrmMain::AboutMenuClick)},
  };
  std::vector<TMenuItemDef> items(std::begin(commands), std::end(commands));
  mainMenu_.Build(items);
  for (const TCommandDef& command : commands)
    if (command.needs != ndNothing)
      commandNeeds_.emplace_back(&mainMenu_[command.name], command.needs);
}

bool TfrmMain::Satisfied(TNeeds needs) const {
  switch (needs) {
    case ndNothing:
      return true;
    case ndImage:
      return HasImage();
    case ndClipboardImage:
      return ClipboardHasImage();
    case ndDocumentPage:
      return HasDocumentPage();
    case ndUndoImage:
      return !undoImage_->Empty();
  }
  return true;
}

void TfrmMain::CommandEnabling(TObject*, bool& done) {
  for (const auto& [item, needs] : commandNeeds_) item->SetEnabled(Satisfied(needs));
  sbAddPage_->SetEnabled(Satisfied(ndImage));
  sbAccept_->SetEnabled(Satisfied(ndDocumentPage));
  sbDeletePage_->SetEnabled(imageScrollBox_->PageCount() > 1);
  sbScan_->SetEnabled(true);
  sbCancel_->SetEnabled(true);
  done = true;
}

void TfrmMain::OpenMenuClick(TObject*) {
  if (!SavePrompt()) return;
  TOpenDialog dialog;
  dialog.Filter = GraphicFileFilter();
  // The picture the user rests on is read ahead while the dialog shows, so
  // Open shows it without reading it again.
  dialog.OnSelectionChange = [this](const std::string& fileName) {
    if (platform::FileExists(fileName) && FindGraphicClass(fileName))
      imageScrollBox_->SetReadAheadFileName(fileName);
  };
  // Whatever the load leaves untaken is dropped: kept, it would show an old
  // image when a file of that name is next loaded after a change.
  struct DropReadAhead {
    TImageScrollBox& box;
    ~DropReadAhead() { box.SetReadAheadFileName(""); }
  } drop{*imageScrollBox_};
  if (!dialog.Execute(Handle())) return;
  // Add Page and Delete Page now work on the file shown; Scan still
  // replaces the host's document.
  TCommandWork work(*this, "Opening");
  LoadDocument(dialog.FileName);
}

void TfrmMain::SaveMenuClick(TObject*) {
  if (!imageScrollBox_->Graphic()) return;
  if (saveAsFileName_.empty()) {
    SaveAsMenuClick(this);
    return;
  }
  {
    TCommandWork work(*this, "Saving");
    if (imageScrollBox_->PageCount() > 1) {
      // The file holds the page shown, alone: the viewer keeps showing that
      // image as the file's, not as a page of the document it came from
      // (the page box below would move it to that document's page 1).
      const std::string notes = imageScrollBox_->AnnotationText();
      TDibGraphic page;
      page.Assign(imageScrollBox_->Graphic());
      page.ClearFrames();
      imageScrollBox_->AssignGraphic(&page);
      imageScrollBox_->SetAnnotationText(notes);
    }
    imageScrollBox_->SaveToFile(saveAsFileName_);
  }
  if (IsDocument(saveAsFileName_)) documentPages_ = 1;
  pageUpDown_->SetMin(1);
  pageUpDown_->SetMax(1);
  pageEdit_->SetText("1");
  modified_ = false;
}

void TfrmMain::SaveAsMenuClick(TObject*) {
  TSaveDialog dialog;
  dialog.Filter = GraphicFileFilter();
  dialog.OverwritePrompt = false;  // asked below, in the window's own words
  if (!dialog.Execute(Handle())) return;
  saveAsFileName_ = dialog.FileName;
  const std::filesystem::path path(saveAsFileName_);
  if (!path.has_extension()) {
    MessageDlg("An extension must be specifed to indicate\r the file format.", mtConfirmation,
               mbOK);
    return;
  }
  if (lumetra::platform::FileExists(saveAsFileName_) &&
      MessageDlg("File " + saveAsFileName_ + " exists.\r" + " Overwrite ?", mtConfirmation,
                 mbYes | mbNo) != mrYes)
    return;
  SaveMenuClick(this);
  SetCaption(saveAsFileName_);
}

void TfrmMain::AppendtoTIFFMenuClick(TObject*) {
  AppendToDocument("Append image to TIFF file", {"TIF", "TIFF"});
}

void TfrmMain::AppendtoDCXMenuClick(TObject*) {
  AppendToDocument("Append image to DCX file", {"DCX"});
}

void TfrmMain::AppendToDocument(const std::string& title,
                                std::initializer_list<std::string> extensions) {
  TSaveDialog dialog;
  dialog.Title = title;
  dialog.OverwritePrompt = false;
  dialog.FileMustExist = true;
  for (const TFileFormat& format : RegisteredFileFormats())
    if (std::find(extensions.begin(), extensions.end(), format.extension) != extensions.end()) {
      if (!dialog.Filter.empty()) dialog.Filter += "|";
      dialog.Filter += format.description + " (*." + format.extension + ")|*." + format.extension;
    }
  if (!dialog.Execute(Handle())) return;
  const std::string name = dialog.FileName;
  TCommandWork work(*this, "Appending");
  imageScrollBox_->AppendToFile(name);
  saveAsFileName_.clear();
  // The file appended to becomes the document, shown at its new last page:
  // the page commands then work on what the viewer shows.
  DocumentFileName = name;
  LoadDocument(name);
}

void TfrmMain::AboutMenuClick(TObject*) {
  TForm about("Quorvex - Info", 300, 140, bsDialog);
  TLabel product(about, "Quorvex");
  product.SetBounds(20, 16, 260, 20);
  TLabel version(about, "Version 1.0.2");
  version.SetBounds(20, 44, 260, 20);
  TButton ok(about, "&Ok");
  ok.SetBounds(110, 90, 80, 28);
  ok.SetDefault(true);
  ok.OnClick = [&about](TObject*) { about.SetModalResult(mrOk); };
  about.ShowModal();
}

void TfrmMain::ApplyEdit(TObject* sender,
                         const std::function<std::unique_ptr<TImageTransform>()>& make) {
  TDibGraphic* graphic = imageScrollBox_->Graphic();
  if (!graphic || graphic->Empty()) return;
  std::unique_ptr<TImageTransform> transform = make();
  if (!transform) return;
  TCommandWork work(*this, CommandLabel(sender, "Editing"));
  KeepForUndo();
  transform->OnProgress = work.Progress();
  transform->ApplyOnDest(*undoImage_, *graphic);
  modified_ = true;
  imageScrollBox_->Redraw(true);
}

void TfrmMain::KeepForUndo() {
  undoImage_->Assign(imageScrollBox_->Graphic());
  undoImageShown_ = imagesShown_;
}

void TfrmMain::CopyMenuClick(TObject*) {
  if (HasImage()) CopyToClipboard(*imageScrollBox_->Graphic());
}

void TfrmMain::PasteMenuClick(TObject*) {
  if (!SavePrompt()) return;
  if (!ClipboardHasImage()) return;
  TDibGraphic* graphic = imageScrollBox_->Graphic();
  if (graphic) {
    KeepForUndo();
    PasteFromClipboard(*graphic);
  } else {
    TDibGraphic pasted;
    PasteFromClipboard(pasted);
    imageScrollBox_->AssignGraphic(&pasted);
  }
  modified_ = true;
  saveAsFileName_.clear();
  imageScrollBox_->Redraw(true);
}

void TfrmMain::AnimatedMenuClick(TObject*) {
  imageScrollBox_->SetAnimated(!imageScrollBox_->Animated());
  // A single page does not animate.
  mainMenu_["AnimatedMenu"].SetChecked(imageScrollBox_->Animated());
}

void TfrmMain::PrintMenuClick(TObject*) {
  TPrintOptionForm options;
  if (options.ShowModal() != mrOk) return;
  const TPrintMode mode = options.GetPrintMode();
  const double width = static_cast<double>(StrToFloat(options.WidthFld.Text()));
  const double height = static_cast<double>(StrToFloat(options.HeightFld.Text()));
  TDibGraphic* graphic = imageScrollBox_->Graphic();
  if (!graphic) throw ELumetraError("Graphic is empty");
  TDibGraphicPrinter printer;
  printer.SetPrintMode(mode);
  printer.SetWidthInches(width);
  printer.SetHeightInches(height);
  printer.SetAutoJob(true);
  printer.SetTitle("Quorvex");
  TCommandWork work(*this, "Printing");
  printer.Print(*graphic);
}

void TfrmMain::OCR1Click(TObject*) {
  if (!HasImage()) return;
  TOcrEngine engine(OcrDriverClassOf<TConsoleOcrDriver>());
  std::vector<std::string> lines;
  auto& driver = static_cast<TConsoleOcrDriver&>(engine.Driver());
  driver.SetInputFormat("pbm");
  driver.SetOcrProgram("gocr039.exe");
  {
    TCommandWork work(*this, "Recognising");
    engine.Recognize(*imageScrollBox_->Graphic(), lines, work.Progress());
  }
  ShowOcrResult(lines);
}

void TfrmMain::PrintSetupMenuClick(TObject*) {
  TPrinterSetupDialog dialog;
  dialog.SetDevMode(Printer().DevMode());
  if (dialog.Execute(Handle())) Printer().SetPrinter(dialog.PrinterName(), dialog.DevMode());
}

void TfrmMain::UndoMenuClick(TObject*) {
  if (undoImage_->Empty()) return;
  TDibGraphic* graphic = imageScrollBox_->Graphic();
  if (graphic && undoImageShown_ == imagesShown_) {
    // The image edited is still the one shown: it takes its pixels back in
    // place and stays the page of its document it was.
    graphic->Assign(undoImage_.get());
    imageScrollBox_->Redraw(true);
  } else {
    imageScrollBox_->AssignGraphic(undoImage_.get());
  }
  undoImage_ = std::make_unique<TDibGraphic>();
}

void TfrmMain::CopySelectionMenuClick(TObject*) {
  imageScrollBox_->CopySelection();
}

void TfrmMain::PasteIntoSelectionMenuClick(TObject*) {
  TDibGraphic pasted;
  PasteFromClipboard(pasted);
  KeepForUndo();
  imageScrollBox_->PasteIntoSelection(&pasted);
  imageScrollBox_->Redraw(true);
}

// The part of the page outside the band is gone from the page: Undo brings
// it back, as it does for every other edit of the page.
void TfrmMain::CroptoSelectionMenuClick(TObject*) {
  auto previous = std::make_unique<TDibGraphic>();
  previous->Assign(imageScrollBox_->Graphic());
  imageScrollBox_->CropToSelection();
  undoImage_ = std::move(previous);
  undoImageShown_ = imagesShown_;  // cut in place: the page is still the one shown
}

}  // namespace quorvex::scanwindow
