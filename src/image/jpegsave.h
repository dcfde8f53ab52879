// jpegsave: an RGB bitmap encoded as a JPEG file's bytes, for the catalog
// pages.
#pragma once

#include <string>
#include <string_view>

#include "image/picture.h"

namespace zorvex {

// Encodes bitmap at quality (1 to 100) into out; comment, when not empty,
// goes into a comment segment right after the start. False, with libjpeg's
// text in error, when the bitmap cannot be encoded (an empty one, or one
// wider or taller than a JPEG can be).
bool EncodeJpeg(const TBitmap& bitmap, int quality, std::string_view comment, std::string* out,
                std::string* error);

}  // namespace zorvex
