#pragma once

#include "tests/fuzz/FuzzCheck.h"

#include "crypto/detail/ByteOrder.h"
#include "crypto/detail/GostBlockCipher.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What the cipher targets share: the reading of their common input shape, and the cipher's
// layout worked out from the block primitive alone, so a target can tell what the class must
// answer for any bytes.
namespace korvane::fuzz {

using Bytes = std::vector<std::uint8_t>;

// The front of an input: one byte giving the key's length (cut to what is there), then the key.
struct Split {
    std::string key;
    std::string_view rest;
};

inline Split SplitKey(std::string_view input)
{
    if (input.empty()) {
        return {};
    }
    const std::size_t length = std::min<std::size_t>(static_cast<unsigned char>(input[0]), input.size() - 1);
    return {std::string(input.substr(1, length)), input.substr(1 + length)};
}

// The block primitive under the subkeys a key text gives: its bytes repeated to 32, four to a
// subkey, least significant first. The empty key leaves the subkeys at zero, as on an instance
// that never had a key.
class KeyedBlockCipher {
public:
    explicit KeyedBlockCipher(std::string_view key)
    {
        if (key.empty()) {
            return;
        }
        detail::KeyBlock block{};
        for (std::size_t i = 0; i < block.size(); ++i) {
            block[i] = static_cast<std::uint8_t>(key[i % key.size()]);
        }
        m_cipher.SetKey(block);
    }

    // CBC with an all-zero IV over every whole block; a trailing part block is left as it is.
    [[nodiscard]] Bytes DecryptBlocks(Bytes bytes) const
    {
        std::uint32_t c1 = 0;
        std::uint32_t c2 = 0;
        for (std::size_t i = 0; i + detail::kBlockSize <= bytes.size(); i += detail::kBlockSize) {
            const std::uint32_t cipherL = detail::load_be32(&bytes[i]);
            const std::uint32_t cipherR = detail::load_be32(&bytes[i + 4]);
            std::uint32_t l = cipherL;
            std::uint32_t r = cipherR;
            m_cipher.DecryptBlock(r, l);
            detail::store_be32(&bytes[i], l ^ c1);
            detail::store_be32(&bytes[i + 4], r ^ c2);
            c1 = cipherL;
            c2 = cipherR;
        }
        return bytes;
    }

private:
    detail::GostBlockCipher m_cipher;
};

// What the decrypted layout of `plain` (a whole number of blocks) holds.
struct Layout {
    bool valid = false;   // at least 16 bytes, whole blocks, and a size descriptor that fits
    std::uint32_t randomWord1 = 0;
    std::uint32_t randomWord2 = 0;
    std::int32_t dataLength = 0;
    Bytes data;
    bool paddingIsZero = false;
};

inline Layout ReadLayout(const Bytes& plain)
{
    Layout layout;
    if (plain.size() < 16 || plain.size() % 8 != 0) {
        return layout;
    }
    layout.randomWord1 = detail::load_le32(&plain[0]);
    layout.randomWord2 = detail::load_le32(&plain[4]);
    layout.dataLength = static_cast<std::int32_t>(detail::load_le32(&plain[8]));
    const auto slack = static_cast<std::int64_t>(plain.size()) - layout.dataLength;
    if (layout.dataLength < 0 || slack < 12 || slack > 19) {
        return layout;
    }
    layout.valid = true;
    const auto end = plain.begin() + 12 + layout.dataLength;
    layout.data.assign(plain.begin() + 12, end);
    layout.paddingIsZero = std::all_of(end, plain.end(), [](std::uint8_t b) { return b == 0; });
    return layout;
}

// The layout the class must build for `data` before encrypting it.
inline Bytes PlainLayout(const Bytes& data, std::uint32_t randomWord1, std::uint32_t randomWord2)
{
    const std::size_t total = (data.size() + 12 + 7) / 8 * 8;
    Bytes plain(total, 0);
    detail::store_le32(&plain[0], randomWord1 & 0x7FFFFFFF);
    detail::store_le32(&plain[4], randomWord2 & 0x7FFFFFFF);
    detail::store_le32(&plain[8], static_cast<std::uint32_t>(data.size()));
    std::copy(data.begin(), data.end(), plain.begin() + 12);
    return plain;
}

// The Progress events of one complete run: 0 first, then rising, 100 last, at most 101.
inline bool IsCompleteProgress(const std::vector<std::int32_t>& events)
{
    if (events.size() < 2 || events.size() > 101 || events.front() != 0 || events.back() != 100) {
        return false;
    }
    for (std::size_t i = 1; i < events.size(); ++i) {
        if (events[i] <= events[i - 1]) {
            return false;
        }
    }
    return true;
}

// The hex text form as the class must read it: each pair read from the left up to its first
// character that is no hexadecimal digit (none gives 0); an odd last character read alone.
inline std::string DecodeHex(std::string_view text)
{
    const auto digit = [](char c) -> int {
        const std::string_view digits = "0123456789abcdef";
        const char lower = (c >= 'A' && c <= 'F') ? static_cast<char>(c - 'A' + 'a') : c;
        const std::size_t at = digits.find(lower);
        return at == std::string_view::npos ? -1 : static_cast<int>(at);
    };
    std::string out;
    for (std::size_t p = 0; p < text.size(); p += 2) {
        int value = 0;
        const int high = digit(text[p]);
        if (high >= 0) {
            value = high;
            if (p + 1 < text.size()) {
                const int low = digit(text[p + 1]);
                if (low >= 0) {
                    value = high * 16 + low;
                }
            }
        }
        out += static_cast<char>(value);
    }
    return out;
}

inline std::string UpperHex(std::string_view bytes)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    return hex;
}

inline Bytes ToBytes(std::string_view text) { return {text.begin(), text.end()}; }
inline std::string ToString(const Bytes& bytes) { return {bytes.begin(), bytes.end()}; }

} // namespace korvane::fuzz
