#pragma once

#include "ExportOperator.h"

namespace korvane {

struct ExportOptions {
    // Connect and command time-out in seconds; the window and korvane-export keep 30.
    int timeoutSeconds = 30;
};

// The export run behind "&Exportar": checks the path, asks before replacing a file, reads the
// terminal table and saves the XML document, talking to the operator only through `op`.
void ExportTerminals(ExportOperator& op, const ExportOptions& options = {});

} // namespace korvane
