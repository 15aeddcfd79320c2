// Runs a libFuzzer entry point on seeded random inputs, so that fuzz targets
// also run as ordinary tests where clang's libFuzzer is not available.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char* argv[]) {
    const long runs = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 10000;
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
    std::printf("%ld inputs run\n", runs);
    return 0;
}
