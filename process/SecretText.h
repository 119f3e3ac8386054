#pragma once

#include <cstddef>
#include <string>
#include <utility>

namespace korvane {

// Overwrites `size` characters of a key or password with zeros. The stores go through a volatile
// pointer, so the compiler cannot drop them as dead even when the memory is freed right afterwards.
inline void WipeSecret(char* text, std::size_t size) noexcept
{
    volatile char* p = text;
    for (std::size_t i = 0; i < size; ++i) {
        p[i] = 0;
    }
}

// Overwrites the characters of a key or password and empties the string, so the text does not
// linger in freed memory once the string is gone.
inline void WipeSecret(std::string& text) noexcept
{
    WipeSecret(text.data(), text.size());
    text.clear();
}

// Holds a key or password and overwrites it when done, so it does not linger in freed memory.
// Moves hand the characters on; copies are refused, so there is one copy to wipe.
class SecretText {
public:
    SecretText() = default;
    explicit SecretText(std::string text) : m_text(std::move(text)) {}
    ~SecretText() { WipeSecret(m_text); }
    SecretText(const SecretText&) = delete;
    SecretText& operator=(const SecretText&) = delete;
    SecretText(SecretText&& other) noexcept : m_text(std::move(other.m_text)) {}
    SecretText& operator=(SecretText&& other) noexcept
    {
        WipeSecret(m_text);
        m_text = std::move(other.m_text);
        return *this;
    }

    [[nodiscard]] const std::string& text() const noexcept { return m_text; }
    std::string& text() noexcept { return m_text; }

private:
    std::string m_text;
};

} // namespace korvane
