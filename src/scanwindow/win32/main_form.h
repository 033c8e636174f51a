// TfrmMain: the modal scanning window. The user scans pages into the
// host's multi-page TIFF document, adds and deletes pages, moves between
// pages and zooms, and leaves with Accept or Cancel.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "formats/tiff_graphic.h"
#include "scanwindow/scan_document.h"
#include "transforms/image_transform.h"
#include "twain/twain_scanner.h"
#include "ui/controls.h"
#include "ui/form.h"
#include "ui/menus.h"
#include "viewer/image_scroll_box.h"

namespace quorvex::scanwindow {

class TfrmMain : public lumetra::ui::TForm {
 public:
  TfrmMain();
  ~TfrmMain() override;
  const char* ClassName() const noexcept override { return "TfrmMain"; }

  // Set by the automation object before each showing.
  std::string DocumentFileName;
  bool ShowDialog = true;
  std::int32_t XDpi = 200;
  std::int32_t YDpi = 200;
  lumetra::TImageFormat ImageFormat = lumetra::ifBlackWhite;
  // 1 after Accept, 0 after Cancel.
  std::int32_t AcceptFlag() const { return acceptFlag_; }
  // Before each showing: the viewer shows the document the window is given
  // (the page it showed, when it is the same file), or nothing when that
  // file holds no page yet. The window's document and the viewer never
  // disagree.
  void ShowDocument();

  // The form's handlers.
  void ScanMenuClick(lumetra::TObject* sender);
  void AppendScanBtnClick(lumetra::TObject* sender);
  void DeletePageBtnClick(lumetra::TObject* sender);
  void PageEditChange(lumetra::TObject* sender);
  void ZoomEditChange(lumetra::TObject* sender);
  void ExitSaveMenuClick(lumetra::TObject* sender);
  void ExitMenuClick(lumetra::TObject* sender);
  void SelectScannerMenuClick(lumetra::TObject* sender);
  void AboutMenuClick(lumetra::TObject* sender);
  void UndoMenuClick(lumetra::TObject* sender);
  void CopySelectionMenuClick(lumetra::TObject* sender);
  void PasteIntoSelectionMenuClick(lumetra::TObject* sender);
  void CroptoSelectionMenuClick(lumetra::TObject* sender);
  void OpenMenuClick(lumetra::TObject* sender);
  void SaveMenuClick(lumetra::TObject* sender);
  void SaveAsMenuClick(lumetra::TObject* sender);
  void AppendtoTIFFMenuClick(lumetra::TObject* sender);
  void PrintMenuClick(lumetra::TObject* sender);
  void PrintSetupMenuClick(lumetra::TObject* sender);
  // Recognises the viewer's image with gocr039.exe and shows the lines.
  void OCR1Click(lumetra::TObject* sender);
  void AppendtoDCXMenuClick(lumetra::TObject* sender);
  void CopyMenuClick(lumetra::TObject* sender);
  void PasteMenuClick(lumetra::TObject* sender);
  void AnimatedMenuClick(lumetra::TObject* sender);
  void actPanelResize(lumetra::TObject* sender);

  lumetra::TImageScrollBox& ImageScrollBox() { return *imageScrollBox_; }
  lumetra::ui::TEdit& PageEdit() { return *pageEdit_; }
  lumetra::ui::TEdit& ZoomEdit() { return *zoomEdit_; }
  lumetra::ui::TButton& AcceptButton() { return *sbAccept_; }
  lumetra::ui::TMainMenu& MainMenu() { return mainMenu_; }
  lumetra::ui::TStatusBar& StatusBar() { return *sbStatus_; }

 private:
  static constexpr const char* kCaption = "Quorvex - scanning utility";
  // What a command of the menu needs to be enabled; the idle handler walks
  // the menu's table and enables each item by its need.
  enum TNeeds : std::uint8_t {
    ndNothing,  // left as the form defines it
    ndImage,
    ndClipboardImage,
    ndDocumentPage,
    ndUndoImage,
  };
  // A command that may take a while: the busy cursor, its progress in the
  // status bar (the viewer's reads and writes included), and the window
  // repainted at the end.
  class TCommandWork;
  struct TCommandDef;
  lumetra::TNotifyEvent On(void (TfrmMain::*handler)(lumetra::TObject*)) {
    return [this, handler](lumetra::TObject* sender) { (this->*handler)(sender); };
  }

  // The form (main_form.cpp).
  void FormCreate();
  void FormClose(lumetra::TObject* sender, lumetra::ui::TCloseAction& action);
  void FormDestroy();
  // False when the user cancelled.
  bool SavePrompt();
  bool HasImage() const;
  void CheckMouseMode();
  void SetZoomFromViewer();
  void ApplyZoomBox();
  // Sets the page box without moving the viewer.
  void SetPageBox(int page);

  // The menu's commands (main_form_commands.cpp).
  void BuildCommands();
  bool Satisfied(TNeeds needs) const;
  void CommandEnabling(lumetra::TObject* sender, bool& done);
  // Append to TIFF / DCX: the viewer's image becomes the last page of a
  // file of one of Extensions that the user picks.
  void AppendToDocument(const std::string& title, std::initializer_list<std::string> extensions);
  // The edit pattern of the Image menu: Make asks for its parameters (null:
  // cancelled); then the image goes to the undo image and is transformed
  // back into the viewer.
  void ApplyEdit(lumetra::TObject* sender,
                 const std::function<std::unique_ptr<lumetra::TImageTransform>()>& make);
  // Keeps the viewer's image for Undo.
  void KeepForUndo();

  // The document and scanning into it (main_form_document.cpp).
  void LoadDocument(const std::string& fileName);
  // Empties the viewer and the page controls: the document has no page.
  void ClearDocument();
  // Whether FileName names the window's document.
  bool IsDocument(const std::string& fileName) const;
  // The file whose pages the viewer shows: what Add Page and Delete Page
  // rewrite.
  std::string ViewedDocument() const;
  // Accept needs a page of the document.
  bool HasDocumentPage() const;
  // Runs one acquisition into FileName; Pages counts what was written, also
  // when the acquisition fails.
  void AcquireInto(const std::string& fileName, bool handOverSettings, std::int32_t& pages);
  bool ScannerReady();
  static void PageCallback(HWND window, HGLOBAL dib, std::uint16_t xResolution, void* context,
                           std::uint16_t yResolution);
  static std::string PageTooLargeMessage(int page, HGLOBAL dib);
  void ShowScannedPage(lumetra::TDibGraphic& page, int pagesWritten, int lastPage);

  lumetra::ui::TMainMenu mainMenu_;
  std::unique_ptr<lumetra::ui::TPanel> topPanel_;
  std::unique_ptr<lumetra::ui::TButton> sbAccept_, sbCancel_, sbScan_, sbAddPage_, sbDeletePage_;
  std::unique_ptr<lumetra::ui::TLabel> zoomLabel_, pageLabel_;
  std::unique_ptr<lumetra::ui::TEdit> zoomEdit_, pageEdit_;
  std::unique_ptr<lumetra::ui::TUpDown> zoomUpDown_, pageUpDown_;
  std::unique_ptr<lumetra::TImageScrollBox> imageScrollBox_;
  std::unique_ptr<lumetra::ui::TStatusBar> sbStatus_;
  std::vector<std::pair<lumetra::ui::TMenuItem*, TNeeds>> commandNeeds_;

  bool modified_ = false;
  std::string saveAsFileName_;
  std::unique_ptr<lumetra::TDibGraphic> undoImage_;
  std::unique_ptr<twain::TScanner> scanner_;
  std::string scannerError_;  // why there is no acquisition object
  std::string warnedFile_;    // the document whose warnings were shown last
  std::int32_t acceptFlag_ = 0;
  int documentPages_ = 0;  // pages of DocumentFileName, as last loaded or scanned
  // Counts the images the viewer installed (loads, pages shown, assigned
  // images); the undo image was taken from image undoImageShown_.
  int imagesShown_ = 0;
  int undoImageShown_ = -1;
};

}  // namespace quorvex::scanwindow
