#include "imaging/graphic.h"

#include "base/format.h"

namespace lumetra {

void TGraphic::LoadFromFile(const std::string& fileName) {
  TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(stream);
}

void TGraphic::SaveToFile(const std::string& fileName) {
  SaveFileReplacing(fileName, [this](TStream& stream) { SaveToStream(stream); });
}

void TGraphic::Assign(const TGraphic* source) {
  if (source) {
    source->AssignTo(this);
    return;
  }
  throw EConvertError(Format("Cannot assign a %s to a %s", "nil", ClassName()));
}

void TGraphic::AssignTo(TGraphic* dest) const {
  throw EConvertError(
      Format("Cannot assign a %s to a %s", ClassName(), dest ? dest->ClassName() : "nil"));
}

}  // namespace lumetra
