// The scanning window's document: loading and showing it, and scanning
// into it (Scan, Add Page, Delete Page) through the acquisition object.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "base/conversions.h"
#include "base/format.h"
#include "imaging/lumisc.h"
#include "platform/platform.h"
#include "scanwindow/win32/main_form.h"
#include "scanwindow/win32/scan_stop.h"
#include "ui/dialogs.h"

namespace quorvex::scanwindow {

using namespace lumetra;
using namespace lumetra::ui;

namespace {

constexpr const char* kNoScanner = "A scanner is not configured on your computer";

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

// Runs Acquire, then Settle also when Acquire fails: the pages scanned
// before an error are kept and shown too.
void AcquireThen(const std::function<void()>& acquire, const std::function<void()>& settle) {
  try {
    acquire();
  } catch (...) {
    settle();
    throw;
  }
  settle();
}

}  // namespace

void TfrmMain::LoadDocument(const std::string& fileName) {
  SetCaption(fileName);
  // What a codec warns of in a document is said once: the window reloads
  // it after every scan and page command.
  imageScrollBox_->OnWarning = [this, fileName](TObject*, const std::string& message) {
    if (!warnedFile_.empty() && SameText(fileName, warnedFile_)) return;
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
    if (IsDocument(fileName)) documentPages_ = count;
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
    if (IsDocument(imageScrollBox_->FileName()) && documentPages_ > 0) return;
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

bool TfrmMain::IsDocument(const std::string& fileName) const {
  return !fileName.empty() && lstrcmpiA(fileName.c_str(), DocumentFileName.c_str()) == 0;
}

std::string TfrmMain::ViewedDocument() const {
  const std::string& shown = imageScrollBox_->FileName();
  return shown.empty() ? DocumentFileName : shown;
}

bool TfrmMain::HasDocumentPage() const {
  return HasImage() && documentPages_ > 0;
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
  return Format(
      "Page %d (%d x %d pixels) is too large for the memory of this program. "
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
  AcquireThen([&] { AcquireInto(DocumentFileName, true, pages); }, reload);
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
  AcquireThen([&] { AcquireInto(addName, false, pages); }, merge);
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

void TfrmMain::SelectScannerMenuClick(TObject*) {
  if (scanner_ && scanner_->IsAvailable())
    scanner_->SelectSource();
  else
    ShowMessage(scanner_ ? kNoScanner : scannerError_);
}

}  // namespace quorvex::scanwindow
