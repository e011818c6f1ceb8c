// Replays inputs through a fuzz harness without libFuzzer: every file of the folders or files given on the
// command line, then a fixed set of generated inputs, so an ordinary build exercises each harness.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// A harness whose runs are costly may ask for fewer random inputs than the default.
extern "C" __attribute__((weak)) int VpReplayGeneratedInputs();

namespace {

void RunFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
    size_t files = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path p(argv[i]);
        std::error_code ec;
        if (std::filesystem::is_directory(p, ec)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(p)) {
                if (entry.is_regular_file()) {
                    RunFile(entry.path());
                    ++files;
                }
            }
        } else if (std::filesystem::is_regular_file(p, ec)) {
            RunFile(p);
            ++files;
        }
    }
    // Generated inputs: empty, every single byte, and random blobs of many lengths.
    LLVMFuzzerTestOneInput(nullptr, 0);
    for (int b = 0; b < 256; ++b) {
        uint8_t byte = static_cast<uint8_t>(b);
        LLVMFuzzerTestOneInput(&byte, 1);
    }
    const int blobs = VpReplayGeneratedInputs != nullptr ? VpReplayGeneratedInputs() : 2000;
    std::mt19937 rng(20261208);
    std::vector<uint8_t> blob;
    for (int n = 0; n < blobs; ++n) {
        blob.resize(rng() % 4096);
        for (auto& c : blob)
            c = static_cast<uint8_t>(rng());
        LLVMFuzzerTestOneInput(blob.data(), blob.size());
    }
    std::printf("replayed %zu files and %d generated inputs\n", files, 257 + blobs);
    return 0;
}
