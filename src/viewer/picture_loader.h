// The platform's picture loader (OLE pictures: BMP, ICO, WMF, EMF, GIF and
// JPEG as the system knows them), for the files no registered format reads.
#pragma once

#include <memory>
#include <string>

#include "base/streams.h"
#include "imaging/dib_graphic.h"
#include "imaging/lumisc.h"

namespace lumetra {

// The picture in Stream (named Name, whose extension tells the system its
// kind) rendered at screen resolution into a true-colour image. Progress
// goes to Event with Sender.
std::unique_ptr<TDibGraphic> LoadPicture(TStream& stream, const std::string& name,
                                         TObject* sender, const TLumetraProgressEvent& event);

}  // namespace lumetra
