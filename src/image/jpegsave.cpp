#include "image/jpegsave.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <memory>

// clang-format off
#include <jpeglib.h>  // needs stdio first
// clang-format on

namespace zorvex {

namespace {

// What a longjmp may pass over: plain C objects only.
struct TJpegSave {
    jpeg_compress_struct Cinfo;
    jpeg_error_mgr Err;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
    unsigned char* Buffer = nullptr;
    unsigned long Size = 0;
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    auto* s = static_cast<TJpegSave*>(cinfo->client_data);
    cinfo->err->format_message(cinfo, s->Message);
    std::longjmp(s->Jump, 1);
}

void OutputMessage(j_common_ptr) {}

// False with s.Message set; the caller frees s.Buffer either way.
bool Compress(TJpegSave& s, const TBitmap& bitmap, int quality, std::string_view comment) {
    s.Cinfo.err = jpeg_std_error(&s.Err);
    s.Err.error_exit = ErrorExit;
    s.Err.output_message = OutputMessage;
    s.Cinfo.client_data = &s;
    if (setjmp(s.Jump)) {
        jpeg_destroy_compress(&s.Cinfo);
        return false;
    }
    jpeg_create_compress(&s.Cinfo);
    jpeg_mem_dest(&s.Cinfo, &s.Buffer, &s.Size);
    s.Cinfo.image_width = static_cast<JDIMENSION>(bitmap.Width);
    s.Cinfo.image_height = static_cast<JDIMENSION>(bitmap.Height);
    s.Cinfo.input_components = 3;
    s.Cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&s.Cinfo);
    jpeg_set_quality(&s.Cinfo, quality, TRUE);
    jpeg_start_compress(&s.Cinfo, TRUE);
    if (!comment.empty())
        jpeg_write_marker(&s.Cinfo, JPEG_COM, reinterpret_cast<const JOCTET*>(comment.data()),
                          static_cast<unsigned>(comment.size()));
    while (s.Cinfo.next_scanline < s.Cinfo.image_height) {
        // libjpeg does not write through the row pointer.
        JSAMPROW row = const_cast<JSAMPROW>(bitmap.Row(static_cast<int>(s.Cinfo.next_scanline)));
        jpeg_write_scanlines(&s.Cinfo, &row, 1);
    }
    jpeg_finish_compress(&s.Cinfo);
    jpeg_destroy_compress(&s.Cinfo);
    return true;
}

}  // namespace

bool EncodeJpeg(const TBitmap& bitmap, int quality, std::string_view comment, std::string* out,
                std::string* error) {
    if (bitmap.Width <= 0 || bitmap.Height <= 0 || bitmap.Width > JPEG_MAX_DIMENSION ||
        bitmap.Height > JPEG_MAX_DIMENSION ||
        bitmap.Pixels.size() < static_cast<size_t>(bitmap.Width) * bitmap.Height * 3) {
        if (error)
            *error = "a page of " + std::to_string(bitmap.Width) + "x" +
                     std::to_string(bitmap.Height) + " pixels cannot be a JPEG file";
        return false;
    }
    if (comment.size() > 65533) comment = comment.substr(0, 65533);
    auto s = std::make_unique<TJpegSave>();
    bool ok = Compress(*s, bitmap, quality < 1 ? 1 : quality > 100 ? 100 : quality, comment);
    if (ok) {
        out->assign(reinterpret_cast<const char*>(s->Buffer), s->Size);
    } else if (error) {
        *error = s->Message;
    }
    std::free(s->Buffer);
    return ok;
}

}  // namespace zorvex
