#pragma once
// Pictures written through libvips's savers: PNG, JPEG, WebP, HEIF, JPEG 2000 and Radiance
// HDR. A saver pulls rows from an image; kelvane pushes them as they are leveled. The saver
// runs on a thread of its own and takes each row as it arrives, so that no more than a few
// strips of rows are held between the two (a saver that encodes whole pictures, as WebP's
// and HEIF's do, holds its own copy).
#include <memory>
#include <string>

#include "files/picture_writer.h"

namespace kelvane {

std::unique_ptr<PictureWriter> create_with_vips(const std::string& output, const OutputFormat& format,
                                                const PagePlan& plan, const PageInfo& input,
                                                const EncodingChoices& choices);

}  // namespace kelvane
