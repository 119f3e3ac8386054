#include "ExportTerminals.h"

namespace korvane {

void ExportTerminals(ExportOperator&, const ExportOptions&) {}

} // namespace korvane
