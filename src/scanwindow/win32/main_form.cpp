// The scanning window's layout and lifetime, its page and zoom boxes, and
// leaving it with Accept or Cancel.
#include "scanwindow/win32/main_form.h"

#include <cmath>
#include <string>

#include "formats/registry.h"
#include "imaging/lumisc.h"
#include "ui/dialogs.h"

namespace quorvex::scanwindow {

using namespace lumetra;
using namespace lumetra::ui;

TfrmMain::TfrmMain() : TForm(kCaption, 783, 556) {
  SetName("frmMain");
  SetPosition(poScreenCenter);
  SetMinSize(600, 0);

  BuildCommands();
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

  sbAccept_->OnClick = On(&TfrmMain::ExitSaveMenuClick);
  sbCancel_->OnClick = On(&TfrmMain::ExitMenuClick);
  sbScan_->OnClick = On(&TfrmMain::ScanMenuClick);
  sbAddPage_->OnClick = On(&TfrmMain::AppendScanBtnClick);
  sbDeletePage_->OnClick = On(&TfrmMain::DeletePageBtnClick);
  zoomEdit_->OnChange = On(&TfrmMain::ZoomEditChange);
  pageEdit_->OnChange = On(&TfrmMain::PageEditChange);
  topPanel_->OnResize = On(&TfrmMain::actPanelResize);
  OnClose = [this](TObject* sender, TCloseAction& action) { FormClose(sender, action); };
  FormCreate();
  actPanelResize(topPanel_.get());
}

TfrmMain::~TfrmMain() {
  FormDestroy();
  Application().RemoveIdleHandler(this);
}

void TfrmMain::FormCreate() {
  Application().AddIdleHandler(
      this, [this](TObject* sender, bool& done) { CommandEnabling(sender, done); });
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

void TfrmMain::ApplyZoomBox() {
  ZoomEditChange(zoomEdit_.get());
}

bool TfrmMain::SavePrompt() {
  if (!modified_ || !DocumentFileName.empty()) return true;
  const int answer = MessageDlg("Image is not saved. Save it?", mtConfirmation, mbYesNoCancel);
  if (answer == mrCancel) return false;
  if (answer == mrYes) SaveMenuClick(this);
  return true;
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

void TfrmMain::SetZoomFromViewer() {
  imageScrollBox_->SetZoomMode(zmFullPage);
  // The box's change handler then sets that scale as a percentage.
  zoomEdit_->SetText(std::to_string(static_cast<int>(std::floor(imageScrollBox_->ZoomPercent()))));
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

}  // namespace quorvex::scanwindow
