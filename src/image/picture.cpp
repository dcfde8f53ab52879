#include "image/picture.h"

#include "library/format.h"

namespace zorvex {

namespace {

struct TCodeText {
    int Code;
    const char* Text;  // may hold one %d or %02x for Param
};

// Codes 225 and 226 have no text on purpose: they read "unknown jpeg
// error #N", as users of the Targa reader have always seen them.
constexpr TCodeText CODE_TEXTS[] = {
    {PIC_EMPTY_FILE, "Empty input file"},
    {PIC_INPUT_EOF, "Premature end of input file"},
    {PIC_JPEG_EOF, "Premature end of JPEG file"},
    {PIC_BAD_KEY, "Invalid encryption key"},
    {PIC_CANNOT_OPEN, "Cannot open the picture file"},
    {PIC_BMP_BADCMAP, "Unsupported BMP colormap format"},
    {PIC_BMP_BADDEPTH, "Only 8- and 24-bit BMP files are supported"},
    {PIC_BMP_BADHEADER, "Invalid BMP file: bad header length"},
    {PIC_BMP_BADPLANES, "Invalid BMP file: biPlanes not equal to 1"},
    {PIC_BMP_COMPRESSED, "Compressed BMPs not yet supported"},
    {PIC_BMP_NOT, "Not a BMP file - does not start with BM"},
    {PIC_GIF_CODESIZE, "Invalid GIF codesize %d"},
    {PIC_GIF_IMAGENOTFOUND, "Too few images in GIF file"},
    {PIC_GIF_NOT, "Not a GIF file"},
    {PIC_GIF_BADDATA, "Corrupt data in GIF file"},
    {PIC_GIF_BADVERSION, "Warning: unexpected GIF version number"},
    {PIC_GIF_CHAR, "Invalid char 0x%02x in GIF file, ignored"},
    {PIC_GIF_ASPECT, "Warning: unexpected GIF aspect ratio %d"},
    {PIC_GIF_ENDCODE, "Premature end of GIF image"},
    {PIC_GIF_NOMOREDATA, "Ran out of GIF bits"},
    {PIC_FITS_BITPIX, "Invalid BITPIX card in FITS file"},
    {PIC_FITS_NAXIS1, "Invalid NAXIS1 card in FITS file"},
    {PIC_FITS_NAXIS2, "Invalid NAXIS2 card in FITS file"},
    {PIC_FITS_BZERO, "Invalid BZERO card in FITS file"},
    {PIC_FITS_BADCARD, "Invalid character in FITS header"},
    {PIC_FITS_EOF, "Premature end of FITS header"},
    {PIC_FITS_BADBITPIX, "Unsupported FITS BITPIX %d"},
    {PIC_TOO_LARGE, "Picture of %ld x %ld pixels is too large to load"},
};

}  // namespace

std::string PictureMessageText(const std::string& path, const TPicMessage& message) {
    std::string text =
        path.empty() ? "Jpeg Error (unnamed image): " : "Jpeg Error (" + path + "): ";
    if (message.Code >= JPEG_CODE_BASE && !message.Text.empty()) return text + message.Text;
    for (const TCodeText& entry : CODE_TEXTS)
        if (entry.Code == message.Code) {
            if (message.Code == PIC_TOO_LARGE)
                return text + Format(entry.Text, message.Param, message.Param2);
            return text + Format(entry.Text, static_cast<int>(message.Param));
        }
    return text + Format("unknown jpeg error #%d", message.Code);
}

}  // namespace zorvex
