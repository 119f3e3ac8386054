#pragma once

#include <optional>
#include <string>
#include <vector>

namespace korvane::bench {

// One way of reading the terminal table, timed over several runs.
struct ExportTiming {
    std::string name;
    double seconds = 0;                          // median
    std::optional<double> peakGrowthBytes;       // Korvane's runs only: the largest of its runs
    std::optional<double> fileBytes;             // Korvane's runs only
};

struct ExportReport {
    int rows = 0;
    int runs = 0;
    std::vector<ExportTiming> timings;
    double exportVsBsqldb = 0;
    std::optional<double> peakGrowthOverFile;
};

// The export of a generated terminal table through the FreeTDS ODBC driver, end to end, beside
// FreeTDS's bsqldb running the same query against the same server. It measures this process's
// own memory, so it must run before anything else here allocates much. Ends the program with
// a message when a run fails or comes out wrong.
ExportReport MeasureExport();

void PrintExport(const ExportReport& report);

} // namespace korvane::bench
