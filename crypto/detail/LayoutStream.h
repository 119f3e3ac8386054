#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace korvane {
class clsCrypGost;
}

// EncryptByte and DecryptByte over a stream instead of an array in memory, for the file
// operations: the same layout, Progress events, key assignment and failures, with the bytes
// passing through one buffer of at most kStreamBufferSize, reused, whatever their number.
namespace korvane::detail {

// A multiple of the block size. Big enough that reads and writes cost little per byte; small
// enough to stay near the CPU's caches between reading, ciphering and writing.
inline constexpr std::size_t kStreamBufferSize = std::size_t{1} << 20;

// Where a stream's bytes come from and go to. What these throw passes through the stream.
class StreamEnds {
public:
    // The next `size` input bytes, in order; the stream asks for exactly its input length in all.
    virtual void Read(std::uint8_t* into, std::size_t size) = 0;
    // Once, before the first Write: the key is assigned and (decrypting) the layout found valid.
    virtual void OpenOutput() = 0;
    // The next output bytes, in order.
    virtual void Write(const std::uint8_t* data, std::size_t size) = 0;

protected:
    ~StreamEnds() = default;
};

struct LayoutStream {
    // EncryptByte on `dataLength` input bytes, writing the layout. Reads the first piece before it
    // assigns Key. Throws what EncryptByte throws, and what the ends throw.
    static void Encrypt(clsCrypGost& cipher, StreamEnds& ends, std::uint64_t dataLength, std::string_view Key);
    // DecryptByte on `layoutLength` input bytes, writing the data. Throws the size-descriptor
    // error, without assigning Key, for fewer than 16 bytes; otherwise reads the first piece,
    // assigns Key and throws it for a length that is no multiple of 8 or a size descriptor that
    // does not fit, before OpenOutput. Throws what the ends throw.
    static void Decrypt(clsCrypGost& cipher, StreamEnds& ends, std::uint64_t layoutLength, std::string_view Key);
};

} // namespace korvane::detail
