#include "formats/registry.h"

#include <algorithm>
#include <cctype>
#include <deque>
#include <mutex>

#include "base/conversions.h"
#include "base/format.h"
#include "formats/bmp_graphic.h"
#include "formats/eps_graphic.h"
#include "formats/jpeg_graphic.h"
#include "formats/pcx_graphic.h"
#include "formats/pdf_graphic.h"
#include "formats/png_graphic.h"
#include "formats/ppm_graphic.h"
#include "formats/tga_graphic.h"
#include "formats/tiff_graphic.h"
#ifdef _WIN32
#include "formats/win32/icon_graphic.h"
#include "formats/win32/metafile_graphic.h"
#include "imaging/win32/icon.h"
#endif

namespace lumetra {
namespace {

struct Registry {
  std::mutex mutex;
  std::deque<TFileFormat> formats;  // a deque keeps found entries in place
  bool builtinsDone = false;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

// The formats this library registers itself, in the order dialogs list
// them. Format modules add their rows here in this order.
struct BuiltinFormat {
  const char* extension;
  const char* description;
  TGraphicClass (*graphicClass)();
};
const BuiltinFormat kBuiltinFormats[] = {
    {"PPM", "Portable Pixelmap", &GraphicClassOf<TPpmGraphic>},
    {"PGM", "Portable Greymap", &GraphicClassOf<TPpmGraphic>},
    {"PBM", "Portable Bitmap", &GraphicClassOf<TPpmGraphic>},
    {"TIF", "TIFF file", &GraphicClassOf<TTiffGraphic>},
    {"TIFF", "TIFF file", &GraphicClassOf<TTiffGraphic>},
    {"PCX", "ZSoft PC Paintbrush", &GraphicClassOf<TPcxGraphic>},
    {"PCC", "ZSoft PC Paintbrush", &GraphicClassOf<TPcxGraphic>},
    {"DCX", "DCX file", &GraphicClassOf<TDcxGraphic>},
    {"PNG", "Portable Network Graphic", &GraphicClassOf<TPngGraphic>},
    {"JPG", "JPEG", &GraphicClassOf<TJpegGraphic>},
    {"JPEG", "JPEG", &GraphicClassOf<TJpegGraphic>},
    {"PDF", "PDF file", &GraphicClassOf<TPdfGraphic>},
    {"TGA", "Truevision Targa", &GraphicClassOf<TTgaGraphic>},
    {"VST", "Truevision Vista", &GraphicClassOf<TTgaGraphic>},
    {"AFI", "Truevision Targa", &GraphicClassOf<TTgaGraphic>},
    {"EPS", "Encapsulated postscript", &GraphicClassOf<TEPSGraphic>},
};

// Caller holds the mutex.
void EnsureBuiltins(Registry& r) {
  if (r.builtinsDone) return;
  r.builtinsDone = true;
  InitializeTiffModule();
#ifdef _WIN32
  SetIconFileWriter(&WriteIconFile);
#endif
  for (const BuiltinFormat& f : kBuiltinFormats)
    r.formats.push_back({f.extension, f.description, f.graphicClass()});
}

}  // namespace

void RegisterBuiltinFormats() {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  EnsureBuiltins(r);
}

void UnregisterFileFormats() {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  r.formats.clear();
  r.builtinsDone = false;
}

void RegisterFileFormat(const std::string& extension, const std::string& description,
                        const TGraphicClass& graphicClass) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  EnsureBuiltins(r);
  r.formats.push_back({UpperCase(extension), description, graphicClass});
}

const TGraphicClass* FindGraphicClass(const std::string& fileName) {
  std::string extension = ExtractFileExt(fileName);
  if (extension.empty()) extension = fileName;
  extension = UpperCase(extension);
  // "*.BMP" as well as ".BMP": everything up to the last dot goes.
  const std::size_t dot = extension.rfind('.');
  if (dot != std::string::npos) extension.erase(0, dot + 1);
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  EnsureBuiltins(r);
  // Entries are only appended while the library is in use, and appending to
  // a deque moves nothing, so the answer stays valid.
  for (const TFileFormat& f : r.formats)
    if (f.extension == extension) return &f.graphicClass;
  return nullptr;
}

std::unique_ptr<TDibGraphic> CreateGraphicForFile(const std::string& fileName) {
  const TGraphicClass* graphicClass = FindGraphicClass(fileName);
  if (!graphicClass)
    throw ELumetraError(Format("Graphic files of %s format are not supported or not registered",
                               ExtractFileExt(fileName)));
  return graphicClass->Create();
}

void RegisterExtraPictureFormats() {
  if (!FindGraphicClass("*.BMP"))
    RegisterFileFormat("BMP", "Bitmap file", GraphicClassOf<TBitmapGraphic>());
#ifdef _WIN32
  // Icons and metafiles are drawn by GDI: only the Windows build has them.
  if (!FindGraphicClass("*.ICO"))
    RegisterFileFormat("ICO", "Windows icon", GraphicClassOf<TIconGraphic>());
  if (!FindGraphicClass("*.WMF")) {
    RegisterFileFormat("WMF", "Windows meta file", GraphicClassOf<TMetaFileGraphic>());
    RegisterFileFormat("EMF", "Enhanced meta file", GraphicClassOf<TMetaFileGraphic>());
  }
#endif
}

std::vector<TFileFormat> RegisteredFileFormats() {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  EnsureBuiltins(r);
  return {r.formats.begin(), r.formats.end()};
}

std::string GraphicFileFilter() {
  const std::vector<TFileFormat> formats = RegisteredFileFormats();
  std::string all;
  std::string pairs;
  for (const TFileFormat& f : formats) {
    const std::string pattern = "*." + LowerCase(f.extension);
    if (!all.empty()) all += ';';
    all += pattern;
    pairs += '|' + f.description + " (" + pattern + ")|" + pattern;
  }
  return "All (" + all + ")|" + all + pairs;
}

void ReadFromOffsetZero(TStream& stream, const std::function<void(TStream&)>& read) {
  const std::int64_t position = stream.Position();
  if (position == 0) {
    read(stream);
    return;
  }
  TMemoryStream copy;
  const std::int64_t rest = stream.Size() - position;
  if (rest > 0) copy.CopyFrom(stream, rest);
  copy.SetPosition(0);
  read(copy);
}

void WriteAtOffsetZero(TStream& stream, const std::function<void(TStream&)>& write) {
  if (stream.Position() == 0) {
    write(stream);
    return;
  }
  TMemoryStream file;
  write(file);
  if (file.Size() > 0) stream.CopyFrom(file, 0);
}

}  // namespace lumetra
