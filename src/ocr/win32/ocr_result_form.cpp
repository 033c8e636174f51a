#include "ocr/win32/ocr_result_form.h"

namespace lumetra {

TOcrResultForm::TOcrResultForm() : TForm("OCR Results", 600, 500, ui::bsSizeable) {
  SetName("OcrResultForm");
  SetPosition(ui::poScreenCenter);
  // System menu and maximise only: a result window is not minimised away.
  const LONG_PTR style = ::GetWindowLongPtrA(Handle(), GWL_STYLE);
  ::SetWindowLongPtrA(Handle(), GWL_STYLE, style & ~static_cast<LONG_PTR>(WS_MINIMIZEBOX));

  Panel1.SetName("Panel1");
  Panel1.SetBevelOuter(ui::bvNone);
  Panel1.SetAlign(ui::alBottom);
  Panel1.SetHeight(40);
  CloseBtn.SetName("CloseBtn");
  CloseBtn.SetBounds(262, 8, 75, 25);
  CloseBtn.SetModalResult(ui::mrOk);
  // The memo takes what the panel leaves; aligned after it, it fills the rest.
  Memo.SetName("Memo");
  Memo.SetAlign(ui::alClient);
  Panel1.OnResize = [this](TObject*) {
    CloseBtn.SetLeft((Panel1.ClientWidth() - CloseBtn.Width()) / 2);
  };
}

void ShowOcrResult(const std::vector<std::string>& lines) {
  TOcrResultForm form;
  form.Memo.SetLines(lines);
  form.ShowModal();
}

}  // namespace lumetra
