// Runs a fuzz target over files and folders of inputs without libFuzzer, so
// the seed corpus and every finding kept as a regression input are checked in
// the ordinary test builds (with the sanitizers where those are on).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace fs = std::filesystem;

static void run_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
}

int main(int argc, char** argv) {
    LLVMFuzzerInitialize(&argc, &argv);
    size_t inputs = 0;
    for (int i = 1; i < argc; i++) {
        fs::path arg(argv[i]);
        std::vector<fs::path> files;
        if (fs::is_directory(arg)) {
            for (const auto& entry : fs::directory_iterator(arg))
                if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') files.push_back(entry.path());
        } else if (fs::exists(arg)) {
            files.push_back(arg);
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            run_file(file);
            inputs++;
        }
    }
    printf("%zu inputs passed\n", inputs);
    return inputs > 0 ? 0 : 1;
}
