#include "crypto/clsCrypGost.h"

#include "crypto/GostFiles.h"
#include "crypto/detail/BlockRuns.h"
#include "crypto/detail/ByteOrder.h"
#include "crypto/detail/HexText.h"
#include "crypto/detail/Layout.h"
#include "crypto/detail/Platform.h"
#include "crypto/detail/SecureWipe.h"

#include <cstring>
#include <utility>

namespace korvane {
namespace {

using detail::kBlockSize;
using detail::load_be32;
using detail::load_le32;
using detail::store_be32;
using detail::store_le32;

void WipeString(std::string& s) noexcept { detail::SecureWipe(s.data(), s.size()); }

std::vector<std::uint8_t> ToBytes(std::string_view text)
{
    return {text.begin(), text.end()};
}

std::string ToString(const std::vector<std::uint8_t>& bytes)
{
    return {bytes.begin(), bytes.end()};
}

} // namespace

clsCrypGost::clsCrypGost() : clsCrypGost(detail::OsRandomWord) {}

clsCrypGost::clsCrypGost(RandomWordSource RandomWord) : m_randomWord(std::move(RandomWord)) {}

clsCrypGost::~clsCrypGost() { WipeString(KeyText); }

void clsCrypGost::Key(std::string_view New_Value)
{
    if (New_Value == KeyText) {
        return;
    }
    // Everything that can fail comes before the first change, so a failure keeps the key in force.
    std::string newText(New_Value);
    detail::KeyBlock block = detail::MakeKeyBlock(New_Value);
    m_cipher.SetKey(block);
    detail::SecureWipe(block.data(), block.size());
    WipeString(KeyText);
    KeyText.swap(newText);
}

void clsCrypGost::EncryptByte(std::vector<std::uint8_t>& byteArray, std::string_view Key)
{
    if (!Key.empty()) {
        this->Key(Key);
    }
    const std::size_t n = byteArray.size();
    if (n > detail::kMaxDataLength) {
        throw GostError::SubscriptOutOfRange();
    }
    const std::size_t t = detail::EncryptedLength(n);
    const std::uint32_t word1 = m_randomWord() & detail::kRandomWordMask;
    const std::uint32_t word2 = m_randomWord() & detail::kRandomWordMask;

    // Grown once, to its final length, with the data copied once: in place when the capacity is
    // there, else straight to its offset in new storage.
    if (byteArray.capacity() >= t) {
        byteArray.resize(t);
        std::memmove(byteArray.data() + detail::kDataOffset, byteArray.data(), n);
    } else {
        std::vector<std::uint8_t> grown;
        grown.reserve(t);
        grown.resize(detail::kDataOffset);
        grown.insert(grown.end(), byteArray.begin(), byteArray.end());
        grown.resize(t);
        byteArray.swap(grown);
    }
    std::uint8_t* const p = byteArray.data();
    store_le32(p + detail::kRandomWord1Offset, word1);
    store_le32(p + detail::kRandomWord2Offset, word2);
    store_le32(p + detail::kSizeDescriptorOffset, static_cast<std::uint32_t>(n));
    // The bytes from 12 + N on are the zeros resize() appended: the copy writes only below them.

    // The blocks go in runs from one progress report to the next: the handler still runs
    // between two blocks, after the last one it reports was written and before the next is read.
    detail::ProgressReporter progress(Progress, t);
    detail::ChainWords chain;
    for (std::size_t i = 0; i < t;) {
        const std::size_t end = progress.RunEnd(i);
        detail::EncryptRun(m_cipher.SubKey(), p + i, (end - i) / kBlockSize, chain);
        i = end;
        progress.Step(end - kBlockSize);
    }
    progress.Finish();
}

void clsCrypGost::DecryptByte(std::vector<std::uint8_t>& byteArray, std::string_view Key)
{
    if (!Key.empty()) {
        this->Key(Key);
    }
    const std::size_t t = byteArray.size();
    if (t == 0) {
        return;
    }
    if (t % kBlockSize != 0 || t < detail::kMinLayoutLength) {
        throw GostError::IncorrectSizeDescriptor();
    }
    std::uint8_t* const p = byteArray.data();

    // The size descriptor sits in the second block: decrypt the first two aside and refuse a
    // wrong key or damaged data before the caller's bytes change.
    std::int32_t n = 0;
    {
        std::uint32_t l0 = load_be32(p);
        std::uint32_t r0 = load_be32(p + 4);
        m_cipher.DecryptBlock(r0, l0);
        std::uint32_t l1 = load_be32(p + 8);
        std::uint32_t r1 = load_be32(p + 12);
        m_cipher.DecryptBlock(r1, l1);
        l1 ^= load_be32(p);
        std::uint8_t descriptor[4];
        store_be32(descriptor, l1);
        n = static_cast<std::int32_t>(load_le32(descriptor));
    }
    if (!detail::SizeDescriptorFits(t, n)) {
        throw GostError::IncorrectSizeDescriptor();
    }

    detail::ProgressReporter progress(Progress, t);
    detail::ChainWords chain;
    for (std::size_t i = 0; i < t;) {
        const std::size_t end = progress.RunEnd(i);
        detail::DecryptRun(m_cipher.SubKey(), p + i, (end - i) / kBlockSize, chain);
        i = end;
        progress.Step(end - kBlockSize);
    }
    const auto dataLength = static_cast<std::size_t>(n);
    std::memmove(p, p + detail::kDataOffset, dataLength);
    byteArray.resize(dataLength);
    progress.Finish();
}

std::string clsCrypGost::EncryptString(std::string_view Text, std::string_view Key, bool OutputInHex)
{
    std::vector<std::uint8_t> bytes = ToBytes(Text);
    EncryptByte(bytes, Key);
    std::string encrypted = ToString(bytes);
    return OutputInHex ? detail::StringToHex(encrypted) : encrypted;
}

std::string clsCrypGost::DecryptString(std::string& Text, std::string_view Key, bool IsTextInHex)
{
    if (Text.empty()) {
        return {};
    }
    if (IsTextInHex) {
        Text = detail::HexToString(Text);
    }
    std::vector<std::uint8_t> bytes = ToBytes(Text);
    DecryptByte(bytes, Key);
    return ToString(bytes);
}

bool clsCrypGost::EncryptFile(const std::filesystem::path& InFile, const std::filesystem::path& OutFile,
                              bool Overwrite, std::string_view Key) noexcept
{
    return EncryptFileWithReason(*this, InFile, OutFile, Overwrite, Key).Written();
}

bool clsCrypGost::DecryptFile(const std::filesystem::path& InFile, const std::filesystem::path& OutFile,
                              bool Overwrite, std::string_view Key) noexcept
{
    return DecryptFileWithReason(*this, InFile, OutFile, Overwrite, Key).Written();
}

} // namespace korvane
