// Paths of the built programs and scratch files for the tool tests.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

inline const std::string kTivctl = TIVCTL_PATH;
inline const std::string kTivsim = TIVSIM_PATH;

// A file in the test's own scratch folder, removed when it goes out of scope.
struct ScratchFile {
    explicit ScratchFile(const std::string& name)
        : path("/tmp/tivtools-test-" + std::to_string(getpid()) + "-" + name) {
        unlink(path.c_str());
    }
    ~ScratchFile() { unlink(path.c_str()); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    void write(const std::string& bytes) const { std::ofstream(path, std::ios::binary) << bytes; }
    std::string read() const {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::string path;
};

// An EEPROM image file: `size` bytes 0x40, 0x41, ... then the start address.
inline void write_image(const ScratchFile& file, uint32_t size, uint32_t start = 0x20) {
    std::string bytes;
    for (uint32_t i = 0; i < size; i++) bytes += (char)(0x40 + i % 64);
    for (int shift = 24; shift >= 0; shift -= 8) bytes += (char)(start >> shift);
    file.write(bytes);
}
