// The process-wide table of file formats: extension -> format class. Callers
// open, save and append files knowing only their names.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/streams.h"
#include "imaging/dib_graphic.h"

namespace lumetra {

// A class reference: the virtual constructor of a format class and the name
// its instances answer.
struct TGraphicClass {
  std::string className;
  std::function<std::unique_ptr<TDibGraphic>()> create;

  std::unique_ptr<TDibGraphic> Create() const { return create(); }
};

template <class T>
TGraphicClass GraphicClassOf() {
  return TGraphicClass{T().ClassName(), [] { return std::make_unique<T>(); }};
}

// One registry entry; Extension is upper case without the dot.
struct TFileFormat {
  std::string extension;
  std::string description;
  TGraphicClass graphicClass;
};

// Appends (upper-cased Extension, GraphicClass); duplicates are kept, and a
// lookup answers the first match.
void RegisterFileFormat(const std::string& extension, const std::string& description,
                        const TGraphicClass& graphicClass);
// The class registered for the file name's extension (from the last "."), or
// for the whole argument when it has none ("TIF", "*.BMP"); null when none.
const TGraphicClass* FindGraphicClass(const std::string& fileName);
// A new instance of the class for FileName; raises ELumetraError "Graphic
// files of %s format are not supported or not registered".
std::unique_ptr<TDibGraphic> CreateGraphicForFile(const std::string& fileName);
// A snapshot of the registry, in registration order.
std::vector<TFileFormat> RegisteredFileFormats();
// Open/save dialog filter: "All (*.a;*.b)|*.a;*.b|Desc (*.a)|*.a|...".
std::string GraphicFileFilter();
// Enters the built-in format classes in table order, once per process (safe
// to call from any thread). Every registry function calls it first.
void RegisterBuiltinFormats();
// The picture formats the scanning window makes sure of when it opens (and
// the tools too), each only when its extension finds no class yet: bitmaps,
// and on Windows icons and metafiles.
void RegisterExtraPictureFormats();
// Empties the registry (library finalisation); a later call of any registry
// function registers the built-in formats again.
void UnregisterFileFormats();

// The stream-position rule for codecs that address their file from offset 0:
// when Stream is not at 0, Read gets a memory copy of the rest of Stream, and
// Write builds the file in memory that is then copied to Stream at its
// position. At position 0 the caller's stream is used directly.
void ReadFromOffsetZero(TStream& stream, const std::function<void(TStream&)>& read);
void WriteAtOffsetZero(TStream& stream, const std::function<void(TStream&)>& write);

}  // namespace lumetra
