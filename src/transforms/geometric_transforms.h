// The transforms that move pixels without changing their values: flips,
// rotation and crop. They keep the source's format, palette and resolution.
#pragma once

#include "transforms/image_transform.h"

namespace lumetra {

class TFlipHorizontalTransform : public TImageTransform {
 public:
  const char* ClassName() const noexcept override { return "TFlipHorizontalTransform"; }
  void ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) override;
};

class TFlipVerticalTransform : public TImageTransform {
 public:
  const char* ClassName() const noexcept override { return "TFlipVerticalTransform"; }
  void ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) override;
};

// Quarter turns exactly; any other angle by nearest-neighbour sampling, with
// BackColor filling what the turned picture does not cover. Positive angles
// turn clockwise on the screen.
class TRotateTransform : public TImageTransform {
 public:
  const char* ClassName() const noexcept override { return "TRotateTransform"; }
  void ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) override;
  double Angle() const { return angle_; }
  void SetAngle(double value) { angle_ = value; }
  std::uint32_t BackColor() const { return backColor_; }
  void SetBackColor(std::uint32_t value) { backColor_ = value; }

 private:
  void RotateArbitrary(const TDibGraphic& source, TDibGraphic& dest);
  double angle_ = 90.0;
  std::uint32_t backColor_ = 0xFFFFFF;
};

// Cuts a rectangle out of the image, given as margins or as coordinates
// (right and bottom exclusive). Parts of the rectangle outside the image are
// clipped away.
class TCropTransform : public TImageTransform {
 public:
  const char* ClassName() const noexcept override { return "TCropTransform"; }
  void ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) override;
  std::int32_t CropTop() const { return top_; }
  void SetCropTop(std::int32_t value) { top_ = value; }
  std::int32_t CropLeft() const { return left_; }
  void SetCropLeft(std::int32_t value) { left_ = value; }
  std::int32_t CropBottom() const { return bottom_; }
  void SetCropBottom(std::int32_t value) { bottom_ = value; }
  std::int32_t CropRight() const { return right_; }
  void SetCropRight(std::int32_t value) { right_ = value; }
  bool UseCoordinates() const { return useCoordinates_; }
  void SetUseCoordinates(bool value) { useCoordinates_ = value; }

 private:
  std::int32_t top_ = 0, left_ = 0, bottom_ = 0, right_ = 0;
  bool useCoordinates_ = false;
};

}  // namespace lumetra
