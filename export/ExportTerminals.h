#pragma once

#include "export/ConnectionSecurity.h"
#include "export/ExportOperator.h"

#include <QLocale>

namespace korvane {

struct ExportOptions {
    // Connect and command time-out in seconds; the window and korvane-export keep 30.
    int timeoutSeconds = 30;
    // Regional settings for the dates in the file; the window and korvane-export keep the
    // system's.
    QLocale locale = QLocale::system();
    // Encryption asked of the connection; the window takes it from the environment at each run,
    // korvane-export from its options over the environment.
    ConnectionSecurity security = ConnectionSecurityFromEnvironment();
};

// The export run behind "&Exportar": checks the path, asks before replacing a file, reads the
// terminal table and saves the XML document, talking to the operator only through `op`.
// Every early end (blank path, Cancel, a refused connection, a failed query, a failed save)
// leaves the file at the path as it was; it is replaced only by a complete new document. Any
// std::exception of the run is caught and shown in one box; only one thrown by that box itself
// reaches the caller.
void ExportTerminals(ExportOperator& op, const ExportOptions& options = {});

} // namespace korvane
