// The root of the system's polymorphic classes: every one answers its name,
// because messages and the format registry print it.
#pragma once

namespace lumetra {

class TObject {
 public:
  virtual ~TObject() = default;
  virtual const char* ClassName() const noexcept { return "TObject"; }
};

}  // namespace lumetra
