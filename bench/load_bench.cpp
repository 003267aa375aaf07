// Loading a full-flash image: 262,144 bytes as S-records (S2 records of 32
// data bytes, about 630 KB) and as packed records.
//
//   vantor_load_bench                       runs the benchmarks
//   vantor_load_bench --write-inputs DIR    only writes full.mot and full.qpf
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "image/load_image.h"
#include "image/record_writer.h"

namespace {

std::vector<std::uint8_t> FullImage() {
  std::vector<std::uint8_t> image(vantor::kLoadImageSize);
  std::mt19937 random(2215);
  for (std::uint8_t& b : image) b = static_cast<std::uint8_t>(random());
  return image;
}

bool WriteInputs(const std::filesystem::path& dir) {
  std::vector<std::uint8_t> image = FullImage();
  vantor::RecordWriterOptions options;
  options.data_bytes = 32;
  options.type = 2;
  options.skip_blank = false;
  const std::pair<const char*, std::string> files[] = {
      {"full.mot", vantor::FormatSRecords(image.data(), vantor::kLoadImageSize, options)},
      {"full.qpf", vantor::FormatPackedRecords(image.data(), vantor::kLoadImageSize, options)},
  };
  for (const auto& [name, bytes] : files) {
    std::FILE* f = std::fopen((dir / name).string().c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !ok) return false;
  }
  return true;
}

std::filesystem::path InputDir() {
  static const std::filesystem::path dir = [] {
    std::filesystem::path d = std::filesystem::temp_directory_path() /
                              ("vantor-bench-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(d);
    if (!WriteInputs(d)) std::fprintf(stderr, "cannot write the inputs into %s\n", d.c_str());
    return d;
  }();
  return dir;
}

void Load(benchmark::State& state, const char* name) {
  std::string path = (InputDir() / name).string();
  auto file_size = std::filesystem::file_size(path);
  for (auto _ : state) {
    vantor::ErrorCode rc =
        vantor::LoadFile(path.c_str(), vantor::LoadImage, vantor::kLoadImageSize);
    if (rc != vantor::kOk) {
      state.SkipWithError("the load failed");
      break;
    }
    benchmark::DoNotOptimize(vantor::LoadImage);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file_size));
}

void BM_LoadFullFlashSRecords(benchmark::State& state) {
  Load(state, "full.mot");
}
void BM_LoadFullFlashPackedRecords(benchmark::State& state) {
  Load(state, "full.qpf");
}

BENCHMARK(BM_LoadFullFlashSRecords)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadFullFlashPackedRecords)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--write-inputs") == 0) {
    return WriteInputs(argv[2]) ? 0 : 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(InputDir());
  return 0;
}
