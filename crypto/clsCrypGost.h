#pragma once

#include "crypto/GostError.h"
#include "crypto/detail/GostBlockCipher.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

namespace detail {
struct LayoutStream;
}

// A 64-bit block cipher with the structure of GOST 28147-89, in CBC over a layout of its own,
// with operations on byte arrays, strings (optionally as hex text) and whole files.
//
// Decisions a reader must know:
// - S-boxes: the eight fixed 4-bit boxes in detail::kSBox, S0 on the lowest nibble of the
//   substituted word and S7 on the highest, merged pairwise into four byte tables.
// - The round function splits the round sum into bytes by signed division toward zero and
//   substitutes them in reversed byte order, so its output is not interchangeable with standard
//   GOST 28147-89 output, even with the same boxes and key.
// - Byte orders: data words are read and written most significant byte first; subkeys, the size
//   descriptor and the random words least significant byte first.
// - Encrypted layout: random word 1, random word 2 (each 0..2^31-1, from the operating system's
//   entropy source), the data length N as a signed 32-bit integer, the N data bytes, zeros up to
//   a multiple of 8 bytes; all of it encrypted in CBC with an all-zero IV. The random block makes
//   two encryptions of the same data differ.
// - CBC without a MAC does not detect tampering: only the size descriptor is checked, so a wrong
//   key or damage there is almost always noticed, while damage to data blocks decrypts silently
//   to different bytes.
// - Strings are single-byte Windows-1252 text, one byte per char; Utf8ToWindows1252 and
//   Windows1252ToUtf8 (Windows1252.h) convert for front ends.
// - Speed: the byte split of the round is branch-free; decryption, which CBC lets run block by
//   block independently, interleaves blocks, or takes 16 per register on CPUs with AVX-512 VBMI
//   (chosen at run time). Every path gives the same bytes (detail/BlockRuns.h). Files stream
//   through one buffer of a fixed size (detail/LayoutStream.h), so their memory does not grow
//   with them.
// - The key is write-only. Its text and subkeys are wiped when replaced and when the object ends.
//
// An instance serves one caller at a time; separate instances share nothing.
class clsCrypGost {
public:
    // Yields one 32-bit word per call; only the low 31 bits are used.
    using RandomWordSource = std::function<std::uint32_t()>;

    // Draws the random words from the operating system's entropy source.
    clsCrypGost();
    // Draws them from `RandomWord` instead, e.g. a fixed source for reproducible output.
    explicit clsCrypGost(RandomWordSource RandomWord);
    ~clsCrypGost();

    clsCrypGost(const clsCrypGost&) = delete;
    clsCrypGost& operator=(const clsCrypGost&) = delete;

    // Encrypts the whole of InFile into OutFile; true when OutFile was written. False, with
    // nothing written, when InFile cannot be read, when OutFile exists and Overwrite is false,
    // when OutFile is a folder, FIFO, socket or device, or on any failure of the work;
    // EncryptFileWithReason (GostFiles.h) tells which. The file streams through one buffer of
    // kFileBufferSize, whatever its size. OutFile is replaced only by a complete file, never
    // deleted first, the way QSaveFile replaces it (GostFiles.h); InFile and OutFile may be the
    // same path. An empty InFile gives the 16-byte layout. Never throws.
    bool EncryptFile(const std::filesystem::path& InFile, const std::filesystem::path& OutFile,
                     bool Overwrite, std::string_view Key = {}) noexcept;
    // As EncryptFile, decrypting. A file shorter than 16 bytes holds no encrypted layout and is
    // refused without assigning Key; so is a wrong key. Either way OutFile stays as it was.
    bool DecryptFile(const std::filesystem::path& InFile, const std::filesystem::path& OutFile,
                     bool Overwrite, std::string_view Key = {}) noexcept;

    // The decrypted text of Text, which is encrypted bytes or, with IsTextInHex, their hex text
    // form; in that case Text is replaced by its decoded bytes first. The empty Text gives the
    // empty string at once, without assigning Key. Throws what DecryptByte throws.
    std::string DecryptString(std::string& Text, std::string_view Key = {}, bool IsTextInHex = false);
    // The encrypted layout of Text as a byte string, or as hex text with OutputInHex.
    // Throws what EncryptByte throws.
    std::string EncryptString(std::string_view Text, std::string_view Key = {},
                              bool OutputInHex = false);

    // Replaces byteArray by its encrypted layout (N + 12 rounded up to a multiple of 8 bytes).
    // A non-empty Key is assigned first and stays in force. Throws GostError 11 from Key,
    // GostError 9 when the layout would exceed 2^31 - 1 bytes (byteArray unchanged), and
    // std::system_error when the entropy source fails.
    void EncryptByte(std::vector<std::uint8_t>& byteArray, std::string_view Key = {});
    // Replaces an encrypted layout by its data bytes. A non-empty Key is assigned first and stays
    // in force. The empty array is left as it is, without events. Throws GostError -2147221504
    // ("Incorrect size descriptor in Gost decryption") when byteArray is no encrypted layout
    // under the key in force (length not a multiple of 8, shorter than 16, or a size descriptor
    // that does not fit the length); byteArray is then exactly as it was and no event was raised.
    void DecryptByte(std::vector<std::uint8_t>& byteArray, std::string_view Key = {});

    // Write-only: derives the subkeys from New_Value. The key in force again changes nothing;
    // the empty text on an instance that never had a key changes nothing. The empty text after a
    // non-empty one throws GostError 11 and keeps the key in force.
    void Key(std::string_view New_Value);

    // Raised synchronously by EncryptByte and DecryptByte (and the operations built on them): 0
    // for the first block, then at most once per whole percent, then 100 at the end of a
    // complete run unless the handler itself wrote 100 into Percent. At most 101 calls.
    std::function<void(std::int32_t& Percent)> Progress;

private:
    // EncryptByte and DecryptByte over a stream, for the file operations (detail/LayoutStream.h).
    friend struct detail::LayoutStream;

    RandomWordSource m_randomWord;
    std::string KeyText;
    detail::GostBlockCipher m_cipher;
};

} // namespace korvane
