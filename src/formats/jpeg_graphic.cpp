#include "formats/jpeg_graphic.h"

// clang-format off
#include <cstdio>  // jpeglib.h needs FILE and size_t first
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <vector>

#include "base/format.h"
#include "formats/codec_limits.h"

namespace lumetra {
namespace {

constexpr std::size_t kBufferSize = 64 * 1024;
// Progressive and multi-scan files may carry any number of scans, each of
// which costs a pass over the coefficients; real encoders write a dozen.
constexpr int kMaxScans = 500;

}  // namespace

// Everything the libjpeg adapter shares with its caller. The adapter
// functions hold no object with a destructor; the C++ calls they make are
// noexcept, and the error manager leaves through longjmp.
struct JpegJob;
// libjpeg hands callbacks the address of its error manager; ours carries
// the way back to the job.
struct JpegErrorManager {
  jpeg_error_mgr pub;
  JpegJob* job;
};

struct JpegJob {
  JpegErrorManager errorManager;
  std::jmp_buf escape;
  // The codec structures live here, not in the adapter's frame, so that
  // they are intact after a longjmp.
  jpeg_decompress_struct decompress;
  jpeg_compress_struct compress;
  jpeg_source_mgr source;
  jpeg_destination_mgr destination;
  jpeg_progress_mgr monitor;
  char message[JMSG_LENGTH_MAX + 64];
  std::exception_ptr failure;
  TJpegGraphic* image;
  TStream* stream;
  std::uint8_t lastPercent;
  bool startOfFile;
  std::vector<JOCTET> buffer;
  std::vector<std::uint8_t> row;
  // Reading: what the header told the adapter.
  TImageFormat format;
  bool cmyk;
  std::uint16_t xDpi, yDpi;
  // Reading: set while the decompressor holds memory to destroy.
  bool decoding;
  // Writing: where the rows come from instead of the image, if anywhere.
  TPageRows* rows;
};

namespace {

JpegJob& JobOf(j_common_ptr cinfo) {
  return *reinterpret_cast<JpegErrorManager*>(cinfo->err)->job;
}

void SetMessage(JpegJob& job, const char* text) {
  std::snprintf(job.message, sizeof job.message, "%s", text);
}

[[noreturn]] void Escape(JpegJob& job) {
  std::longjmp(job.escape, 1);
}

void ErrorExit(j_common_ptr cinfo) {
  JpegJob& job = JobOf(cinfo);
  if (job.message[0] == 0) (*cinfo->err->format_message)(cinfo, job.message);
  Escape(job);
}

// Corrupt-data warnings are recoverable damage: the image is kept.
void EmitMessage(j_common_ptr, int) {}

void ProgressMonitor(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number > kMaxScans) {
    JpegJob& job = JobOf(cinfo);
    SetMessage(job, "Too many scans in the JPEG file");
    Escape(job);
  }
}

// --- source and destination over a TStream ------------------------------------------

void InitSource(j_decompress_ptr cinfo) {
  JobOf(reinterpret_cast<j_common_ptr>(cinfo)).startOfFile = true;
}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
  JpegJob& job = JobOf(reinterpret_cast<j_common_ptr>(cinfo));
  std::int64_t got = 0;
  try {
    got = job.stream->Read(job.buffer.data(), static_cast<std::int64_t>(job.buffer.size()));
  } catch (...) {
    got = 0;
  }
  if (got <= 0) {
    if (job.startOfFile) {
      SetMessage(job, "JPEG file is empty");
      Escape(job);
    }
    // A truncated file: end it here and keep what was decoded.
    WARNMS(cinfo, JWRN_JPEG_EOF);
    job.buffer[0] = 0xFF;
    job.buffer[1] = JPEG_EOI;
    got = 2;
  }
  cinfo->src->next_input_byte = job.buffer.data();
  cinfo->src->bytes_in_buffer = static_cast<std::size_t>(got);
  job.startOfFile = false;
  return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  jpeg_source_mgr* source = cinfo->src;
  while (count > static_cast<long>(source->bytes_in_buffer)) {
    count -= static_cast<long>(source->bytes_in_buffer);
    FillInputBuffer(cinfo);
  }
  source->next_input_byte += count;
  source->bytes_in_buffer -= static_cast<std::size_t>(count);
}

void TermSource(j_decompress_ptr) {}

void InitDestination(j_compress_ptr cinfo) {
  JpegJob& job = JobOf(reinterpret_cast<j_common_ptr>(cinfo));
  cinfo->dest->next_output_byte = job.buffer.data();
  cinfo->dest->free_in_buffer = job.buffer.size();
}

bool WriteOut(JpegJob& job, std::size_t count) noexcept {
  try {
    return job.stream->Write(job.buffer.data(), static_cast<std::int64_t>(count)) ==
           static_cast<std::int64_t>(count);
  } catch (...) {
    job.failure = std::current_exception();
    return false;
  }
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
  JpegJob& job = JobOf(reinterpret_cast<j_common_ptr>(cinfo));
  if (!WriteOut(job, job.buffer.size())) ERREXIT(cinfo, JERR_FILE_WRITE);
  cinfo->dest->next_output_byte = job.buffer.data();
  cinfo->dest->free_in_buffer = job.buffer.size();
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  JpegJob& job = JobOf(reinterpret_cast<j_common_ptr>(cinfo));
  const std::size_t count = job.buffer.size() - cinfo->dest->free_in_buffer;
  if (count > 0 && !WriteOut(job, count)) ERREXIT(cinfo, JERR_FILE_WRITE);
}

void Progress(JpegJob& job, long long position, long long end) noexcept {
  try {
    job.lastPercent = ReportProgress(job.image, position, 0, job.lastPercent, end,
                                     job.image->OnReadWriteProgress);
  } catch (...) {
    if (!job.failure) job.failure = std::current_exception();
  }
}

bool Allocate(JpegJob& job, JDIMENSION width, JDIMENSION height) noexcept {
  try {
    try {
      job.image->NewImage(static_cast<int>(width), static_cast<int>(height), job.format, nullptr,
                          job.xDpi, job.yDpi);
    } catch (const EOutOfResources&) {
      throw EJpegError(Format("Not enough memory for a %u x %u image", width, height));
    }
    if (job.cmyk) job.row.resize(std::size_t{width} * 4);
    return true;
  } catch (...) {
    job.failure = std::current_exception();
    return false;
  }
}

std::uint16_t Density(unsigned value, int unit) {
  long double dpi = value;
  if (unit == 2) dpi = std::nearbyint(dpi * 2.54L);
  return static_cast<std::uint16_t>(dpi > 65535 ? 65535 : dpi);
}

// The error manager both adapters share: errors leave through the job's
// jump buffer, messages become warnings.
jpeg_error_mgr* InstallErrorManager(JpegJob* job) {
  jpeg_std_error(&job->errorManager.pub);
  job->errorManager.job = job;
  job->errorManager.pub.error_exit = &ErrorExit;
  job->errorManager.pub.emit_message = &EmitMessage;
  return &job->errorManager.pub;
}

// The reading adapter in three steps, each 0 on success, else job.message
// or job.failure says why and the decompressor is gone. Start reads the
// header and gives the image its size, format and resolution.
int StartReading(JpegJob* job) {
  jpeg_decompress_struct& cinfo = job->decompress;
  jpeg_source_mgr& source = job->source;
  jpeg_progress_mgr& monitor = job->monitor;
  cinfo.err = InstallErrorManager(job);
  if (setjmp(job->escape)) {
    jpeg_destroy_decompress(&job->decompress);
    job->decoding = false;
    return 1;
  }
  jpeg_create_decompress(&cinfo);
  job->decoding = true;
  cinfo.mem->max_memory_to_use = static_cast<long>(kMaxCodecAlloc);
  source.init_source = &InitSource;
  source.fill_input_buffer = &FillInputBuffer;
  source.skip_input_data = &SkipInputData;
  source.resync_to_restart = &jpeg_resync_to_restart;
  source.term_source = &TermSource;
  source.bytes_in_buffer = 0;
  source.next_input_byte = nullptr;
  cinfo.src = &source;
  monitor.progress_monitor = &ProgressMonitor;
  cinfo.progress = &monitor;
  jpeg_read_header(&cinfo, TRUE);

  switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
      cinfo.out_color_space = JCS_GRAYSCALE;
      break;
    case JCS_RGB:
    case JCS_YCbCr:
      cinfo.out_color_space = JCS_EXT_BGR;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      cinfo.out_color_space = JCS_CMYK;
      break;
    default:
      SetMessage(*job, "Unsupported color space");
      Escape(*job);
  }
  job->cmyk = cinfo.out_color_space == JCS_CMYK;
  const std::uint64_t pixels = std::uint64_t{cinfo.image_width} * cinfo.image_height;
  if (pixels * (job->cmyk ? 4 : cinfo.num_components) > kMaxImageBytes) {
    std::snprintf(job->message, sizeof job->message, "Image too large, %u x %u", cinfo.image_width,
                  cinfo.image_height);
    Escape(*job);
  }
  jpeg_start_decompress(&cinfo);
  job->xDpi = job->yDpi = 0;
  if (cinfo.density_unit == 1 || cinfo.density_unit == 2) {
    job->xDpi = Density(cinfo.X_density, cinfo.density_unit);
    job->yDpi = Density(cinfo.Y_density, cinfo.density_unit);
  }
  const int components = cinfo.output_components;
  if (job->cmyk ? components != 4 : components != 1 && components != 3) {
    std::snprintf(job->message, sizeof job->message, "Invalid number of samples, %d", components);
    Escape(*job);
  }
  job->format = components == 1 ? ifGray256 : ifTrueColor;
  if (!Allocate(*job, cinfo.output_width, cinfo.output_height)) {
    jpeg_destroy_decompress(&cinfo);
    job->decoding = false;
    return 1;
  }
  return 0;
}

// Decodes the next row into Dest (a row of the image's layout); past the
// last row, finishes the file.
int ReadRow(JpegJob* job, std::uint8_t* dest) {
  jpeg_decompress_struct& cinfo = job->decompress;
  if (setjmp(job->escape)) {
    jpeg_destroy_decompress(&job->decompress);
    job->decoding = false;
    return 1;
  }
  JSAMPROW target = job->cmyk ? job->row.data() : dest;
  if (jpeg_read_scanlines(&cinfo, &target, 1) != 1) {
    // libjpeg pads a truncated file's missing rows itself; were it ever to
    // stop short, the row reads as black rather than as the last one.
    std::memset(dest, 0,
                std::size_t{cinfo.output_width} * (job->cmyk ? 3 : cinfo.output_components));
  } else if (job->cmyk) {
    const std::uint8_t* p = job->row.data();
    std::uint8_t* to = dest;
    for (JDIMENSION x = 0; x < cinfo.output_width; ++x, p += 4, to += 3) {
      const int c = 255 - p[0], m = 255 - p[1], ye = 255 - p[2], k = 255 - p[3];
      to[2] = static_cast<std::uint8_t>(c + k > 254 ? 0 : 255 - c - k);
      to[1] = static_cast<std::uint8_t>(m + k > 254 ? 0 : 255 - m - k);
      to[0] = static_cast<std::uint8_t>(ye + k > 254 ? 0 : 255 - ye - k);
    }
  }
  if (cinfo.output_scanline >= cinfo.output_height) {
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    job->decoding = false;
  }
  return 0;
}

int ReadJpeg(JpegJob* job) {
  if (StartReading(job) != 0) return 1;
  TJpegGraphic& image = *job->image;
  const int h = image.Height();
  for (int y = 0; y < h; ++y) {
    if (ReadRow(job, image.ScanLine(y)) != 0) return 1;
    Progress(*job, y + 1, h);
  }
  if (job->decoding) jpeg_destroy_decompress(&job->decompress);
  return 0;
}

int WriteJpeg(JpegJob* job) {
  jpeg_compress_struct& cinfo = job->compress;
  jpeg_destination_mgr& dest = job->destination;
  cinfo.err = InstallErrorManager(job);
  if (setjmp(job->escape)) {
    jpeg_destroy_compress(&job->compress);
    return 1;
  }
  jpeg_create_compress(&cinfo);
  dest.init_destination = &InitDestination;
  dest.empty_output_buffer = &EmptyOutputBuffer;
  dest.term_destination = &TermDestination;
  cinfo.dest = &dest;
  TJpegGraphic& image = *job->image;
  const bool grey = image.ImageFormat() == ifGray256;
  cinfo.image_width = static_cast<JDIMENSION>(image.Width());
  cinfo.image_height = static_cast<JDIMENSION>(image.Height());
  cinfo.input_components = grey ? 1 : 3;
  // Rows go to the encoder in the image's own blue-green-red order.
  cinfo.in_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);
  cinfo.density_unit = 1;
  cinfo.X_density = image.XDpi();
  cinfo.Y_density = image.YDpi();
  jpeg_set_quality(&cinfo, image.JpegQuality, TRUE);
  if (image.Progressive) jpeg_simple_progression(&cinfo);
  cinfo.optimize_coding = image.OptimizeCoding ? TRUE : FALSE;
  jpeg_start_compress(&cinfo, TRUE);
  const int h = image.Height();
  if (job->rows) job->row.assign(static_cast<std::size_t>(image.RowStride()), 0);
  while (cinfo.next_scanline < cinfo.image_height) {
    const int y = static_cast<int>(cinfo.next_scanline);
    JSAMPROW row = image.ScanLine(y);
    if (job->rows) {
      try {
        job->rows->ReadRow(job->row.data());
      } catch (...) {
        job->failure = std::current_exception();
        jpeg_destroy_compress(&cinfo);
        return 1;
      }
      row = job->row.data();
    }
    jpeg_write_scanlines(&cinfo, &row, 1);
    Progress(*job, y + 1, h);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return 0;
}

void Raise(JpegJob& job) {
  if (job.failure) std::rethrow_exception(job.failure);
  throw EJpegError(job.message[0] ? job.message : "JPEG error");
}

// Runs one adapter over Image and Stream with progress 0 first and 100
// last; the adapter's failure is raised here, outside the codec.
void RunJob(TJpegGraphic& image, TStream& stream, int (*adapter)(JpegJob*),
            TPageRows* rows = nullptr) {
  JpegJob job{};
  job.image = &image;
  job.stream = &stream;
  job.rows = rows;
  job.lastPercent = 255;
  job.buffer.resize(kBufferSize);
  Progress(job, 0, 1);
  if (adapter(&job) != 0) Raise(job);
  if (job.failure) std::rethrow_exception(job.failure);
  Progress(job, 1, 1);
}

}  // namespace

bool TJpegGraphic::IsValidStream(TStream& stream) {
  std::uint8_t b[11] = {};
  const std::int64_t n = stream.Read(b, 11);
  if (n > 0) stream.Seek(-n, soCurrent);
  return n == 11 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF && b[3] == 0xE0 &&
         std::memcmp(b + 6, "JFIF", 5) == 0;
}

void TJpegGraphic::LoadImageFromStream(TStream& stream, int) {
  RunJob(*this, stream, ReadJpeg);
}

void TJpegGraphic::SaveToStream(TStream& stream) {
  if (Empty()) throw ELumetraError("Graphic is empty");
  if (ImageFormat() != ifGray256 && ImageFormat() != ifTrueColor)
    throw EJpegError("JPEG image must be gray scale or true color");
  RunJob(*this, stream, WriteJpeg, rowSource_);
}

TJpegRowReader::TJpegRowReader(TStream& stream, TJpegGraphic& header)
    : job_(std::make_unique<JpegJob>()) {
  job_->image = &header;
  job_->stream = &stream;
  job_->buffer.resize(kBufferSize);
  if (StartReading(job_.get()) != 0) Raise(*job_);
}

TJpegRowReader::~TJpegRowReader() {
  if (job_->decoding) jpeg_destroy_decompress(&job_->decompress);
}

void TJpegRowReader::ReadRow(std::uint8_t* row) {
  if (!job_->decoding) throw EJpegError("Read past the last row of the JPEG file");
  if (::lumetra::ReadRow(job_.get(), row) != 0) Raise(*job_);
}

}  // namespace lumetra
