// SHA-256 (FIPS 180-4), incremental, so the simulator can checksum a file
// while it streams in without keeping it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace printersim {

class Sha256 {
public:
    Sha256();
    void update(std::span<const std::uint8_t> data);
    // The digest of everything given so far; the object must not be updated afterwards.
    std::array<std::uint8_t, 32> finish();

    // Lower-case hexadecimal digest of `data` in one go.
    static std::string hexOf(std::span<const std::uint8_t> data);
    static std::string toHex(const std::array<std::uint8_t, 32>& digest);

private:
    void compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> pending_{};
    std::size_t pendingSize_ = 0;
    std::uint64_t totalBytes_ = 0;
};

}  // namespace printersim
