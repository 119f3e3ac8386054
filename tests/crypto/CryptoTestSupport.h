#pragma once

#include "crypto/clsCrypGost.h"
#include "crypto/detail/ByteOrder.h"
#include "crypto/detail/GostBlockCipher.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::test {

// "69 45 C8" -> {0x69, 0x45, 0xC8}; spaces are ignored.
inline std::vector<std::uint8_t> Bytes(std::string_view hex)
{
    std::vector<std::uint8_t> bytes;
    std::string digits;
    for (const char c : hex) {
        if (c != ' ') {
            digits += c;
        }
    }
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

inline std::vector<std::uint8_t> BytesOf(const std::string& text)
{
    return {text.begin(), text.end()};
}

// Known answers of the byte-array operations with both random words 0: the plain bytes, the
// layout they are framed in before encryption, and the bytes that come out. The rows under a
// key pin the order in which the rounds take the subkeys; every row was computed with the
// independent model in tests/interop/gost_reference.py.
struct KnownAnswer {
    const char* name;
    std::string key;   // empty: no key ever assigned
    std::vector<std::uint8_t> plain;
    std::vector<std::uint8_t> layout;
    std::vector<std::uint8_t> cipher;
};

inline const std::vector<KnownAnswer>& KnownAnswers()
{
    static const std::vector<KnownAnswer> answers{
        {"empty", "", {}, Bytes("00000000 00000000 00000000 00000000"),
         Bytes("69 45 C8 C5 BB 8D 0A D1 46 0C 66 EA 9A 3B 71 E7")},
        {"Hello", "", BytesOf("Hello"), Bytes("00000000 00000000 05000000 48656C6C 6F000000 00000000"),
         Bytes("69 45 C8 C5 BB 8D 0A D1 64 94 A4 5C 93 45 71 7A 24 DF 52 69 4E 87 76 82")},
        {"empty under a key", "chave secreta", {}, Bytes("00000000 00000000 00000000 00000000"),
         Bytes("2D 8A EF 1D 1F 6D 8F 3C 7C 50 3B 20 20 B0 58 E6")},
        {"Hello under a key", "chave secreta", BytesOf("Hello"), Bytes("00000000 00000000 05000000 48656C6C 6F000000 00000000"),
         Bytes("2D 8A EF 1D 1F 6D 8F 3C 8B 36 0F 72 04 99 4B 48 DA 2F CC 04 BD 23 2F CA")},
    };
    return answers;
}

// {0x69, 0xA0} -> "69A0": the text EncryptString gives for those bytes.
inline std::string HexText(const std::vector<std::uint8_t>& bytes)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (const std::uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

// A random-word source that yields `first`, `second`, `first`, ...
inline clsCrypGost::RandomWordSource FixedWords(std::uint32_t first = 0, std::uint32_t second = 0)
{
    return [first, second, n = 0]() mutable { return n++ % 2 == 0 ? first : second; };
}

// Records every Progress event of a cipher while it lives.
struct ProgressLog {
    explicit ProgressLog(clsCrypGost& cipher) : m_cipher(cipher)
    {
        m_cipher.Progress = [this](std::int32_t& percent) { events.push_back(percent); };
    }
    ~ProgressLog() { m_cipher.Progress = nullptr; }
    ProgressLog(const ProgressLog&) = delete;
    ProgressLog& operator=(const ProgressLog&) = delete;

    std::vector<std::int32_t> events;

private:
    clsCrypGost& m_cipher;
};

// CBC with an all-zero IV straight over the block primitive, without the layout's framing:
// lets tests read the layout a ciphertext holds, or build layouts the class would never write.
inline std::vector<std::uint8_t> RawCbcDecrypt(const detail::GostBlockCipher& cipher, std::vector<std::uint8_t> bytes)
{
    std::uint32_t c1 = 0;
    std::uint32_t c2 = 0;
    for (std::size_t i = 0; i + 8 <= bytes.size(); i += 8) {
        const std::uint32_t l0 = detail::load_be32(&bytes[i]);
        const std::uint32_t r0 = detail::load_be32(&bytes[i + 4]);
        std::uint32_t l = l0;
        std::uint32_t r = r0;
        cipher.DecryptBlock(r, l);
        detail::store_be32(&bytes[i], l ^ c1);
        detail::store_be32(&bytes[i + 4], r ^ c2);
        c1 = l0;
        c2 = r0;
    }
    return bytes;
}

inline std::vector<std::uint8_t> RawCbcEncrypt(const detail::GostBlockCipher& cipher, std::vector<std::uint8_t> bytes)
{
    std::uint32_t c1 = 0;
    std::uint32_t c2 = 0;
    for (std::size_t i = 0; i + 8 <= bytes.size(); i += 8) {
        std::uint32_t l = detail::load_be32(&bytes[i]) ^ c1;
        std::uint32_t r = detail::load_be32(&bytes[i + 4]) ^ c2;
        cipher.EncryptBlock(l, r);
        detail::store_be32(&bytes[i], l);
        detail::store_be32(&bytes[i + 4], r);
        c1 = l;
        c2 = r;
    }
    return bytes;
}

// The 32 subkeys' worth of key text as the block primitive takes it.
inline void KeyBlockCipher(detail::GostBlockCipher& cipher, std::string_view key)
{
    cipher.SetKey(detail::MakeKeyBlock(key));
}

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir()
    {
        std::random_device device;
        m_path = std::filesystem::temp_directory_path()
            / ("korvane-crypto-test-" + std::to_string(device()) + std::to_string(device()));
        std::filesystem::create_directories(m_path);
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return m_path; }
    [[nodiscard]] std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

inline void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace korvane::test
