// DecryptByte and DecryptString (as bytes and as hex text) on whatever they are given.
//
// Input: one byte giving the key's length, the key, then the text to decrypt. The text goes to
// DecryptByte as bytes, to DecryptString as it stands and to DecryptString as hex text, each on
// a fresh instance, so every input is judged alone.
//
// The answer is worked out beforehand from the block primitive: the empty text decrypts to
// nothing; anything else is an encrypted layout exactly when it is whole blocks, at least two,
// and its decrypted size descriptor fits the length. A layout gives its data bytes and a
// complete run of Progress events; anything else is refused with the size-descriptor error,
// with the caller's bytes as they were and no event raised.

#include "tests/fuzz/CipherOracle.h"

#include "crypto/GostError.h"
#include "crypto/clsCrypGost.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korvane::fuzz {
namespace {

// The data bytes `text` must decrypt to under `key`, or nothing when it must be refused.
std::optional<Bytes> ExpectedDecryption(const Bytes& text, std::string_view key)
{
    if (text.empty()) {
        return Bytes{};
    }
    const Layout layout = ReadLayout(KeyedBlockCipher(key).DecryptBlocks(text));
    if (!layout.valid) {
        return std::nullopt;
    }
    return layout.data;
}

struct Outcome {
    std::optional<Bytes> result;   // nothing when the call threw the size-descriptor error
    std::vector<std::int32_t> events;
};

template<typename Call>
Outcome Run(Call call)
{
    clsCrypGost gost;
    Outcome outcome;
    gost.Progress = [&outcome](std::int32_t& percent) { outcome.events.push_back(percent); };
    try {
        outcome.result = call(gost);
    } catch (const GostError& error) {
        FUZZ_CHECK(error.Number() == GostError::kIncorrectSizeDescriptor);
        FUZZ_CHECK(std::string_view(error.what()) == "Incorrect size descriptor in Gost decryption");
    }
    return outcome;
}

void CheckOutcome(const Outcome& outcome, const std::optional<Bytes>& expected, bool emptyText)
{
    FUZZ_CHECK(outcome.result.has_value() == expected.has_value());
    if (!expected) {
        FUZZ_CHECK(outcome.events.empty());
        return;
    }
    FUZZ_CHECK(*outcome.result == *expected);
    if (emptyText) {
        FUZZ_CHECK(outcome.events.empty());
    } else {
        FUZZ_CHECK(IsCompleteProgress(outcome.events));
    }
}

void CheckDecryptByte(const Bytes& text, std::string_view key)
{
    const std::optional<Bytes> expected = ExpectedDecryption(text, key);
    Bytes array = text;
    const Outcome outcome = Run([&](clsCrypGost& gost) {
        gost.DecryptByte(array, key);
        return array;
    });
    CheckOutcome(outcome, expected, text.empty());
    if (!expected) {
        FUZZ_CHECK(array == text);
        return;
    }
    const std::size_t n = expected->size();
    FUZZ_CHECK(text.empty() || (text.size() - n >= 12 && text.size() - n <= 19));
}

// A valid layout encrypted again with the random words it holds must decrypt to the same layout,
// less what encryption always writes: top bits of the random words clear, zero padding.
void CheckReencryption(const Bytes& text, std::string_view key)
{
    if (text.empty()) {
        return;
    }
    const KeyedBlockCipher cipher(key);
    const Layout layout = ReadLayout(cipher.DecryptBlocks(text));
    if (!layout.valid) {
        return;
    }
    std::uint32_t words[2] = {layout.randomWord1, layout.randomWord2};
    clsCrypGost gost([&words, n = 0]() mutable { return words[n++ % 2]; });
    Bytes array = layout.data;
    gost.EncryptByte(array, key);
    FUZZ_CHECK(array.size() == text.size());
    FUZZ_CHECK(cipher.DecryptBlocks(array) == PlainLayout(layout.data, layout.randomWord1, layout.randomWord2));
    const bool canonical = layout.paddingIsZero && (layout.randomWord1 >> 31) == 0 && (layout.randomWord2 >> 31) == 0;
    FUZZ_CHECK((array == text) == canonical);
}

void CheckDecryptStringRaw(const std::string& text, std::string_view key)
{
    const std::optional<Bytes> expected = ExpectedDecryption(ToBytes(text), key);
    std::string argument = text;
    const Outcome outcome = Run([&](clsCrypGost& gost) { return ToBytes(gost.DecryptString(argument, key)); });
    CheckOutcome(outcome, expected, text.empty());
    FUZZ_CHECK(argument == text);
}

// Hex text is never refused for its digits: any text decodes to bytes, and those bytes are
// either a layout or refused like any other.
void CheckDecryptStringHex(const std::string& text, std::string_view key)
{
    const std::string decoded = DecodeHex(text);
    const std::optional<Bytes> expected = ExpectedDecryption(ToBytes(decoded), key);
    std::string argument = text;
    const Outcome outcome = Run([&](clsCrypGost& gost) { return ToBytes(gost.DecryptString(argument, key, true)); });
    CheckOutcome(outcome, expected, text.empty());
    FUZZ_CHECK(argument == decoded);
}

} // namespace
} // namespace korvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace korvane::fuzz;
    const Split input = SplitKey({reinterpret_cast<const char*>(data), size});
    const std::string text(input.rest);
    CheckDecryptByte(ToBytes(text), input.key);
    CheckReencryption(ToBytes(text), input.key);
    CheckDecryptStringRaw(text, input.key);
    CheckDecryptStringHex(text, input.key);
    return 0;
}
