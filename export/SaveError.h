#pragma once

#include <QString>

namespace korvane {

// Why the document could not be saved: the system's error number (errno; 0 when the system
// gave none) and the reason as the operator reads it.
struct SaveError {
    int number = 0;
    QString description;

    friend bool operator==(const SaveError&, const SaveError&) = default;
};

// The reason for system error `number` met while saving a file, for the operator: European
// Portuguese for the causes met at a desk (no permission, a read-only or full disk, a file too
// large, a missing folder, a folder at the path), the system's own text for any other.
QString SaveErrorDescription(int number);

// `number` with its description.
SaveError SaveErrorOf(int number);

} // namespace korvane
