// Encryption followed by decryption gives back exactly what went in: bytes, strings and strings
// as hex text, for any data and any key.
//
// Input: one byte giving the key's length, the key, eight bytes for the two random words (least
// significant byte first; missing bytes are zero), then the data.
//
// Beyond the round trip, the encrypted bytes are opened with the block primitive to check the
// layout itself: the random words with their top bits clear, the size descriptor, the data and
// zero padding, N + 12 rounded up to whole blocks.

#include "tests/fuzz/CipherOracle.h"

#include "crypto/clsCrypGost.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korvane::fuzz {
namespace {

struct Input {
    std::string key;
    std::uint32_t randomWord1 = 0;
    std::uint32_t randomWord2 = 0;
    std::string data;
};

Input ReadInput(std::string_view bytes)
{
    const Split split = SplitKey(bytes);
    Input input;
    input.key = split.key;
    std::uint8_t words[8] = {};
    const std::size_t taken = std::min<std::size_t>(8, split.rest.size());
    std::copy_n(split.rest.begin(), taken, words);
    input.randomWord1 = detail::load_le32(words);
    input.randomWord2 = detail::load_le32(words + 4);
    input.data = std::string(split.rest.substr(taken));
    return input;
}

clsCrypGost::RandomWordSource Words(const Input& input)
{
    return [w1 = input.randomWord1, w2 = input.randomWord2, n = 0]() mutable { return n++ % 2 == 0 ? w1 : w2; };
}

void RecordProgress(clsCrypGost& gost, std::vector<std::int32_t>& events)
{
    gost.Progress = [&events](std::int32_t& percent) { events.push_back(percent); };
}

void CheckEncrypted(const Input& input, const Bytes& encrypted)
{
    const Bytes data = ToBytes(input.data);
    const std::size_t slack = encrypted.size() - data.size();
    FUZZ_CHECK(encrypted.size() % 8 == 0 && encrypted.size() >= 16 && slack >= 12 && slack <= 19);
    FUZZ_CHECK(KeyedBlockCipher(input.key).DecryptBlocks(encrypted)
               == PlainLayout(data, input.randomWord1, input.randomWord2));
}

void CheckBytes(const Input& input)
{
    const Bytes data = ToBytes(input.data);
    clsCrypGost gost(Words(input));
    std::vector<std::int32_t> events;
    RecordProgress(gost, events);

    Bytes array = data;
    gost.EncryptByte(array, input.key);
    FUZZ_CHECK(IsCompleteProgress(events));
    CheckEncrypted(input, array);
    const Bytes encrypted = array;

    // The key given to EncryptByte stays in force for a call that gives none.
    events.clear();
    gost.DecryptByte(array);
    FUZZ_CHECK(array == data);
    FUZZ_CHECK(IsCompleteProgress(events));

    clsCrypGost other;
    array = encrypted;
    other.DecryptByte(array, input.key);
    FUZZ_CHECK(array == data);
}

void CheckStrings(const Input& input)
{
    clsCrypGost gost(Words(input));
    const std::string raw = gost.EncryptString(input.data, input.key);
    CheckEncrypted(input, ToBytes(raw));

    clsCrypGost hexGost(Words(input));
    const std::string hex = hexGost.EncryptString(input.data, input.key, true);
    FUZZ_CHECK(hex == UpperHex(raw));

    clsCrypGost reader;
    std::string argument = raw;
    FUZZ_CHECK(reader.DecryptString(argument, input.key) == input.data);
    FUZZ_CHECK(argument == raw);

    argument = hex;
    FUZZ_CHECK(reader.DecryptString(argument, input.key, true) == input.data);
    FUZZ_CHECK(argument == raw);

    std::string lower = hex;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    FUZZ_CHECK(reader.DecryptString(lower, {}, true) == input.data);
}

} // namespace
} // namespace korvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace korvane::fuzz;
    const Input input = ReadInput({reinterpret_cast<const char*>(data), size});
    CheckBytes(input);
    CheckStrings(input);
    return 0;
}
