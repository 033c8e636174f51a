// The text form of a page's marks: one 8-bit string that travels with the
// page in its TIFF annotation tag. Integers are "(" decimal ")", Booleans
// the integers 0 and 1, strings a length integer and that many raw bytes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "annotations/marks.h"
#include "imaging/lumisc.h"

namespace lumetra {

// Empty for no marks; else the count, then each mark's kind and data.
std::string SaveMarksToText(const std::vector<TMark>& marks);

// Appends the marks of Text to Marks. A mark joins the list as soon as its
// kind is read, so a damaged form keeps the marks before the damage (and the
// one it damaged, with what was read of it) and raises its error:
// ELumetraError "Invalid position in ReadInteger" when the string ends where
// a value must follow, "( expected in ReadInteger" without the "(",
// EConvertError for what is not a number, and ELumetraError
// "Invalid position in ReadString" for a length beyond the end of the text,
// "Invalid mark count in LoadFromText" for more marks than the text can
// hold, "Invalid picture in ReadImage" for a picture that does not read.
// Unknown kind numbers stand for nothing and read nothing more.
void LoadMarksFromText(std::string_view text, std::vector<TMark>& marks);

}  // namespace lumetra
