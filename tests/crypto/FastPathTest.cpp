#include "tests/crypto/CryptoTestSupport.h"

#include "crypto/clsCrypGost.h"
#include "crypto/detail/BlockRuns.h"
#include "crypto/detail/ByteOrder.h"
#include "crypto/detail/GostBlockCipher.h"
#include "crypto/detail/Layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <vector>

// Every way a run of blocks can be encrypted or decrypted gives the bytes of the block primitive
// applied block by block, and runs cut at progress thresholds leave events and array exactly as
// block-by-block processing would.
namespace korvane::detail {
namespace {

using ByteVector = std::vector<std::uint8_t>;
using RunFunction = void (*)(const SubKeys&, std::uint8_t*, std::size_t, ChainWords&) noexcept;

struct RunPath {
    const char* name;
    RunFunction run;
    bool (*available)();
};

// Test names and failure messages show the path by name.
void PrintTo(const RunPath& path, std::ostream* out) { *out << path.name; }

bool Always() { return true; }
bool Vbmi() { return VbmiRunAvailable(); }

const RunPath kEncryptPaths[] = {
    {"Dispatched", EncryptRun, Always},
    {"Portable", EncryptRunPortable, Always},
};

const RunPath kDecryptPaths[] = {
    {"Dispatched", DecryptRun, Always},
    {"Serial", DecryptRunSerial, Always},
    {"Interleaved", DecryptRunInterleaved, Always},
    {"Vbmi", DecryptRunVbmi, Vbmi},
};

class RunPathTest : public ::testing::TestWithParam<RunPath> {
protected:
    void SetUp() override
    {
        if (!GetParam().available()) {
            GTEST_SKIP() << "this CPU has no AVX-512 VBMI, or this build carries no AVX-512 code";
        }
    }

    void Run(const GostBlockCipher& cipher, ByteVector& bytes, std::size_t firstBlock, std::size_t blockCount,
             ChainWords& chain) const
    {
        GetParam().run(cipher.SubKey(), bytes.data() + kBlockSize * firstBlock, blockCount, chain);
    }
};

class EncryptPath : public RunPathTest {};
class DecryptPath : public RunPathTest {};

INSTANTIATE_TEST_SUITE_P(BlockRuns, EncryptPath, ::testing::ValuesIn(kEncryptPaths),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(BlockRuns, DecryptPath, ::testing::ValuesIn(kDecryptPaths),
                         [](const auto& info) { return std::string(info.param.name); });

ByteVector RandomBytes(std::mt19937& random, std::size_t size)
{
    ByteVector bytes(size);
    std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<std::uint8_t>(random()); });
    return bytes;
}

void RandomKey(std::mt19937& random, GostBlockCipher& cipher)
{
    KeyBlock block{};
    std::generate(block.begin(), block.end(), [&] { return static_cast<std::uint8_t>(random()); });
    cipher.SetKey(block);
}

// Block counts around the widths the runs work in: 6 interleaved, 16 per vector group, 4 groups.
std::vector<std::size_t> BlockCounts()
{
    std::vector<std::size_t> counts;
    for (std::size_t n = 0; n <= 70; ++n) {
        counts.push_back(n);
    }
    for (const std::size_t n : {95, 96, 97, 127, 128, 129, 191, 192, 193, 255, 256, 257, 1031}) {
        counts.push_back(n);
    }
    return counts;
}

// The cipher a known answer was made under: no key, or its key's subkeys.
void SetKnownAnswerKey(GostBlockCipher& cipher, const test::KnownAnswer& c)
{
    if (!c.key.empty())
        cipher.SetKey(MakeKeyBlock(c.key));
}

TEST_P(EncryptPath, KnownAnswers)
{
    for (const test::KnownAnswer& c : test::KnownAnswers()) {
        SCOPED_TRACE(c.name);
        GostBlockCipher cipher;
        SetKnownAnswerKey(cipher, c);
        ByteVector bytes = c.layout;
        ChainWords chain;
        Run(cipher, bytes, 0, bytes.size() / kBlockSize, chain);
        EXPECT_EQ(bytes, c.cipher);
    }
}

TEST_P(DecryptPath, KnownAnswers)
{
    for (const test::KnownAnswer& c : test::KnownAnswers()) {
        SCOPED_TRACE(c.name);
        GostBlockCipher cipher;
        SetKnownAnswerKey(cipher, c);
        ByteVector bytes = c.cipher;
        ChainWords chain;
        Run(cipher, bytes, 0, bytes.size() / kBlockSize, chain);
        EXPECT_EQ(bytes, c.layout);
    }
    const GostBlockCipher noKey;
    // A vector group's worth of the same known ciphertext, block after block: every lane and
    // every group of a run must chain to the block before it.
    const ByteVector cipher = test::RawCbcEncrypt(noKey, ByteVector(kBlockSize * 80, 0));
    ByteVector bytes = cipher;
    ChainWords chain;
    Run(noKey, bytes, 0, 80, chain);
    EXPECT_EQ(bytes, ByteVector(kBlockSize * 80, 0));
    const ByteVector& known = test::KnownAnswers().front().cipher;   // the empty array's, under no key
    EXPECT_EQ(ByteVector(cipher.begin(), cipher.begin() + 8), ByteVector(known.begin(), known.begin() + 8));
}

TEST_P(EncryptPath, MatchesTheBlockPrimitiveAtEveryLength)
{
    std::mt19937 random(1);
    GostBlockCipher cipher;
    for (const std::size_t blocks : BlockCounts()) {
        SCOPED_TRACE(::testing::Message() << blocks << " blocks");
        RandomKey(random, cipher);
        const ByteVector plain = RandomBytes(random, kBlockSize * blocks);
        ByteVector bytes = plain;
        ChainWords chain;
        Run(cipher, bytes, 0, blocks, chain);
        ASSERT_EQ(bytes, test::RawCbcEncrypt(cipher, plain));
    }
}

TEST_P(DecryptPath, MatchesTheBlockPrimitiveAtEveryLength)
{
    std::mt19937 random(2);
    GostBlockCipher cipher;
    for (const std::size_t blocks : BlockCounts()) {
        SCOPED_TRACE(::testing::Message() << blocks << " blocks");
        RandomKey(random, cipher);
        const ByteVector encrypted = RandomBytes(random, kBlockSize * blocks);
        ByteVector bytes = encrypted;
        ChainWords chain;
        Run(cipher, bytes, 0, blocks, chain);
        ASSERT_EQ(bytes, test::RawCbcDecrypt(cipher, encrypted));
    }
}

// Runs are cut wherever a progress report falls, so a run must take up the chain where the one
// before left it, whatever the cut.
TEST_P(EncryptPath, RunsCutAnywhereChainAsOne)
{
    std::mt19937 random(3);
    GostBlockCipher cipher;
    RandomKey(random, cipher);
    constexpr std::size_t kBlocks = 150;
    const ByteVector plain = RandomBytes(random, kBlockSize * kBlocks);
    const ByteVector expected = test::RawCbcEncrypt(cipher, plain);
    for (const std::size_t cut : {0, 1, 5, 6, 7, 15, 16, 17, 63, 64, 65, 100, 149, 150}) {
        SCOPED_TRACE(::testing::Message() << "cut after block " << cut);
        ByteVector bytes = plain;
        ChainWords chain;
        Run(cipher, bytes, 0, cut, chain);
        Run(cipher, bytes, cut, kBlocks - cut, chain);
        EXPECT_EQ(bytes, expected);
        EXPECT_EQ(chain.c1, load_be32(&expected[expected.size() - 8]));
        EXPECT_EQ(chain.c2, load_be32(&expected[expected.size() - 4]));
    }
}

TEST_P(DecryptPath, RunsCutAnywhereChainAsOne)
{
    std::mt19937 random(4);
    GostBlockCipher cipher;
    RandomKey(random, cipher);
    constexpr std::size_t kBlocks = 150;
    const ByteVector encrypted = RandomBytes(random, kBlockSize * kBlocks);
    const ByteVector expected = test::RawCbcDecrypt(cipher, encrypted);
    for (const std::size_t cut : {0, 1, 5, 6, 7, 15, 16, 17, 63, 64, 65, 100, 149, 150}) {
        SCOPED_TRACE(::testing::Message() << "cut after block " << cut);
        ByteVector bytes = encrypted;
        ChainWords chain;
        Run(cipher, bytes, 0, cut, chain);
        Run(cipher, bytes, cut, kBlocks - cut, chain);
        EXPECT_EQ(bytes, expected);
        // The chain left behind is the last ciphertext block, not the last plaintext.
        EXPECT_EQ(chain.c1, load_be32(&encrypted[encrypted.size() - 8]));
        EXPECT_EQ(chain.c2, load_be32(&encrypted[encrypted.size() - 4]));
    }
}

// Round sums where the signed split differs from the plain bytes, where a byte table is read
// past its last entry (a negative sum whose upper bytes are 0xFF wraps to entry 0), and where
// the low byte is zero (a negative sum's split then carries and encryption on x86-64 branches
// off; a sum >= 0 with a zero low byte stays on the tables).
const std::uint32_t kEdgeSums[] = {
    0x00000000, 0x00000001, 0x000000FF, 0x00000100, 0x00FFFF00, 0x7F000000, 0x7FFFFF00, 0x7FFFFFFF, 0x80000000, 0x80000001, 0x800000FF,
    0x80000100, 0x8000FF00, 0x8000FF01, 0x8000FFFF, 0x80010000, 0x80FF0000, 0x80FF0001, 0x80FFFF01,
    0x80FFFFFF, 0x81000000, 0xFEFFFF01, 0xFF000000, 0xFF000001, 0xFF00FF00, 0xFFFF0000, 0xFFFFFF00,
    0xFFFFFF01, 0xFFFFFFFE, 0xFFFFFFFF,
};

TEST_P(EncryptPath, FirstRoundSumsAtTheSignBoundary)
{
    std::mt19937 random(5);
    for (const bool keyed : {false, true}) {
        GostBlockCipher cipher;
        if (keyed) {
            RandomKey(random, cipher);
        }
        for (const std::uint32_t sum : kEdgeSums) {
            SCOPED_TRACE(::testing::Message() << std::hex << "sum 0x" << sum << (keyed ? " keyed" : " no key"));
            // The first round adds the first subkey to the block's first word.
            ByteVector plain(kBlockSize);
            store_be32(&plain[0], sum - cipher.SubKey()[0]);
            store_be32(&plain[4], static_cast<std::uint32_t>(random()));
            ByteVector bytes = plain;
            ChainWords chain;
            Run(cipher, bytes, 0, 1, chain);
            EXPECT_EQ(bytes, test::RawCbcEncrypt(cipher, plain));
        }
    }
}

TEST_P(DecryptPath, FirstRoundSumsAtTheSignBoundary)
{
    std::mt19937 random(6);
    for (const bool keyed : {false, true}) {
        GostBlockCipher cipher;
        if (keyed) {
            RandomKey(random, cipher);
        }
        SCOPED_TRACE(keyed ? "keyed" : "no key");
        // Decryption's first round adds the first subkey to the block's second word. Each edge
        // sum lands in a different lane of each vector group.
        constexpr std::size_t kBlocks = 96;
        ByteVector encrypted = RandomBytes(random, kBlockSize * kBlocks);
        for (std::size_t block = 0; block < kBlocks; ++block) {
            const std::uint32_t sum = kEdgeSums[(block + block / 16) % std::size(kEdgeSums)];
            store_be32(&encrypted[kBlockSize * block + 4], sum - cipher.SubKey()[0]);
        }
        ByteVector bytes = encrypted;
        ChainWords chain;
        Run(cipher, bytes, 0, kBlocks, chain);
        EXPECT_EQ(bytes, test::RawCbcDecrypt(cipher, encrypted));
    }
}

// What the class did before its loops went in runs: one block at a time, a progress step after
// each. Records, for every event, its value and the offset of the block it followed.
struct BlockEvent {
    std::int32_t percent;
    std::size_t blockOffset;

    bool operator==(const BlockEvent&) const = default;
};

std::vector<BlockEvent> BlockByBlockEvents(std::size_t total)
{
    std::vector<BlockEvent> events;
    std::size_t offset = 0;
    const std::function<void(std::int32_t&)> record = [&](std::int32_t& percent) {
        events.push_back({percent, offset});
    };
    ProgressReporter progress(record, total);
    for (; offset < total; offset += kBlockSize) {
        progress.Step(offset);
    }
    progress.Finish();
    return events;
}

ByteVector PlainLayout(const ByteVector& data)
{
    ByteVector layout(EncryptedLength(data.size()), 0);
    store_le32(&layout[kSizeDescriptorOffset], static_cast<std::uint32_t>(data.size()));
    std::copy(data.begin(), data.end(), layout.begin() + kDataOffset);
    return layout;
}

// Watches a byte array from inside the Progress handler: at every event the blocks up to the
// one just finished must hold `done` and the rest still `before`.
class ProgressWatch {
public:
    ProgressWatch(clsCrypGost& cipher, const ByteVector& bytes) : m_cipher(cipher), m_bytes(bytes)
    {
        m_cipher.Progress = [this](std::int32_t& percent) {
            events.push_back({percent, 0});
            snapshots.push_back(m_bytes);
        };
    }
    ~ProgressWatch() { m_cipher.Progress = nullptr; }
    ProgressWatch(const ProgressWatch&) = delete;
    ProgressWatch& operator=(const ProgressWatch&) = delete;

    void Check(const std::vector<BlockEvent>& expected, const ByteVector& before, const ByteVector& done) const
    {
        ASSERT_EQ(events.size(), expected.size());
        for (std::size_t e = 0; e < expected.size(); ++e) {
            SCOPED_TRACE(::testing::Message() << "event " << e << " (" << expected[e].percent << "%)");
            EXPECT_EQ(events[e].percent, expected[e].percent);
            if (expected[e].percent == 100 && e + 1 == expected.size()) {
                continue; // the closing event comes after the array was trimmed or completed
            }
            const ByteVector& seen = snapshots[e];
            const auto split = static_cast<std::ptrdiff_t>(expected[e].blockOffset + kBlockSize);
            ASSERT_EQ(seen.size(), before.size());
            EXPECT_TRUE(std::equal(seen.begin(), seen.begin() + split, done.begin()));
            EXPECT_TRUE(std::equal(seen.begin() + split, seen.end(), before.begin() + split));
        }
    }

    std::vector<BlockEvent> events;
    std::vector<ByteVector> snapshots;

private:
    clsCrypGost& m_cipher;
    const ByteVector& m_bytes;
};

std::vector<std::size_t> DataLengths()
{
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 300; ++n) {
        lengths.push_back(n);
    }
    for (const std::size_t n : {788, 789, 796, 1588, 1589, 1596, 4000, 12345, 100000, 100013}) {
        lengths.push_back(n);
    }
    return lengths;
}

TEST(BlockRuns, ProgressEventsAndArrayMatchBlockByBlockProcessing)
{
    std::mt19937 random(7);
    for (const std::size_t n : DataLengths()) {
        SCOPED_TRACE(::testing::Message() << "N=" << n);
        const ByteVector data = RandomBytes(random, n);
        const ByteVector layout = PlainLayout(data);
        const std::vector<BlockEvent> expected = BlockByBlockEvents(layout.size());

        clsCrypGost gost(test::FixedWords(0, 0));
        gost.Key("progress key");
        GostBlockCipher reference;
        test::KeyBlockCipher(reference, "progress key");
        const ByteVector encrypted = test::RawCbcEncrypt(reference, layout);

        ByteVector bytes = data;
        {
            ProgressWatch watch(gost, bytes);
            gost.EncryptByte(bytes);
            ASSERT_EQ(bytes, encrypted);
            watch.Check(expected, layout, encrypted);
        }
        {
            ProgressWatch watch(gost, bytes);
            gost.DecryptByte(bytes);
            ASSERT_EQ(bytes, data);
            watch.Check(expected, encrypted, layout);
        }
    }
}

} // namespace
} // namespace korvane::detail
