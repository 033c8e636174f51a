#include "scanwindow/win32/main_form.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "base/conversions.h"
#include "base/format.h"
#include "formats/registry.h"
#include "imaging/lumisc.h"
#include "imaging/win32/clipboard.h"
#include "ocr/ocr_engine.h"
#include "ocr/win32/ocr_result_form.h"
#include "platform/platform.h"
#include "scanwindow/win32/scan_stop.h"
#include "printing/win32/dib_graphic_printer.h"
#include "printing/win32/print_option_form.h"
#include "printing/win32/printer.h"
#include "transforms/dialogs/crop_form.h"
#include "transforms/dialogs/format_conversion_form.h"
#include "transforms/dialogs/resize_form.h"
#include "transforms/convolution_transforms.h"
#include "transforms/geometric_transforms.h"
#include "transforms/point_transforms.h"
#include "ui/dialogs.h"

namespace quorvex::scanwindow {

using namespace lumetra;
using namespace lumetra::ui;

namespace {

constexpr const char* kNoScanner = "A scanner is not configured on your computer";
constexpr const char* kCaption = "Quorvex - scanning utility";

// The scan context with the window it belongs to, for the page callback.
struct TCallbackContext {
  TScanContext scan;
  TfrmMain* form = nullptr;
  int pagesBefore = 0;  // in the document already: Add Page follows on from them
};

// A file of at least one byte: what a scan that wrote a page leaves.
bool FileHasContent(const std::string& name) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  return !name.empty() && GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &data) &&
         !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
         (data.nFileSizeLow | data.nFileSizeHigh) != 0;
}

bool SameFile(const std::string& a, const std::string& b) {
  return !a.empty() && lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

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

}  // namespace

class TfrmMain::TCommandWork {
 public:
  TCommandWork(TfrmMain& form, std::string label)
      : form_(form), label_(std::move(label)), before_(form.sbStatus_->PanelText(0)),
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

TfrmMain::TfrmMain() : TForm(kCaption, 783, 556) {
  SetName("frmMain");
  SetPosition(poScreenCenter);
  SetMinSize(600, 0);

  auto on = [this](void (TfrmMain::*handler)(TObject*)) {
    return TNotifyEvent([this, handler](TObject* sender) { (this->*handler)(sender); });
  };
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
  auto simple = [edit]<class T>(T*) {
    return edit([] { return std::unique_ptr<TImageTransform>(std::make_unique<T>()); });
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
  // The main menu: hidden and disabled as the form defines it.
  const TMenuItemDef menu[] = {
      {0, "FileMenu", "&File"},
      {1, "OpenMenu", "&Open ...", "Ctrl+O", 0, on(&TfrmMain::OpenMenuClick)},
      {1, "SaveMenu", "&Save", "Ctrl+S", miHidden | miDisabled, on(&TfrmMain::SaveMenuClick)},
      {1, "SaveAsMenu", "Save &As ...", "", miHidden | miDisabled,
       on(&TfrmMain::SaveAsMenuClick)},
      {1, "N1", "-"},
      {1, "AppendtoTIFFMenu", "A&ppend to TIFF file ...", "", miHidden | miDisabled,
       on(&TfrmMain::AppendtoTIFFMenuClick)},
      {1, "AppendtoDCXMenu", "App&end to DCX file ...", "", miHidden | miDisabled,
       on(&TfrmMain::AppendtoDCXMenuClick)},
      {1, "N2", "-"},
      {1, "PrintMenu", "&Print ...", "", miHidden, on(&TfrmMain::PrintMenuClick)},
      {1, "PrintSetupMenu", "P&rint Setup ...", "", miHidden,
       on(&TfrmMain::PrintSetupMenuClick)},
      {1, "N3", "-"},
      {1, "ScanMenu", "S&can ...", "", 0, on(&TfrmMain::ScanMenuClick)},
      {1, "SelectScannerMenu", "Se&lect Scanner ...", "", 0,
       on(&TfrmMain::SelectScannerMenuClick)},
      {1, "N4", "-"},
      {1, "ExitSaveMenu", "Save && Exit", "", 0, on(&TfrmMain::ExitSaveMenuClick)},
      {1, "ExitMenu", "E&xit", "", 0, on(&TfrmMain::ExitMenuClick)},
      {0, "EditMenu", "&Edit", "", miHidden},
      {1, "UndoMenu", "&Undo", "Ctrl+Z", miHidden, on(&TfrmMain::UndoMenuClick)},
      {1, "N5", "-"},
      {1, "CopyMenu", "&Copy", "Ctrl+C", miHidden | miDisabled, on(&TfrmMain::CopyMenuClick)},
      {1, "PasteMenu", "&Paste New Image", "Ctrl+V", miHidden | miDisabled,
       on(&TfrmMain::PasteMenuClick)},
      {1, "N6", "-"},
      {1, "CopySelectionMenu", "C&opy Selection", "", miHidden,
       on(&TfrmMain::CopySelectionMenuClick)},
      {1, "PasteIntoSelectionMenu", "Paste &Into Selection", "", miHidden,
       on(&TfrmMain::PasteIntoSelectionMenuClick)},
      {1, "CroptoSelectionMenu", "C&rop to Selection", "", miHidden,
       on(&TfrmMain::CroptoSelectionMenuClick)},
      {1, "N7", "-", "", miHidden},
      {1, "OCR1", "OCR", "", miHidden, on(&TfrmMain::OCR1Click)},
      {0, "ViewMenu", "&View"},
      {1, "AntiAliasedMenu", "Ant&i aliased", "", 0,
       TNotifyEvent([this](TObject*) {
         TMenuItem& item = mainMenu_["AntiAliasedMenu"];
         item.SetChecked(!item.Checked());
         imageScrollBox_->SetAntiAliased(item.Checked());
       })},
      {1, "CenteredMenu", "&Centered", "", 0,
       TNotifyEvent([this](TObject*) {
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
      {1, "AnimatedMenu", "A&nimated", "", miHidden, on(&TfrmMain::AnimatedMenuClick)},
      {0, "ImageMenu", "&Image", "", miHidden},
      {1, "RotateMenu", "&Rotate"},
      {2, "Rotate90Menu", "&90  Degrees", "", 0, rotate(90.0)},
      {2, "Rotate180Menu", "&180 Degrees", "", 0, rotate(180.0)},
      {2, "Rotate270Menu", "270 Degrees", "", 0, rotate(270.0)},
      {2, "RotateArbitraryMenu", "&Arbitrary", "", 0, arbitrary},
      {1, "FlipMenu", "&Flip"},
      {2, "FlipHorizontalMenu", "&Horizontal", "", 0,
       simple(static_cast<TFlipHorizontalTransform*>(nullptr))},
      {2, "FlipVerticalMenu", "&Vertical", "", 0,
       simple(static_cast<TFlipVerticalTransform*>(nullptr))},
      {1, "NegativeMenu", "&Negative", "", miHidden,
       simple(static_cast<TNegativeTransform*>(nullptr))},
      {1, "CropMenu", "&Crop ...", "", miHidden, dialog([] { return ExecuteCropDialog(); })},
      {1, "SharpenMenu", "&Sharpen", "", miHidden,
       simple(static_cast<TSharpenTransform*>(nullptr))},
      {1, "SmoothMenu", "S&mooth", "", miHidden, simple(static_cast<TSmoothTransform*>(nullptr))},
      {1, "BrightnessMenu", "&Brightness", "", miHidden},
      {2, "IncreassBrightnessMenu", "&Increase", "", miHidden, brightness(3)},
      {2, "DecreaseBrightnessMenu", "&Decrease", "", miHidden, brightness(-3)},
      {1, "ContrastMenu", "&Contrast", "", miHidden},
      {2, "IncreaseContrastMenu", "&Increase", "", miHidden, contrast(true)},
      {2, "DecreaseContrastMenu", "&Decrease", "", miHidden, contrast(false)},
      {1, "EdgeDetectionMenu", "E&dge Detection", "", miHidden,
       simple(static_cast<TEdgeTransform*>(nullptr))},
      {1, "EmbossMenu", "&Emboss", "", miHidden, simple(static_cast<TEmbossTransform*>(nullptr))},
      {1, "GammaMenu", "&Gamma ...", "", miHidden, gamma},
      {1, "ConvertToGrayMenu", "Convert to Gra&y", "", 0,
       simple(static_cast<TConvertToGrayTransform*>(nullptr))},
      {1, "FormatConversionMenu", "F&ormat Conversion ...", "", 0,
       dialog([this] { return ExecuteFormatConversionDialog(*imageScrollBox_->Graphic()); })},
      {1, "ResizeMenu", "Resi&ze ...", "", miHidden,
       dialog([this] { return ExecuteResizeDialog(*imageScrollBox_->Graphic()); })},
      {0, "HelpMenu", "&Help"},
      {1, "AboutMenu", "&About ...", "", 0, on(&TfrmMain::AboutMenuClick)},
  };
  mainMenu_.Build(menu);
  SetMenu(&mainMenu_);

  topPanel_ = std::make_unique<TPanel>(*this);
  topPanel_->SetName("actPanel");
  topPanel_->SetAlign(alTop);
  topPanel_->SetHeight(46);
  auto button = [this](const char* name, const char* caption, int left, int width) {
    auto b = std::make_unique<TButton>(*topPanel_, caption);
    b->SetName(name);
    b->SetFlat(true);
    b->SetBounds(left, 2, width, 41);
    return b;
  };
  sbAccept_ = button("sbAccept", "Accept", 2, 97);
  sbCancel_ = button("sbCancel", "Cancel", 98, 97);
  sbScan_ = button("sbScan", "Scan", 194, 97);
  sbAddPage_ = button("sbAddPage", "Add Page", 290, 97);
  zoomLabel_ = std::make_unique<TLabel>(*topPanel_, "&Zoom");
  zoomLabel_->SetBounds(396, 15, 36, 16);
  zoomEdit_ = std::make_unique<TEdit>(*topPanel_, "100");
  zoomEdit_->SetName("ZoomEdit");
  zoomEdit_->SetMaxLength(3);
  // The associated up-down takes its width out of the edit's.
  zoomEdit_->SetBounds(434, 12, 58, 22);
  zoomUpDown_ = std::make_unique<TUpDown>(*topPanel_, false);
  zoomUpDown_->SetName("ZoomUpDown");
  zoomUpDown_->SetAssociate(*zoomEdit_);
  zoomUpDown_->SetMin(5);
  zoomUpDown_->SetMax(999);
  zoomUpDown_->SetPosition(100);
  pageLabel_ = std::make_unique<TLabel>(*topPanel_, "Page");
  pageLabel_->SetBounds(510, 15, 32, 16);
  pageEdit_ = std::make_unique<TEdit>(*topPanel_, "1");
  pageEdit_->SetName("PageEdit");
  pageEdit_->SetMaxLength(5);
  pageEdit_->SetBounds(544, 12, 64, 22);
  pageUpDown_ = std::make_unique<TUpDown>(*topPanel_, true);
  pageUpDown_->SetName("PageUpDown");
  pageUpDown_->SetAssociate(*pageEdit_);
  pageUpDown_->SetMin(1);
  pageUpDown_->SetMax(1);
  pageUpDown_->SetPosition(1);
  sbDeletePage_ = button("sbDeletePage", "Delete Page", 0, 105);

  sbStatus_ = std::make_unique<TStatusBar>(*this);
  sbStatus_->SetName("sbStatus");
  sbStatus_->SetAlign(alBottom);
  sbStatus_->SetPanels({100});
  imageScrollBox_ = std::make_unique<TImageScrollBox>(*this);
  imageScrollBox_->SetName("ImageScrollBox");
  imageScrollBox_->SetAlign(alClient);
  imageScrollBox_->SetZoomMode(zmFullPage);
  imageScrollBox_->SetCentered(true);
  // Every image the viewer installs is a new one: an undo image taken from
  // an earlier one no longer belongs in its place.
  imageScrollBox_->OnNewGraphic = [this](TDibGraphic*) { ++imagesShown_; };

  sbAccept_->OnClick = on(&TfrmMain::ExitSaveMenuClick);
  sbCancel_->OnClick = on(&TfrmMain::ExitMenuClick);
  sbScan_->OnClick = on(&TfrmMain::ScanMenuClick);
  sbAddPage_->OnClick = on(&TfrmMain::AppendScanBtnClick);
  sbDeletePage_->OnClick = on(&TfrmMain::DeletePageBtnClick);
  zoomEdit_->OnChange = on(&TfrmMain::ZoomEditChange);
  pageEdit_->OnChange = on(&TfrmMain::PageEditChange);
  topPanel_->OnResize = on(&TfrmMain::actPanelResize);
  OnClose = [this](TObject* sender, TCloseAction& action) { FormClose(sender, action); };
  FormCreate();
  actPanelResize(topPanel_.get());
}

TfrmMain::~TfrmMain() {
  FormDestroy();
  Application().RemoveIdleHandler(this);
}

void TfrmMain::FormCreate() {
  Application().AddIdleHandler(this,
                               [this](TObject* sender, bool& done) { CommandEnabling(sender, done); });
  undoImage_ = std::make_unique<TDibGraphic>();
  try {
    scanner_ = std::make_unique<twain::TScanner>();
    scanner_->SetProductName("Quorvex");
  } catch (const std::exception& error) {
    // Another window of this process owns the acquisition object: this one
    // reports it and never scans.
    scannerError_ = error.what();
  }
  ShowDialog = true;
  XDpi = 200;
  YDpi = 200;
  ImageFormat = ifBlackWhite;
  RegisterExtraPictureFormats();
  mainMenu_["AntiAliasedMenu"].SetChecked(imageScrollBox_->AntiAliased());
  mainMenu_["CenteredMenu"].SetChecked(imageScrollBox_->Centered());
  CheckMouseMode();
}

void TfrmMain::CheckMouseMode() {
  const TMouseMode mode = imageScrollBox_->MouseMode();
  mainMenu_["DragMenu"].SetChecked(mode == mmDrag);
  mainMenu_["QuickSelectMenu"].SetChecked(mode == mmQuickSelect);
  mainMenu_["SelectMenu"].SetChecked(mode == mmRubberband);
}

bool TfrmMain::HasImage() const {
  return imageScrollBox_->Graphic() && !imageScrollBox_->Graphic()->Empty();
}

void TfrmMain::FormDestroy() {
  pageUpDown_->SetMin(1);
  pageUpDown_->SetMax(1);
  pageEdit_->OnChange = nullptr;
  pageEdit_->SetText("1");
  modified_ = false;
  scanner_.reset();
  undoImage_.reset();
}

void TfrmMain::actPanelResize(TObject*) {
  try {
    sbDeletePage_->SetLeft(topPanel_->Width() - sbDeletePage_->Width() - 2);
  } catch (...) {
  }
}

void TfrmMain::LoadDocument(const std::string& fileName) {
  SetCaption(fileName);
  // What a codec warns of in a document is said once: the window reloads
  // it after every scan and page command.
  imageScrollBox_->OnWarning = [this, fileName](TObject*, const std::string& message) {
    if (SameFile(fileName, warnedFile_)) return;
    warnedFile_ = fileName;
    MessageDlg(message, mtWarning, mbOK);
  };
  {
    TBusyCursor busy;
    pageUpDown_->SetMin(1);
    const int count = imageScrollBox_->GetPageCount(fileName);
    pageUpDown_->SetMax(count);
    // The last page is shown, and only it is read.
    if (count > 1)
      imageScrollBox_->LoadPages(fileName, count);
    else
      imageScrollBox_->LoadFromFile(fileName, 1);
    pageEdit_->SetText(count <= 1 ? "1" : std::to_string(count));
    if (SameFile(fileName, DocumentFileName)) documentPages_ = count;
  }
  modified_ = false;
  ApplyZoomBox();
}

void TfrmMain::ClearDocument() {
  imageScrollBox_->ClearGraphic();
  pageUpDown_->SetMin(1);
  pageUpDown_->SetMax(1);
  pageEdit_->SetText("1");
  SetCaption(kCaption);  // the caption names the document shown, or none
  documentPages_ = 0;
  modified_ = false;
}

void TfrmMain::ShowDocument() {
  [this] {
    if (SameFile(imageScrollBox_->FileName(), DocumentFileName) && documentPages_ > 0) return;
    try {
      if (FileHasContent(DocumentFileName)) {
        LoadDocument(DocumentFileName);
        return;
      }
    } catch (const std::exception&) {
      // A file that is no readable document is replaced by the next Scan.
    }
    ClearDocument();
  }();
  // The window opens with its commands as this document allows, not as a
  // new window's buttons are made: a click may come before its first idle.
  bool done = true;
  CommandEnabling(this, done);
}

std::string TfrmMain::ViewedDocument() const {
  const std::string& shown = imageScrollBox_->FileName();
  return shown.empty() ? DocumentFileName : shown;
}

bool TfrmMain::HasDocumentPage() const { return HasImage() && documentPages_ > 0; }

void TfrmMain::ApplyZoomBox() { ZoomEditChange(zoomEdit_.get()); }

bool TfrmMain::SavePrompt() {
  if (!modified_ || !DocumentFileName.empty()) return true;
  const int answer = MessageDlg("Image is not saved. Save it?", mtConfirmation, mbYesNoCancel);
  if (answer == mrCancel) return false;
  if (answer == mrYes) SaveMenuClick(this);
  return true;
}

bool TfrmMain::ScannerReady() {
  if (!scanner_) {
    ShowMessage(scannerError_);
    return false;
  }
  if (!scanner_->IsAvailable()) {
    ShowMessage(kNoScanner);
    return false;
  }
  return true;
}

void TfrmMain::PageCallback(HWND, HGLOBAL dib, std::uint16_t xResolution, void* context,
                            std::uint16_t yResolution) {
  auto& callback = *static_cast<TCallbackContext*>(context);
  TScanContext& scan = callback.scan;
  TfrmMain& form = *callback.form;
  const int page = scan.pages + 1;
  try {
    scan.encoder->LoadFromDIBHandle(dib);
    WriteScannedPage(scan, xResolution, yResolution);
    ++scan.pages;
    form.ShowScannedPage(*scan.encoder, scan.pages, callback.pagesBefore + scan.pages);
  } catch (const EOutOfResources&) {
    throw Exception(PageTooLargeMessage(page, dib));
  } catch (const std::bad_alloc&) {
    throw Exception(PageTooLargeMessage(page, dib));
  }
  Application().ProcessMessages();
}

std::string TfrmMain::PageTooLargeMessage(int page, HGLOBAL dib) {
  BITMAPINFOHEADER header{};
  if (GlobalSize(dib) >= sizeof header) {
    if (const void* p = GlobalLock(dib)) {
      std::memcpy(&header, p, sizeof header);
      GlobalUnlock(dib);
    }
  }
  return Format("Page %d (%d x %d pixels) is too large for the memory of this program. "
                "The scan was stopped; the pages before it are kept.",
                page, static_cast<int>(header.biWidth), static_cast<int>(std::abs(header.biHeight)));
}

void TfrmMain::ShowScannedPage(TDibGraphic& page, int pagesWritten, int lastPage) {
  imageScrollBox_->AssignGraphic(&page);
  modified_ = false;
  // Each page whole, as it arrives, and the page box and the status bar
  // following the batch.
  SetZoomFromViewer();
  pageUpDown_->SetMax(lastPage);
  SetPageBox(lastPage);
  sbStatus_->SetPanelText(0, ScanStatusText(pagesWritten));
}

void TfrmMain::SetPageBox(int page) {
  auto handler = std::move(pageEdit_->OnChange);
  pageEdit_->OnChange = nullptr;
  struct Reattach {
    TEdit& edit;
    TNotifyEvent& handler;
    ~Reattach() { edit.OnChange = std::move(handler); }
  } reattach{*pageEdit_, handler};
  pageEdit_->SetText(std::to_string(page));
}

void TfrmMain::AcquireInto(const std::string& fileName, bool handOverSettings,
                           std::int32_t& pages) {
  TCallbackContext context;
  context.scan.multiPage = 1;
  context.form = this;
  if (!handOverSettings) context.pagesBefore = pageUpDown_->Max();
  TFileStream stream(fileName, fmCreate);
  auto encoder = std::make_unique<TTiffGraphic>();
  context.scan.stream = &stream;
  context.scan.encoder = encoder.get();
  sbStatus_->SetPanelText(0, "Scanning ...");
  // Made before the window is disabled and gone after it is enabled again,
  // so that the activation comes back to the window.
  TScanStop stop(*sbScan_, [this] { scanner_->Stop(); });
  SetEnabled(false);
  // Always: the window comes back and the count survives a failure.
  struct TAfterwards {
    TfrmMain* form;
    TCallbackContext& context;
    std::int32_t& pages;
    ~TAfterwards() {
      form->SetEnabled(true);
      pages = context.scan.pages;
      form->sbStatus_->SetPanelText(0, ScanStatusText(pages));
    }
  } afterwards{this, context, pages};
  if (handOverSettings) {
    scanner_->SetShowUI(ShowDialog);
    scanner_->SetXDpi(static_cast<std::uint16_t>(XDpi & 0xFFFF));
    scanner_->SetYDpi(static_cast<std::uint16_t>(YDpi & 0xFFFF));
    scanner_->SetImageFormat(ImageFormat);
  }
  scanner_->Acquire(&context, &TfrmMain::PageCallback, Handle());
}

void TfrmMain::SetZoomFromViewer() {
  imageScrollBox_->SetZoomMode(zmFullPage);
  // The box's change handler then sets that scale as a percentage.
  zoomEdit_->SetText(std::to_string(static_cast<int>(std::floor(imageScrollBox_->ZoomPercent()))));
}

void TfrmMain::ScanMenuClick(TObject*) {
  if (!SavePrompt()) return;
  if (!ScannerReady()) return;
  std::int32_t pages = 0;
  // A document that was replaced holds what this scan wrote, perhaps
  // nothing, and the viewer shows exactly that. (One that could not be
  // created is as it was.)
  auto reload = [&] {
    if (pages > 0) {
      documentPages_ = pages;
      LoadDocument(DocumentFileName);
    } else if (!FileHasContent(DocumentFileName)) {
      ClearDocument();
    }
  };
  try {
    AcquireInto(DocumentFileName, true, pages);
  } catch (...) {
    reload();
    throw;
  }
  reload();
  SetZoomFromViewer();
  Application().BringToFront();
}

void TfrmMain::AppendScanBtnClick(TObject*) {
  if (!SavePrompt()) return;
  if (!ScannerReady()) return;
  const std::string document = ViewedDocument();
  const std::string addName = AddPageFileName(document);
  std::int32_t pages = 0;
  auto merge = [&] {
    if (pages == 0) return;
    AppendPages(addName, document);
    LoadDocument(document);
  };
  try {
    AcquireInto(addName, false, pages);
  } catch (...) {
    merge();
    throw;
  }
  merge();
  imageScrollBox_->SetZoomMode(zmFullPage);
}

void TfrmMain::DeletePageBtnClick(TObject*) {
  if (imageScrollBox_->PageCount() <= 1) return;
  const std::string document = ViewedDocument();
  const std::string tempDir = lumetra::platform::TempDirectory();
  const std::string tempName = NumberedTempFileName(tempDir, lumetra::platform::FileExists);
  RewriteWithoutPage(document, imageScrollBox_->PageCount(), imageScrollBox_->CurrentPage(),
                     tempName);
  LoadDocument(document);
}

void TfrmMain::PageEditChange(TObject*) {
  if (DocumentFileName.empty()) return;
  const int page = PageBoxNumber(pageEdit_->Text());
  if (page >= 1 && page <= pageUpDown_->Max() && imageScrollBox_->PageCount() > 1)
    imageScrollBox_->SetCurrentPage(page);
}

void TfrmMain::ZoomEditChange(TObject*) {
  imageScrollBox_->SetZoomPercent(static_cast<float>(ZoomBoxPercent(zoomEdit_->Text())));
}

void TfrmMain::ExitSaveMenuClick(TObject*) {
  if (!HasDocumentPage()) return;  // a document without a page is no result
  acceptFlag_ = 1;
  Close();
}

void TfrmMain::ExitMenuClick(TObject*) {
  acceptFlag_ = 0;
  Close();
}

void TfrmMain::FormClose(TObject*, TCloseAction& action) {
  action = SavePrompt() ? caHide : caNone;
  if (action == caHide && documentPages_ == 0 && !DocumentFileName.empty())
    RemoveIfEmpty(DocumentFileName);
}

void TfrmMain::OpenMenuClick(TObject*) {
  if (!SavePrompt()) return;
  TOpenDialog dialog;
  dialog.Filter = GraphicFileFilter();
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
  if (SameFile(saveAsFileName_, DocumentFileName)) documentPages_ = 1;
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

void TfrmMain::SelectScannerMenuClick(TObject*) {
  if (scanner_ && scanner_->IsAvailable())
    scanner_->SelectSource();
  else
    ShowMessage(scanner_ ? kNoScanner : scannerError_);
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

void TfrmMain::CopySelectionMenuClick(TObject*) { imageScrollBox_->CopySelection(); }

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

void TfrmMain::CommandEnabling(TObject*, bool& done) {
  const bool hasImage = HasImage();
  sbAddPage_->SetEnabled(hasImage);
  sbAccept_->SetEnabled(HasDocumentPage());
  static const char* const imageCommands[] = {
      "RotateMenu",         "Rotate90Menu",        "Rotate180Menu",         "Rotate270Menu",
      "RotateArbitraryMenu", "FlipMenu",           "FlipHorizontalMenu",
      "FlipVerticalMenu",   "SharpenMenu",         "SmoothMenu",            "CropMenu",
      "BrightnessMenu",     "IncreassBrightnessMenu", "DecreaseBrightnessMenu", "ContrastMenu",
      "IncreaseContrastMenu", "DecreaseContrastMenu", "GammaMenu",          "ConvertToGrayMenu",
      "FormatConversionMenu", "EdgeDetectionMenu",  "EmbossMenu",            "NegativeMenu",
      "ResizeMenu",
      // Beyond the image menu: without these the form's disabled file and
      // edit commands could never run, not even from their short-cuts.
      "SaveMenu", "SaveAsMenu", "AppendtoTIFFMenu", "AppendtoDCXMenu", "CopyMenu"};
  for (const char* name : imageCommands)
    if (TMenuItem* item = mainMenu_.Find(name)) item->SetEnabled(hasImage);
  if (TMenuItem* paste = mainMenu_.Find("PasteMenu")) paste->SetEnabled(ClipboardHasImage());
  if (TMenuItem* accept = mainMenu_.Find("ExitSaveMenu")) accept->SetEnabled(HasDocumentPage());
  sbDeletePage_->SetEnabled(imageScrollBox_->PageCount() > 1);
  if (TMenuItem* undo = mainMenu_.Find("UndoMenu")) undo->SetEnabled(!undoImage_->Empty());
  sbScan_->SetEnabled(true);
  sbCancel_->SetEnabled(true);
  done = true;
}

}  // namespace quorvex::scanwindow
