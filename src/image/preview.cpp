#include "image/preview.h"

#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>

#include "image/output.h"
#include "image/rowreader.h"

namespace zorvex {

namespace {

enum class TStep { IDLE, HEADER, START, ROWS, FINISH, DONE };

const JOCTET END_OF_IMAGE[2] = {0xFF, JPEG_EOI};

}  // namespace

struct TJpegPreview::TState {
    jpeg_decompress_struct Info;
    struct TError {
        jpeg_error_mgr Mgr;
        std::jmp_buf Jump;
    } Error;
    jpeg_source_mgr Source;
    bool Created = false;
    TStep Step = TStep::IDLE;
    TPicture* Target = nullptr;
    int PaneWidth = 0, PaneHeight = 0;
    size_t SkipPending = 0;  // bytes libjpeg asked to skip beyond what it had
    bool Ending = false;     // no more bytes will come
    int Rows = 0;
};

namespace {

void ErrorExit(j_common_ptr info) {
    auto* error = reinterpret_cast<TJpegPreview::TState::TError*>(info->err);
    std::longjmp(error->Jump, 1);
}

void NoOutput(j_common_ptr) {}

void InitSource(j_decompress_ptr) {}

boolean FillInput(j_decompress_ptr info) {
    auto* state = static_cast<TJpegPreview::TState*>(info->client_data);
    if (!state->Ending) return FALSE;  // suspend until the decoder has more
    // The file ended early: end the picture where it stops.
    info->src->next_input_byte = END_OF_IMAGE;
    info->src->bytes_in_buffer = sizeof END_OF_IMAGE;
    return TRUE;
}

void SkipInput(j_decompress_ptr info, long count) {
    if (count <= 0) return;
    auto* state = static_cast<TJpegPreview::TState*>(info->client_data);
    size_t n = static_cast<size_t>(count);
    jpeg_source_mgr* src = info->src;
    if (n <= src->bytes_in_buffer) {
        src->next_input_byte += n;
        src->bytes_in_buffer -= n;
    } else {
        state->SkipPending += n - src->bytes_in_buffer;
        src->next_input_byte += src->bytes_in_buffer;
        src->bytes_in_buffer = 0;
    }
}

void TermSource(j_decompress_ptr) {}

bool PictureSizeRefused(JDIMENSION width, JDIMENSION height) {
    return PictureTooLarge(width, height);
}

bool PreviewBitmapReady(TPicture* target, JDIMENSION width, JDIMENSION height, JDIMENSION outWidth,
                        JDIMENSION outHeight, unsigned denom) {
    if (outWidth == 0 || outHeight == 0) return false;
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->Width = static_cast<int>(outWidth);
    bitmap->Height = static_cast<int>(outHeight);
    bitmap->Pixels.assign(static_cast<size_t>(outWidth) * outHeight * 3, 0);
    target->Bitmap = std::move(bitmap);
    target->Width = static_cast<int>(width);
    target->Height = static_cast<int>(height);
    target->ScaleNum = 1;
    target->ScaleDenom = static_cast<int>(denom);
    return true;
}

// Runs the steps as far as the bytes reach; false when libjpeg gave up.
// No C++ object lives in this frame: libjpeg leaves it by longjmp.
bool Advance(TJpegPreview::TState* s) {
    if (setjmp(s->Error.Jump)) return false;
    jpeg_decompress_struct* info = &s->Info;
    for (;;) {
        switch (s->Step) {
            case TStep::HEADER: {
                if (jpeg_read_header(info, TRUE) == JPEG_SUSPENDED) return true;
                if (PictureSizeRefused(info->image_width, info->image_height)) return false;
                info->out_color_space = JCS_RGB;
                info->scale_num = 1;
                info->scale_denom = static_cast<unsigned>(ChooseScaleDenom(
                    static_cast<int>(info->image_width), static_cast<int>(info->image_height),
                    s->PaneWidth, s->PaneHeight, LOAD_REDUCE));
                s->Step = TStep::START;
                break;
            }
            case TStep::START: {
                if (!jpeg_start_decompress(info)) return true;
                if (info->output_components != 3) return false;
                if (!PreviewBitmapReady(s->Target, info->image_width, info->image_height,
                                        info->output_width, info->output_height, info->scale_denom))
                    return false;
                s->Step = TStep::ROWS;
                break;
            }
            case TStep::ROWS: {
                while (info->output_scanline < info->output_height) {
                    JSAMPROW row = s->Target->Bitmap->Row(static_cast<int>(info->output_scanline));
                    if (jpeg_read_scanlines(info, &row, 1) == 0) return true;
                    s->Rows = static_cast<int>(info->output_scanline);
                }
                s->Step = TStep::FINISH;
                break;
            }
            case TStep::FINISH:
                if (!jpeg_finish_decompress(info)) return true;
                s->Step = TStep::DONE;
                return true;
            case TStep::IDLE:
            case TStep::DONE:
                return true;
        }
    }
}

}  // namespace

TJpegPreview::TJpegPreview() : State(std::make_unique<TState>()) {}

TJpegPreview::~TJpegPreview() {
    if (State->Created) jpeg_destroy_decompress(&State->Info);
}

void TJpegPreview::Start(TPicture& target, const std::string& path, int paneWidth, int paneHeight) {
    TState& s = *State;
    if (s.Created) jpeg_abort_decompress(&s.Info);
    if (!s.Created) {
        s.Info.err = jpeg_std_error(&s.Error.Mgr);
        s.Error.Mgr.error_exit = ErrorExit;
        s.Error.Mgr.output_message = NoOutput;
        jpeg_create_decompress(&s.Info);
        s.Info.client_data = &s;
        s.Source.init_source = InitSource;
        s.Source.fill_input_buffer = FillInput;
        s.Source.skip_input_data = SkipInput;
        s.Source.resync_to_restart = jpeg_resync_to_restart;
        s.Source.term_source = TermSource;
        s.Info.src = &s.Source;
        s.Created = true;
    }
    s.Source.next_input_byte = nullptr;
    s.Source.bytes_in_buffer = 0;
    s.Target = &target;
    target.Bitmap.reset();
    target.Path = path;
    target.Width = target.Height = 0;
    target.ScaleNum = target.ScaleDenom = 1;
    s.PaneWidth = paneWidth;
    s.PaneHeight = paneHeight;
    s.SkipPending = 0;
    s.Ending = false;
    s.Rows = 0;
    s.Step = TStep::HEADER;
}

size_t TJpegPreview::Feed(const uint8_t* bytes, size_t length) {
    TState& s = *State;
    if (s.Step == TStep::IDLE || s.Step == TStep::DONE) return length;
    size_t skipped = std::min(s.SkipPending, length);
    s.SkipPending -= skipped;
    s.Source.next_input_byte = bytes + skipped;
    s.Source.bytes_in_buffer = length - skipped;
    if (!Advance(&s)) {
        jpeg_abort_decompress(&s.Info);
        s.Step = TStep::IDLE;
        return length;
    }
    size_t left = s.Source.bytes_in_buffer;
    // Once the picture is complete, whatever follows is not the picture's.
    if (s.Step == TStep::DONE) return length;
    s.Source.next_input_byte = nullptr;
    s.Source.bytes_in_buffer = 0;
    return length - left;
}

void TJpegPreview::Finish() {
    TState& s = *State;
    if (s.Step != TStep::IDLE && s.Step != TStep::DONE) {
        s.Ending = true;
        s.Source.next_input_byte = nullptr;
        s.Source.bytes_in_buffer = 0;
        if (!Advance(&s)) jpeg_abort_decompress(&s.Info);
    }
    if (s.Step != TStep::DONE && s.Created) jpeg_abort_decompress(&s.Info);
    s.Step = TStep::IDLE;
    s.Target = nullptr;
}

bool TJpegPreview::Active() const {
    return State->Step != TStep::IDLE;
}

int TJpegPreview::RowsDone() const {
    return State->Rows;
}

}  // namespace zorvex
