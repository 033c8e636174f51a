// 3x3 convolution on the colour channels with its presets, and the
// anti-aliasing shrink of black-and-white images into 256 grey levels.
#pragma once

#include "transforms/image_transform.h"

namespace lumetra {

// Kernel rows top first, left to right; the result is always true colour.
class TConvolutionTransform : public TImageTransform {
 public:
  TConvolutionTransform();
  const char* ClassName() const noexcept override { return "TConvolutionTransform"; }
  void ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) override;

  std::int8_t Kernel(int row, int column) const { return kernel_[row][column]; }
  void SetKernel(int row, int column, std::int8_t value) { kernel_[row][column] = value; }
  // Sets all nine coefficients, row by row.
  void SetKernel(const std::int8_t (&values)[9]);
  std::int8_t KernelDivisor() const { return divisor_; }
  void SetKernelDivisor(std::int8_t value) { divisor_ = value; }

 protected:
  // Lets a preset fix its centre and divisor immediately before convolving.
  virtual void PrepareKernel() {}

  std::int8_t kernel_[3][3];
  std::int8_t divisor_ = 1;
};

class TSharpenTransform : public TConvolutionTransform {
 public:
  TSharpenTransform();
  const char* ClassName() const noexcept override { return "TSharpenTransform"; }
  std::uint8_t Level() const { return level_; }
  void SetLevel(std::uint8_t value) { level_ = value; }

 protected:
  void PrepareKernel() override;

 private:
  std::uint8_t level_ = 10;
};

class TSmoothTransform : public TConvolutionTransform {
 public:
  TSmoothTransform();
  const char* ClassName() const noexcept override { return "TSmoothTransform"; }
  std::uint8_t Level() const { return level_; }
  void SetLevel(std::uint8_t value) { level_ = value; }

 protected:
  void PrepareKernel() override;

 private:
  std::uint8_t level_ = 20;
};

class TEdgeTransform : public TConvolutionTransform {
 public:
  TEdgeTransform();
  const char* ClassName() const noexcept override { return "TEdgeTransform"; }
};

class TEmbossTransform : public TConvolutionTransform {
 public:
  TEmbossTransform();
  const char* ClassName() const noexcept override { return "TEmbossTransform"; }
};

// Shrinks (or stretches) a black-and-white image into 256 grey levels by the
// share of white pixels under each output cell, so that text stays legible
// when a page is shown zoomed out. Other formats are copied unchanged.
class TAntiAliasTransform : public TImageTransform {
 public:
  const char* ClassName() const noexcept override { return "TAntiAliasTransform"; }
  void Apply(TDibGraphic& graphic) override;
  void ApplyOnDest(const TDibGraphic& source, TDibGraphic& dest) override;
  std::int32_t TargetWidth() const { return targetWidth_; }
  void SetTargetWidth(std::int32_t value) { targetWidth_ = value; }
  std::int32_t TargetHeight() const { return targetHeight_; }
  void SetTargetHeight(std::int32_t value) { targetHeight_ = value; }

 private:
  std::int32_t targetWidth_ = 0, targetHeight_ = 0;
};

}  // namespace lumetra
