// What the article-to-file driver costs on top of the decoder: 4 MiB of
// random bytes as yEnc article lines (128 characters), fed once through
// TArticleDriver::BodyLine (classification, state, naming, the file's log
// line) and once straight into TDecoder::DecodeLine, each into one file per
// iteration. The multipart case cuts the file into 8 articles. Reports
// decoded bytes per second; argument 0 writes to the disk (/tmp), 1 to
// memory (/dev/shm), where the engine's own cost shows.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "decode/driver.h"
#include "decode/ncdc.h"
#include "support/benchdir.h"
#include "support/driver_reports.h"
#include "support/encoders.h"

namespace {

using namespace zorvex;
using Lines = std::vector<std::string>;

constexpr size_t DATA_SIZE = 4u << 20;

const std::string& Data() {
    static const std::string data = test::Noise(DATA_SIZE, 12345);
    return data;
}

// The articles of one post: single-part when parts is 1.
std::vector<Lines> Articles(int parts) {
    std::vector<Lines> out;
    const std::string& data = Data();
    const size_t step = data.size() / static_cast<size_t>(parts);
    for (int p = 0; p < parts; ++p) {
        const size_t begin = static_cast<size_t>(p) * step;
        const size_t end = p + 1 == parts ? data.size() : begin + step;
        Lines body;
        std::string size = std::to_string(data.size());
        if (parts == 1) {
            body.push_back("=ybegin line=128 size=" + size + " name=" + test::BENCH_FILE_NAME);
        } else {
            body.push_back("=ybegin part=" + std::to_string(p + 1) + " line=128 size=" + size +
                           " name=" + test::BENCH_FILE_NAME);
            body.push_back("=ypart begin=" + std::to_string(begin + 1) +
                           " end=" + std::to_string(end));
        }
        for (auto& l : test::YencDataLines(std::string_view(data).substr(begin, end - begin)))
            body.push_back(std::move(l));
        body.push_back("=yend size=" + std::to_string(end - begin));
        out.push_back(std::move(body));
    }
    return out;
}

void Driver(benchmark::State& bench, int parts) {
    static const std::vector<Lines> single = Articles(1);
    static const std::vector<Lines> multi = Articles(8);
    const std::vector<Lines>& articles = parts == 1 ? single : multi;
    const std::string& dir = test::BenchOutDir(bench.range(0) != 0);

    // The program's defaults, one directory for every group, the file
    // overwritten by each iteration.
    TDriverOptions options;
    options.DownloadPath = dir;
    options.ViewerEnable = true;
    options.NoDataThresh = 512;
    options.CaseConvert = 1;
    test::TSilentReport report;
    TArticleDriver driver(report, TAcceptEverything::Instance());
    driver.SetOptions(options);
    TNewsStore news;
    TNewsGroup* group = news.AddGroup("alt.binaries.bench");
    std::vector<THeader*> headers;
    for (size_t i = 0; i < articles.size(); ++i) {
        THeader* h = news.FindOrAddHeader(group, static_cast<TArticleNo>(i + 1));
        h->Subject = news.Intern("bench");
        h->Poster = h->Subject;
        if (!headers.empty()) headers.back()->PosterNext = h;
        headers.push_back(h);
    }

    int64_t written = 0;
    for (auto _ : bench) {
        for (size_t a = 0; a < articles.size(); ++a) {
            driver.ArticleStart(group, headers[a], "<bench@x>");
            driver.HeaderEnd();
            int n = 0;
            for (const std::string& line : articles[a]) driver.BodyLine(line, ++n);
            driver.ArticleEnd();
        }
        if (driver.Received().empty() || driver.Received().back().Result != RESULT_RECEIVED) {
            bench.SkipWithError("the file was not received");
            return;
        }
        written += driver.Received().back().Size;
    }
    if (written != static_cast<int64_t>(bench.iterations() * DATA_SIZE))
        bench.SkipWithError("the file has the wrong length");
    bench.SetBytesProcessed(written);
    bench.SetLabel(bench.range(0) ? "tmpfs" : "disk");
}

void DecoderAlone(benchmark::State& bench) {
    static const std::vector<Lines> single = Articles(1);
    const Lines& lines = single[0];
    const std::string& dir = test::BenchOutDir(bench.range(0) != 0);
    TDecoder decoder;
    int64_t written = 0;
    for (auto _ : bench) {
        if (!decoder.BeginUuFile(dir, test::BENCH_FILE_NAME, false)) {
            bench.SkipWithError("cannot open the output file");
            return;
        }
        decoder.SetDecodeMode(MODE_YENC);
        for (size_t i = 1; i < lines.size(); ++i) decoder.DecodeLine(lines[i]);
        written += decoder.EndFile();
    }
    if (written != static_cast<int64_t>(bench.iterations() * DATA_SIZE))
        bench.SkipWithError("the file has the wrong length");
    bench.SetBytesProcessed(written);
    bench.SetLabel(bench.range(0) ? "tmpfs" : "disk");
}

void BM_DecoderAlone(benchmark::State& bench) {
    DecoderAlone(bench);
}
void BM_DriverSinglePart(benchmark::State& bench) {
    Driver(bench, 1);
}
void BM_DriverEightParts(benchmark::State& bench) {
    Driver(bench, 8);
}

BENCHMARK(BM_DecoderAlone)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DriverSinglePart)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DriverEightParts)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
