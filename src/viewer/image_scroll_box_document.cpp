// The viewer's document: loading a file or stream (a page, every page, or
// what the read-ahead has ready), the annotations that travel with a TIFF
// page, and saving or appending the page in a registered format.
#include <memory>
#include <string>

#include "base/conversions.h"
#include "base/format.h"
#include "formats/registry.h"
#include "formats/tiff_graphic.h"
#include "viewer/image_scroll_box.h"
#include "viewer/picture_loader.h"
#include "viewer/selection_handlers.h"

namespace lumetra {

// --- documents --------------------------------------------------------------------

void TImageScrollBox::SetFileName(const std::string& value) {
  if (value.empty()) {
    ClearGraphic();
  } else {
    LoadFromFile(value, 1);
  }
}

int TImageScrollBox::GetPageCount(const std::string& fileName) {
  TFileStream stream(fileName, fmOpenRead | fmShareDenyNone);
  if (!FindGraphicClass(fileName)) return 1;
  std::unique_ptr<TDibGraphic> reader = CreateGraphicForFile(fileName);
  return reader->GetImageCount(stream);
}

void TImageScrollBox::LoadFromFile(const std::string& fileName, int page) {
  const bool wasAnimating = animationTimer_.Enabled();
  animationTimer_.SetEnabled(false);
  struct Restart {
    TImageScrollBox& box;
    bool on;
    ~Restart() {
      // Also after a failed load; the tick does nothing on a single page.
      if (on) box.animationTimer_.SetEnabled(true);
    }
  } restart{*this, wasAnimating};

  std::unique_ptr<TDibGraphic> ahead;
  std::vector<std::string> aheadWarnings;
  if (SameText(fileName, readAheadFileName_)) {
    // The read-ahead thread reads page 1 only; a request for all pages or
    // another page must read the file.
    if (page == 1) ahead = readAhead_->Take(fileName, &aheadWarnings);
    // Reading the file here supersedes a read-ahead of it still running:
    // stored later, it would hand an old image to a later load of the name.
    if (!ahead) readAhead_->Clear();
    readAheadFileName_.clear();
  }
  if (ahead) {
    graphic_ = std::move(ahead);
    paged_ = {};
    AfterNewDocument();
    if (OnWarning)
      for (const std::string& warning : aheadWarnings) OnWarning(this, warning);
  } else if (page == 0 && FindGraphicClass(fileName) && GetPageCount(fileName) > 1) {
    LoadPages(fileName, 1);
    return;
  } else {
    TFileStream stream(fileName, fmOpenRead | fmShareDenyNone);
    LoadFromStream(stream, fileName, page);
  }
  fileName_ = fileName;
}

void TImageScrollBox::CarryEvents(TDibGraphic& image) {
  image.OnReadWriteProgress = OnReadWriteProgress;
  image.OnWarning = [this](TObject*, const std::string& message) {
    if (OnWarning) OnWarning(this, message);
  };
}

std::unique_ptr<TDibGraphic> TImageScrollBox::ReadPage(const std::string& fileName, int page) {
  const TGraphicClass* graphicClass = FindGraphicClass(fileName);
  if (!graphicClass) throw ELumetraError(Format("Frame %d does not exist", page));
  std::unique_ptr<TDibGraphic> loaded = graphicClass->Create();
  CarryEvents(*loaded);
  loaded->SetImageIndex(page);
  TFileStream stream(fileName, fmOpenRead | fmShareDenyNone);
  loaded->LoadFromStream(stream);
  loaded->OnWarning = nullptr;
  return loaded;
}

void TImageScrollBox::InstallPage(std::unique_ptr<TDibGraphic> page) {
  graphic_ = std::move(page);
  if (TRubberbandSelection* selection = Selection()) selection->ClearBand();
  AfterNewDocument();
}

void TImageScrollBox::LoadPages(const std::string& fileName, int page) {
  const int count = GetPageCount(fileName);
  if (page < 1 || page > count) throw ELumetraError(Format("Frame %d does not exist", page));
  std::unique_ptr<TDibGraphic> loaded;
  try {
    loaded = ReadPage(fileName, page);
  } catch (...) {
    // As any failed load: an empty image, the old file name.
    graphic_ = std::make_unique<TDibGraphic>();
    paged_ = {};
    throw;
  }
  paged_ = {fileName, count, page};
  InstallPage(std::move(loaded));
  fileName_ = fileName;
}

void TImageScrollBox::LoadFromStream(TStream& stream, const std::string& fileName, int page) {
  graphic_ = std::make_unique<TDibGraphic>();  // the old document goes first
  paged_ = {};
  if (TRubberbandSelection* selection = Selection()) selection->ClearBand();
  std::unique_ptr<TDibGraphic> loaded;
  if (const TGraphicClass* graphicClass = FindGraphicClass(fileName)) {
    loaded = graphicClass->Create();
    CarryEvents(*loaded);
    if (page != 0) {
      loaded->SetImageIndex(page);
    } else {
      loaded->SetLoadAllFrames(true);
    }
    loaded->LoadFromStream(stream);
    loaded->OnWarning = nullptr;
  } else {
    loaded = LoadPicture(stream, fileName, this, OnReadWriteProgress);
  }
  graphic_ = std::move(loaded);
  AfterNewDocument();
}

void TImageScrollBox::AfterNewDocument() {
  NewGraphic(*graphic_);
  Redraw(true);
}

void TImageScrollBox::NewGraphic(TDibGraphic& graphic) {
  if (OnNewGraphic) OnNewGraphic(&graphic);
  if (auto* tiff = dynamic_cast<TTiffGraphic*>(&graphic)) {
    annotationText_ = tiff->CustomTagValue();
    if (TAnnotationEditing* editing = AnnotationEditing()) editing->SetAnnotationText(annotationText_);
  }
  if (showAnnotations_ && mouseMode_ != mmAnnotation) ShowAnnotationsReadOnly();
}

void TImageScrollBox::ShowAnnotationsReadOnly() {
  if (graphic_->Empty() || annotationText_.empty() || mouseMode_ == mmAnnotation) {
    // A page without marks shows none, not those of the page before it.
    annotations_.Clear();
    HideAnnotations();
    return;
  }
  annotations_.SetImageArea({0, 0, graphic_->Width(), graphic_->Height()});
  annotations_.SetVisible(true);
  annotations_.SetZoom(zoom_);
  try {
    annotations_.LoadFromText(annotationText_);
  } catch (const Exception&) {
    // A damaged tag shows the marks before the damage; the page still shows.
  }
  if (!image_->Picture().Empty()) Redraw(false);
}

void TImageScrollBox::HideAnnotations() {
  if (!annotations_.Visible()) return;
  annotations_.SetVisible(false);
  if (!image_->Picture().Empty()) Redraw(false);
}

void TImageScrollBox::WriteGraphic(TStream& stream, const std::string& ext, bool append) {
  std::unique_ptr<TDibGraphic> writer = CreateGraphicForFile(ext);
  TBusyCursor busy;
  writer->Assign(graphic_.get());
  if (auto* tiff = dynamic_cast<TTiffGraphic*>(writer.get())) {
    tiff->SetCustomTagValue(CurrentAnnotationText());
  }
  if (OnBeforeSave) OnBeforeSave(this, writer.get());
  CarryEvents(*writer);
  if (append) {
    writer->AppendToStream(stream);
  } else {
    writer->SaveToStream(stream);
  }
}

void TImageScrollBox::SaveToStream(TStream& stream, const std::string& ext) {
  WriteGraphic(stream, ext, false);
}

void TImageScrollBox::AppendToStream(TStream& stream, const std::string& ext) {
  WriteGraphic(stream, ext, true);
}

void TImageScrollBox::SaveToFile(const std::string& fileName) {
  // A format that is not registered, a writer that fails or a full disk
  // must not leave an existing file truncated.
  SaveFileReplacing(fileName,
                    [&](TStream& stream) { SaveToStream(stream, ExtractFileExt(fileName)); });
  fileName_ = fileName;
}

void TImageScrollBox::AppendToFile(const std::string& fileName) {
  TFileStream stream(fileName, fmOpenReadWrite);
  AppendToStream(stream, ExtractFileExt(fileName));
}

// The annotations of a TIFF document travel in its first custom tag. A new
// image put into the document object must not inherit the marks of the
// page that was loaded before, or they would be saved with it.
static void ForgetTiffAnnotations(TDibGraphic& graphic) {
  if (auto* tiff = dynamic_cast<TTiffGraphic*>(&graphic)) tiff->SetCustomTagValue("");
}

void TImageScrollBox::AssignGraphic(const TDibGraphic* source) {
  graphic_->Assign(source);
  paged_ = {};
  ForgetTiffAnnotations(*graphic_);
  fileName_.clear();
  annotationText_.clear();
  HideAnnotations();
  annotations_.Clear();
  if (TRubberbandSelection* selection = Selection()) selection->ClearBand();
  AfterNewDocument();
}

void TImageScrollBox::ClearGraphic() {
  // Emptied in place, so the document keeps its class and format settings.
  AssignGraphic(nullptr);
}

void TImageScrollBox::SetCurrentPage(int value) {
  if (!paged_.count) {
    graphic_->SetCurrentFrame(value);
    Redraw(true);
    return;
  }
  if (value < 1 || value > paged_.count)
    throw ELumetraError(Format("Frame %d does not exist", value));
  if (value == paged_.current) {
    Redraw(true);
    return;
  }
  std::unique_ptr<TDibGraphic> page = ReadPage(paged_.fileName, value);
  paged_.current = value;
  InstallPage(std::move(page));
}

}  // namespace lumetra
