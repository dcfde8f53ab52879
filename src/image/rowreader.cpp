#include "image/rowreader.h"

#include "image/bmpread.h"
#include "image/fitsread.h"
#include "image/gifread.h"
#include "image/tgaread.h"
#include "library/ascii.h"

namespace zorvex {

TPictureKind PictureKindOf(std::string_view path) {
    size_t slash = path.find_last_of('/');
    std::string_view base = slash == std::string_view::npos ? path : path.substr(slash + 1);
    size_t dot = base.find_last_of('.');
    if (dot == std::string_view::npos) return TPictureKind::JPEG;
    std::string_view ext = base.substr(dot);
    if (EqualsIgnoringCase(ext, ".gif")) return TPictureKind::GIF;
    if (EqualsIgnoringCase(ext, ".bmp")) return TPictureKind::BMP;
    if (EqualsIgnoringCase(ext, ".tga")) return TPictureKind::TARGA;
    if (EqualsIgnoringCase(ext, ".fts") || EqualsIgnoringCase(ext, ".fits"))
        return TPictureKind::FITS;
    return TPictureKind::JPEG;
}

std::unique_ptr<TRowReader> MakeRowReader(TPictureKind kind) {
    switch (kind) {
        case TPictureKind::GIF:
            return std::make_unique<TGifReader>();
        case TPictureKind::BMP:
            return std::make_unique<TBmpReader>();
        case TPictureKind::TARGA:
            return std::make_unique<TTargaReader>();
        case TPictureKind::FITS:
            return std::make_unique<TFitsReader>();
        case TPictureKind::JPEG:
            break;
    }
    return nullptr;
}

bool PictureTooLarge(int64_t width, int64_t height) {
    return width <= 0 || height <= 0 || width > MAX_PICTURE_SIDE || height > MAX_PICTURE_SIDE ||
           width * height > MAX_PICTURE_PIXELS;
}

}  // namespace zorvex
