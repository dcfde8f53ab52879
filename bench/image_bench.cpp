// Thumbnails per second: a directory of 100 JPEG photos (3000 x 2000)
// reduced to 1/8 inside the decompressor, as the index window and the
// catalog pages load them, and 20 GIF and 20 BMP pictures (1500 x 1000)
// through the row readers. The pictures are made once, in a temporary
// directory, with smooth shapes and grain so they compress like photos.
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "image/loader.h"
#include "support/picture_files.h"

namespace {

using namespace zorvex;
using namespace zorvex::test;
namespace fs = std::filesystem;

struct TPictures {
    fs::path Dir;
    std::vector<std::string> Jpegs, Gifs, Bmps;
    TPictures() {
        Dir = fs::temp_directory_path() / ("zorvex-image-bench-" + std::to_string(::getpid()));
        fs::create_directories(Dir);
        for (int i = 0; i < 100; ++i) {
            Jpegs.push_back((Dir / ("photo" + std::to_string(i) + ".jpg")).string());
            WriteJpeg(Jpegs.back(), 3000, 2000, Photo(3000, 2000, static_cast<uint32_t>(i)));
        }
        for (int i = 0; i < 20; ++i) {
            std::vector<uint8_t> rgb = Photo(1500, 1000, static_cast<uint32_t>(100 + i));
            Gifs.push_back((Dir / ("picture" + std::to_string(i) + ".gif")).string());
            WriteGif(Gifs.back(), 1500, 1000, rgb);
            Bmps.push_back((Dir / ("picture" + std::to_string(i) + ".bmp")).string());
            WriteBmp(Bmps.back(), 1500, 1000, rgb);
        }
    }
    ~TPictures() { fs::remove_all(Dir); }
};

TPictures& Pictures() {
    static TPictures pictures;
    return pictures;
}

void Thumbnails(benchmark::State& bench, const std::vector<std::string>& files, int box) {
    for (auto _ : bench) {
        for (const std::string& file : files) {
            TPicture picture;
            int code = LoadPictureNow(file, box, box, LOAD_REDUCE, "",
                                      TPlainPicturesOnly::Instance(), picture);
            if (code != PIC_OK) {
                bench.SkipWithError(("cannot load " + file).c_str());
                return;
            }
            benchmark::DoNotOptimize(picture.Bitmap->Pixels.data());
        }
    }
    bench.SetItemsProcessed(static_cast<int64_t>(bench.iterations() * files.size()));
}

// A 400-pixel box takes the 3000 x 2000 photos to 1/8 (375 x 250).
void BM_JpegThumbnails(benchmark::State& bench) {
    Thumbnails(bench, Pictures().Jpegs, 400);
}
void BM_GifThumbnails(benchmark::State& bench) {
    Thumbnails(bench, Pictures().Gifs, 200);
}
void BM_BmpThumbnails(benchmark::State& bench) {
    Thumbnails(bench, Pictures().Bmps, 200);
}

BENCHMARK(BM_JpegThumbnails)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_GifThumbnails)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_BmpThumbnails)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
