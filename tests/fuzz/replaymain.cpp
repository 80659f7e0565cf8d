// Runs a fuzz target over files without libFuzzer: every file named on the command line
// and every file in every directory named (in name order, recursively). The tests use it
// to replay the inputs that once made a target fail, and the seed corpus, in the ordinary
// sanitizer build.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

int main(int argc, char **argv)
{
    namespace fs = std::filesystem;
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);

    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path path(argv[i]);
        std::error_code error;
        if (fs::is_directory(path, error)) {
            for (const auto &entry : fs::recursive_directory_iterator(path))
                if (entry.is_regular_file() && entry.path().filename().string().front() != '.')
                    inputs.push_back(entry.path());
        } else if (fs::is_regular_file(path, error)) {
            inputs.push_back(path);
        } else {
            std::fprintf(stderr, "no such file or directory: %s\n", argv[i]);
            return 2;
        }
    }
    std::sort(inputs.begin(), inputs.end());

    for (const fs::path &path : inputs) {
        std::ifstream in(path, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::fprintf(stderr, "%s (%zu bytes)\n", path.c_str(), bytes.size());
        // A copy of exactly the input's size, so that reading past it is caught.
        std::vector<uint8_t> data(bytes.begin(), bytes.end());
        uint8_t *start = data.empty() ? nullptr : data.data();
        LLVMFuzzerTestOneInput(start, data.size());
    }
    std::fprintf(stderr, "%zu inputs ran\n", inputs.size());
    return 0;
}
