#include "export/WipeSecret.h"

namespace korvane {

void WipeSecret(QString& text) noexcept
{
    if (text.isDetached()) {
        volatile char16_t* p = reinterpret_cast<char16_t*>(text.data());
        for (qsizetype i = 0; i < text.size(); ++i)
            p[i] = 0;
    }
    text = QString();
}

} // namespace korvane
