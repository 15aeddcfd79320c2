// Runs a libFuzzer entry point where clang's libFuzzer is not built in, so
// the fuzz targets also run as ordinary tests: first over every file of the
// stored corpus folders given (the inputs that once found a fault, and the
// seeds), then over seeded random inputs.
//   fuzz_x RUNS [CORPUS_FOLDER...]
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// Optional, as in libFuzzer: set-up run once before the first input.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

long runCorpus(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.is_regular_file())
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<uint8_t> input{std::istreambuf_iterator<char>(in), {}};
        std::printf("%s\n", file.filename().c_str());
        std::fflush(stdout);
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    return long(files.size());
}

} // namespace

int main(int argc, char* argv[]) {
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    const long runs = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 10000;
    long stored = 0;
    for (int i = 2; i < argc; ++i)
        stored += runCorpus(argv[i]);

    std::mt19937 rng(20261208);
    std::uniform_int_distribution<int> length(0, 300);
    std::uniform_int_distribution<int> byte(0, 255);
    // Inputs drawn from a few bytes hit the parsers' special characters far
    // more often than uniform bytes do.
    const uint8_t interesting[] = {0x00, 0x0A, 0x0C, 0x0D, 0x1B, 0x20, '-', '+', '0', '9', 0xFF};
    std::uniform_int_distribution<int> pick(0, sizeof interesting - 1);
    std::vector<uint8_t> input;
    for (long run = 0; run < runs; ++run) {
        input.resize(length(rng));
        const bool biased = run % 2 == 1;
        for (auto& b : input)
            b = biased ? interesting[pick(rng)] : static_cast<uint8_t>(byte(rng));
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%ld stored and %ld random inputs run\n", stored, runs);
    return 0;
}
