// TResizeTransform: scales an image to NewWidth x NewHeight, either by the
// core's stretch (sampling, or area averaging for large true-colour images)
// or by a two-pass filtered resampler with one of six kernels.
#pragma once

#include <string>

#include "transforms/image_transform.h"

namespace lumetra {

enum TResampleFilter : std::uint8_t {
  rfTriangle = 0,
  rfHermite = 1,
  rfBell = 2,
  rfBSpline = 3,
  rfLanczos3 = 4,
  rfMitchell = 5,
};

// "Triangle", "Hermite", "Bell", "B-Spline", "Lanczos3", "Mitchell"; empty
// outside the range.
std::string ResampleFilterName(int filter);
// The filter's kernel K(x), in single precision, and its support radius.
float ResampleKernel(TResampleFilter filter, float x);
float ResampleSupport(TResampleFilter filter);

class TResizeTransform : public TImageTransform {
 public:
  const char* ClassName() const noexcept override { return "TResizeTransform"; }
  void ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) override;

  std::int32_t NewWidth() const { return newWidth_; }
  void SetNewWidth(std::int32_t value) { newWidth_ = value; }
  std::int32_t NewHeight() const { return newHeight_; }
  void SetNewHeight(std::int32_t value) { newHeight_ = value; }
  bool Interpolate() const { return interpolate_; }
  void SetInterpolate(bool value) { interpolate_ = value; }
  TResampleFilter ResampleFilter() const { return filter_; }
  void SetResampleFilter(TResampleFilter value) { filter_ = value; }
  bool ForceFormat() const { return forceFormat_; }
  void SetForceFormat(bool value) { forceFormat_ = value; }
  TImageFormat TargetFormat() const { return targetFormat_; }
  void SetTargetFormat(TImageFormat value) { targetFormat_ = value; }

 private:
  void Resample(const TDibGraphic& source, TDibGraphic& dest);

  std::int32_t newWidth_ = 300, newHeight_ = 200;
  bool interpolate_ = false;
  TResampleFilter filter_ = rfTriangle;
  bool forceFormat_ = false;
  TImageFormat targetFormat_ = ifTrueColor;
};

}  // namespace lumetra
