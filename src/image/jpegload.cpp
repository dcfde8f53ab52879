#include "image/jpegload.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>

// clang-format off
#include <jpeglib.h>  // needs stdio first
// clang-format on

#include "image/output.h"

namespace zorvex {

namespace {

constexpr size_t BLOCK_SIZE = 16384;
constexpr int MAX_WARNINGS = 5;            // more stop the scan lines
constexpr size_t MAX_KEPT_WARNINGS = 100;  // a broken file can warn per marker
constexpr int MAX_SCANS = 1000;
constexpr int ROWS_PER_CALL = 16;

// Everything the libjpeg callbacks reach. Held on the heap by the loader,
// so a longjmp out of libjpeg leaves nothing of ours half-destroyed.
struct TJpegLoad {
    jpeg_decompress_struct Cinfo;
    jpeg_error_mgr Err;
    jpeg_source_mgr Src;
    jpeg_progress_mgr Progress;
    std::jmp_buf Jump;
    bool Created = false;
    TPictureSource* Source = nullptr;
    TPicReport* Report = nullptr;
    TPicture* Picture = nullptr;
    TBitmap* Bitmap = nullptr;
    TColorMap Map;  // a given map, when one is used
    int Warnings = 0;
    bool AtEnd = false;
    JOCTET Buffer[BLOCK_SIZE];
    JOCTET Eoi[2] = {0xFF, 0xD9};
};

TJpegLoad& LoadOf(j_common_ptr cinfo) {
    return *static_cast<TJpegLoad*>(cinfo->client_data);
}

// Returns before any longjmp, so its strings are gone by then.
void Record(j_common_ptr cinfo, bool warning) {
    TJpegLoad& s = LoadOf(cinfo);
    try {
        char text[JMSG_LENGTH_MAX];
        cinfo->err->format_message(cinfo, text);
        TPicMessage m;
        m.Code = JPEG_CODE_BASE + cinfo->err->msg_code;
        m.Text = text;
        if (!warning)
            s.Report->Error = std::move(m);
        else if (s.Report->Warnings.size() < MAX_KEPT_WARNINGS)
            s.Report->Warnings.push_back(std::move(m));
    } catch (...) {
        // Out of memory: the code is still known.
        if (!warning) s.Report->Fail(JPEG_CODE_BASE + cinfo->err->msg_code);
    }
}

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    Record(cinfo, false);
    std::longjmp(LoadOf(cinfo).Jump, 1);
}

void EmitMessage(j_common_ptr cinfo, int level) {
    if (level != -1) return;  // trace output
    ++cinfo->err->num_warnings;
    ++LoadOf(cinfo).Warnings;
    Record(cinfo, true);
}

void OutputMessage(j_common_ptr) {}

void ProgressMonitor(j_common_ptr cinfo) {
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number <= MAX_SCANS) return;
    LoadOf(cinfo).Report->Fail(PIC_TOO_LARGE, d->image_width, d->image_height);
    std::longjmp(LoadOf(cinfo).Jump, 1);
}

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
    TJpegLoad& s = LoadOf(reinterpret_cast<j_common_ptr>(cinfo));
    size_t got = 0;
    if (!s.AtEnd) {
        try {
            got = s.Source->Read(s.Buffer, BLOCK_SIZE);
        } catch (...) {
            got = 0;
        }
    }
    if (got > 0) {
        s.Src.next_input_byte = s.Buffer;
        s.Src.bytes_in_buffer = got;
        return TRUE;
    }
    // Show what there is: libjpeg fills the rest as if the file ended here.
    if (!s.AtEnd) s.Report->Warn(PIC_JPEG_EOF);
    s.AtEnd = true;
    ++s.Warnings;
    ++cinfo->err->num_warnings;
    s.Src.next_input_byte = s.Eoi;
    s.Src.bytes_in_buffer = sizeof s.Eoi;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
    TJpegLoad& s = LoadOf(reinterpret_cast<j_common_ptr>(cinfo));
    if (count <= 0) return;
    while (static_cast<size_t>(count) > s.Src.bytes_in_buffer) {
        count -= static_cast<long>(s.Src.bytes_in_buffer);
        FillInputBuffer(cinfo);
        if (s.Src.next_input_byte == s.Eoi) return;  // nothing left to skip
    }
    s.Src.next_input_byte += count;
    s.Src.bytes_in_buffer -= static_cast<size_t>(count);
}

// Grayscale values or colour indices at the start of the row become RGB;
// from the right, so no byte is overwritten before it is read.
void Expand(uint8_t* row, int width, JSAMPARRAY colormap) {
    for (int x = width - 1; x >= 0; --x) {
        const uint8_t v = row[x];
        uint8_t* p = row + static_cast<ptrdiff_t>(x) * 3;
        if (colormap) {
            p[0] = colormap[0][v];
            p[1] = colormap[1][v];
            p[2] = colormap[2][v];
        } else {
            p[0] = p[1] = p[2] = v;
        }
    }
}

// Runs between the setjmp and any longjmp: holds nothing with a destructor.
bool Decompress(TJpegLoad& s) {
    j_decompress_ptr cinfo = &s.Cinfo;
    TPicture& picture = *s.Picture;
    TBitmap& bitmap = *s.Bitmap;

    cinfo->err = jpeg_std_error(&s.Err);
    s.Err.error_exit = ErrorExit;
    s.Err.emit_message = EmitMessage;
    s.Err.output_message = OutputMessage;
    cinfo->client_data = &s;
    jpeg_create_decompress(cinfo);  // keeps err and client_data
    s.Created = true;

    s.Src.init_source = InitSource;
    s.Src.fill_input_buffer = FillInputBuffer;
    s.Src.skip_input_data = SkipInputData;
    s.Src.resync_to_restart = jpeg_resync_to_restart;
    s.Src.term_source = TermSource;
    s.Src.next_input_byte = s.Buffer;
    s.Src.bytes_in_buffer = s.Source->Read(s.Buffer, BLOCK_SIZE);
    if (s.Src.bytes_in_buffer == 0) return s.Report->Fail(PIC_EMPTY_FILE);
    cinfo->src = &s.Src;
    s.Progress.progress_monitor = ProgressMonitor;
    cinfo->progress = &s.Progress;

    jpeg_read_header(cinfo, TRUE);
    picture.Width = static_cast<int>(cinfo->image_width);
    picture.Height = static_cast<int>(cinfo->image_height);
    if (PictureTooLarge(cinfo->image_width, cinfo->image_height))
        return s.Report->Fail(PIC_TOO_LARGE, cinfo->image_width, cinfo->image_height);

    const uint32_t flags = picture.Flags;
    const bool gray = flags & LOAD_GRAYSCALE;
    cinfo->out_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
    picture.ScaleNum = 1;
    picture.ScaleDenom = ChooseScaleDenom(picture.Width, picture.Height, picture.RequestedWidth,
                                          picture.RequestedHeight, flags);
    cinfo->scale_num = 1;
    cinfo->scale_denom = static_cast<unsigned>(picture.ScaleDenom);
    if (QuantizeWanted(flags) && !gray) {
        cinfo->quantize_colors = TRUE;
        cinfo->desired_number_of_colors = 256;
        if ((flags & LOAD_GIVEN_MAP) && !s.Map.empty()) {
            const auto n = static_cast<JDIMENSION>(s.Map.size());
            cinfo->colormap =
                cinfo->mem->alloc_sarray(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, n, 3);
            for (JDIMENSION i = 0; i < n; ++i)
                for (int k = 0; k < 3; ++k) cinfo->colormap[k][i] = s.Map[i][k];
            cinfo->actual_number_of_colors = static_cast<int>(n);
        } else {
            cinfo->two_pass_quantize = TRUE;
        }
    }

    jpeg_start_decompress(cinfo);
    const int width = static_cast<int>(cinfo->output_width);
    const int height = static_cast<int>(cinfo->output_height);
    bitmap.Width = width;
    bitmap.Height = height;
    bitmap.Pixels.resize(static_cast<size_t>(width) * height * 3);
    const JSAMPARRAY colormap = cinfo->quantize_colors ? cinfo->colormap : nullptr;
    const bool narrow = cinfo->output_components == 1;

    JSAMPROW rows[ROWS_PER_CALL];
    while (cinfo->output_scanline < cinfo->output_height && s.Warnings <= MAX_WARNINGS) {
        const int y = static_cast<int>(cinfo->output_scanline);
        const int wanted = height - y < ROWS_PER_CALL ? height - y : ROWS_PER_CALL;
        for (int i = 0; i < wanted; ++i) rows[i] = bitmap.Row(y + i);
        const int got = static_cast<int>(jpeg_read_scanlines(cinfo, rows, wanted));
        if (narrow)
            for (int i = 0; i < got; ++i) Expand(rows[i], width, colormap);
        if (got == 0) break;
    }
    if (colormap && cinfo->actual_number_of_colors > 0)
        for (int y = static_cast<int>(cinfo->output_scanline); y < height; ++y) {
            uint8_t* p = bitmap.Row(y);
            for (int x = 0; x < width; ++x, p += 3) {
                p[0] = colormap[0][0];
                p[1] = colormap[1][0];
                p[2] = colormap[2][0];
            }
        }
    return true;
}

[[gnu::noinline]] bool Guarded(TJpegLoad& s) {
    if (setjmp(s.Jump)) return false;
    return Decompress(s);
}

}  // namespace

bool LoadJpegPicture(TPictureSource& source, TPicture& picture, TPicReport& report) {
    picture.Bitmap.reset();
    picture.HasTransparent = false;
    std::memset(picture.Transparent, 0, sizeof picture.Transparent);
    auto bitmap = std::make_unique<TBitmap>();
    auto load = std::make_unique<TJpegLoad>();
    load->Source = &source;
    load->Report = &report;
    load->Picture = &picture;
    load->Bitmap = bitmap.get();
    const bool given = QuantizeWanted(picture.Flags) && (picture.Flags & LOAD_GIVEN_MAP);
    if (given) load->Map = GivenColorMap(picture.Flags);

    const bool ok = Guarded(*load);
    if (load->Created) jpeg_destroy_decompress(&load->Cinfo);
    if (!ok) return false;
    if (given && (picture.Flags & LOAD_GRAYSCALE)) MapToColors(*bitmap, load->Map);
    picture.Bitmap = std::move(bitmap);
    return true;
}

}  // namespace zorvex
