#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace korvane {

// Every failure clsCrypGost raises: a fixed number and its description. what() is the
// description; front ends format the two as they see fit.
class GostError : public std::runtime_error {
public:
    // An index or length beyond what the encrypted layout's signed 32-bit positions can address.
    static constexpr std::int32_t kSubscriptOutOfRange = 9;
    // The empty key after a non-empty one: the key schedule cycles over the key's length.
    static constexpr std::int32_t kDivisionByZero = 11;
    // Decryption found no valid encrypted layout: wrong key, damaged or truncated data.
    static constexpr std::int32_t kIncorrectSizeDescriptor = -2147221504; // 0x80040000

    GostError(std::int32_t Number, const std::string& Description)
        : std::runtime_error(Description), m_number(Number)
    {
    }

    [[nodiscard]] std::int32_t Number() const noexcept { return m_number; }
    [[nodiscard]] std::string Description() const { return what(); }

    [[nodiscard]] static GostError SubscriptOutOfRange()
    {
        return {kSubscriptOutOfRange, "Subscript out of range"};
    }
    [[nodiscard]] static GostError DivisionByZero() { return {kDivisionByZero, "Division by zero"}; }
    [[nodiscard]] static GostError IncorrectSizeDescriptor()
    {
        return {kIncorrectSizeDescriptor, "Incorrect size descriptor in Gost decryption"};
    }

private:
    std::int32_t m_number;
};

} // namespace korvane
