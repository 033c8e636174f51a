// TJpegGraphic: baseline and progressive JPEG (JFIF) files through
// libjpeg-turbo, over the library's streams.
#pragma once

#include <cstdint>
#include <memory>

#include "formats/page_rows.h"
#include "imaging/dib_graphic.h"

namespace lumetra {

LUMETRA_DECLARE_EXCEPTION(EJpegError, Exception);

class TJpegGraphic : public TGraphicOf<TJpegGraphic> {
 public:
  TJpegGraphic() = default;
  const char* ClassName() const noexcept override { return "TJpegGraphic"; }

  bool IsValidStream(TStream& stream) override;
  void LoadImageFromStream(TStream& stream, int imageIndex) override;
  void SaveToStream(TStream& stream) override;
  // While set, saves encode the rows Rows hands out, in order, instead of
  // this image's pixels (which the save leaves untouched); this image gives
  // the size, format and resolution.
  void SetRowSource(TPageRows* rows) { rowSource_ = rows; }

  std::uint8_t JpegQuality = 80;
  bool Progressive = false;
  bool OptimizeCoding = false;

 private:
  TPageRows* rowSource_ = nullptr;
};

struct JpegJob;

// A JPEG file's rows one at a time. The constructor reads the header and
// gives Header the page's size, format and resolution without writing its
// pixels; ReadRow then decodes the rows in order.
class TJpegRowReader : public TPageRows {
 public:
  TJpegRowReader(TStream& stream, TJpegGraphic& header);  // both must outlive the reader
  ~TJpegRowReader() override;
  TJpegRowReader(const TJpegRowReader&) = delete;
  TJpegRowReader& operator=(const TJpegRowReader&) = delete;
  void ReadRow(std::uint8_t* row) override;

 private:
  std::unique_ptr<JpegJob> job_;
};

}  // namespace lumetra
