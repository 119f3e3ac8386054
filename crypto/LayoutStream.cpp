#include "crypto/detail/LayoutStream.h"

#include "crypto/clsCrypGost.h"
#include "crypto/detail/BlockRuns.h"
#include "crypto/detail/ByteOrder.h"
#include "crypto/detail/Layout.h"
#include "crypto/detail/SecureWipe.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace korvane::detail {
namespace {

static_assert(kStreamBufferSize % kBlockSize == 0 && kStreamBufferSize >= kMinLayoutLength);

// The stream's one buffer; what passed through it is wiped when it ends.
class StreamBuffer {
public:
    explicit StreamBuffer(std::uint64_t total)
        : m_bytes(static_cast<std::size_t>(std::min<std::uint64_t>(total, kStreamBufferSize)))
    {
    }
    ~StreamBuffer() { SecureWipe(m_bytes.data(), m_bytes.size()); }
    StreamBuffer(const StreamBuffer&) = delete;
    StreamBuffer& operator=(const StreamBuffer&) = delete;

    [[nodiscard]] std::uint8_t* data() noexcept { return m_bytes.data(); }
    [[nodiscard]] std::size_t size() const noexcept { return m_bytes.size(); }

private:
    std::vector<std::uint8_t> m_bytes;
};

} // namespace

void LayoutStream::Encrypt(clsCrypGost& cipher, StreamEnds& ends, std::uint64_t dataLength, std::string_view Key)
{
    // Capped so that the length of a file too long for the layout cannot wrap around.
    const std::uint64_t t =
        EncryptedLength(static_cast<std::size_t>(std::min<std::uint64_t>(dataLength, kMaxDataLength + 1)));
    StreamBuffer buffer(t);
    std::uint8_t* const p = buffer.data();

    // The layout's bytes at [begin, end): the input bytes that fall there, zeros after them.
    const auto fill = [&](std::uint64_t begin, std::uint64_t end) {
        const std::uint64_t dataEnd = kDataOffset + dataLength;
        const std::uint64_t from = std::max<std::uint64_t>(begin, kDataOffset);
        const std::uint64_t to = std::min(end, dataEnd);
        if (to > from) {
            ends.Read(p + (from - begin), static_cast<std::size_t>(to - from));
        }
        const std::uint64_t zeros = std::clamp(dataEnd, from, end);
        std::memset(p + (zeros - begin), 0, static_cast<std::size_t>(end - zeros));
    };

    std::uint64_t pieceEnd = std::min<std::uint64_t>(t, buffer.size());
    fill(0, pieceEnd);

    if (!Key.empty()) {
        cipher.Key(Key);
    }
    if (dataLength > kMaxDataLength) {
        throw GostError::SubscriptOutOfRange();
    }
    const std::uint32_t word1 = cipher.m_randomWord() & kRandomWordMask;
    const std::uint32_t word2 = cipher.m_randomWord() & kRandomWordMask;
    store_le32(p + kRandomWord1Offset, word1);
    store_le32(p + kRandomWord2Offset, word2);
    store_le32(p + kSizeDescriptorOffset, static_cast<std::uint32_t>(dataLength));
    ends.OpenOutput();

    ProgressReporter progress(cipher.Progress, static_cast<std::size_t>(t));
    ChainWords chain;
    for (std::uint64_t pieceBegin = 0; pieceBegin < t;) {
        if (pieceBegin > 0) {
            pieceEnd = std::min<std::uint64_t>(t, pieceBegin + buffer.size());
            fill(pieceBegin, pieceEnd);
        }
        // Runs from one progress report to the next, cut at the piece's end: the events are
        // those of EncryptByte on the whole layout.
        for (std::size_t i = static_cast<std::size_t>(pieceBegin); i < pieceEnd;) {
            const std::size_t end = std::min<std::size_t>(progress.RunEnd(i), static_cast<std::size_t>(pieceEnd));
            EncryptRun(cipher.m_cipher.SubKey(), p + (i - pieceBegin), (end - i) / kBlockSize, chain);
            i = end;
            progress.Step(end - kBlockSize);
        }
        if (pieceEnd == t) {
            progress.Finish();
        }
        ends.Write(p, static_cast<std::size_t>(pieceEnd - pieceBegin));
        pieceBegin = pieceEnd;
    }
}

void LayoutStream::Decrypt(clsCrypGost& cipher, StreamEnds& ends, std::uint64_t layoutLength, std::string_view Key)
{
    const std::uint64_t t = layoutLength;
    // No layout is shorter than two blocks, not even the empty data's.
    if (t < kMinLayoutLength) {
        throw GostError::IncorrectSizeDescriptor();
    }
    StreamBuffer buffer(t);
    std::uint8_t* const p = buffer.data();
    std::uint64_t pieceEnd = std::min<std::uint64_t>(t, buffer.size());
    ends.Read(p, static_cast<std::size_t>(pieceEnd));

    if (!Key.empty()) {
        cipher.Key(Key);
    }
    if (t % kBlockSize != 0 || t > kMaxLayoutLength) {
        throw GostError::IncorrectSizeDescriptor();
    }

    // The size descriptor sits in the second block: decrypt the first two aside and refuse a
    // wrong key or damaged data before anything is written.
    std::int32_t n = 0;
    {
        std::uint32_t l0 = load_be32(p);
        std::uint32_t r0 = load_be32(p + 4);
        cipher.m_cipher.DecryptBlock(r0, l0);
        std::uint32_t l1 = load_be32(p + 8);
        std::uint32_t r1 = load_be32(p + 12);
        cipher.m_cipher.DecryptBlock(r1, l1);
        l1 ^= load_be32(p);
        std::uint8_t descriptor[4];
        store_be32(descriptor, l1);
        n = static_cast<std::int32_t>(load_le32(descriptor));
    }
    if (!SizeDescriptorFits(static_cast<std::size_t>(t), n)) {
        throw GostError::IncorrectSizeDescriptor();
    }
    ends.OpenOutput();

    const std::uint64_t dataEnd = kDataOffset + static_cast<std::uint64_t>(n);
    ProgressReporter progress(cipher.Progress, static_cast<std::size_t>(t));
    ChainWords chain;
    for (std::uint64_t pieceBegin = 0; pieceBegin < t;) {
        if (pieceBegin > 0) {
            pieceEnd = std::min<std::uint64_t>(t, pieceBegin + buffer.size());
            ends.Read(p, static_cast<std::size_t>(pieceEnd - pieceBegin));
        }
        for (std::size_t i = static_cast<std::size_t>(pieceBegin); i < pieceEnd;) {
            const std::size_t end = std::min<std::size_t>(progress.RunEnd(i), static_cast<std::size_t>(pieceEnd));
            DecryptRun(cipher.m_cipher.SubKey(), p + (i - pieceBegin), (end - i) / kBlockSize, chain);
            i = end;
            progress.Step(end - kBlockSize);
        }
        if (pieceEnd == t) {
            progress.Finish();
        }
        // The data bytes in this piece: the random block, the descriptor and the padding stay out.
        const std::uint64_t from = std::max<std::uint64_t>(pieceBegin, kDataOffset);
        const std::uint64_t to = std::min(pieceEnd, dataEnd);
        if (to > from) {
            ends.Write(p + (from - pieceBegin), static_cast<std::size_t>(to - from));
        }
        pieceBegin = pieceEnd;
    }
}

} // namespace korvane::detail
