#pragma once

#include "crypto/detail/GostBlockCipher.h"

#include <cstddef>
#include <cstdint>

// CBC over runs of whole blocks, in place: the loops behind EncryptByte and DecryptByte. Each
// run function gives exactly the bytes that GostBlockCipher::EncryptBlock / DecryptBlock would
// give block by block; they differ only in speed. Internal: only the class and its tests use them.
namespace korvane::detail {

using SubKeys = GostBlockCipher::SubKeys;

// The two words of the ciphertext block before a run (both zero before the first block), as
// load_be32 reads them from the bytes (most significant byte first). A run leaves its own last
// ciphertext block here for the next run.
struct ChainWords {
    std::uint32_t c1 = 0;
    std::uint32_t c2 = 0;
};

// Encrypts `blockCount` blocks at `data`. CBC encryption is one chain, so this runs at the
// latency of the round function. On x86-64 with GCC or Clang the sign-dependent part of the
// round is written in assembly, because the compilers turn it into a branch that mispredicts on
// half the rounds; EncryptRunPortable is the same loop in plain C++ (the only one elsewhere).
void EncryptRun(const SubKeys& subKeys, std::uint8_t* data, std::size_t blockCount, ChainWords& chain) noexcept;
void EncryptRunPortable(const SubKeys& subKeys, std::uint8_t* data, std::size_t blockCount,
                        ChainWords& chain) noexcept;

// Decrypts `blockCount` blocks at `data`. The fastest of the variants below that this CPU runs.
void DecryptRun(const SubKeys& subKeys, std::uint8_t* data, std::size_t blockCount, ChainWords& chain) noexcept;

// One block after the other.
void DecryptRunSerial(const SubKeys& subKeys, std::uint8_t* data, std::size_t blockCount,
                      ChainWords& chain) noexcept;

// CBC decryption of one block needs only ciphertext, so kInterleave blocks go through the
// rounds side by side and their table lookups overlap; the rest of the run goes one by one.
inline constexpr std::size_t kInterleave = 6;
void DecryptRunInterleaved(const SubKeys& subKeys, std::uint8_t* data, std::size_t blockCount,
                           ChainWords& chain) noexcept;

// Sixteen blocks per 512-bit register, the 4-bit boxes looked up with byte permutes
// (AVX-512 F, BW and VBMI). Only where VbmiRunAvailable() is true: the CPU has the instructions
// and the build carries the code (x86-64, GCC or Clang); the blocks that do not fill a group
// of 16 go the interleaved way.
[[nodiscard]] bool VbmiRunAvailable() noexcept;
void DecryptRunVbmi(const SubKeys& subKeys, std::uint8_t* data, std::size_t blockCount, ChainWords& chain) noexcept;

} // namespace korvane::detail
