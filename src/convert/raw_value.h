#pragma once

#include <string>

#include "spreadsheet/automation.h"

namespace cellverter {

// Appends the stored value as text for other programs to load: a number with the shortest
// digits that read back to the same double ("0.1", "1E-300"), a date "2024-01-15", a date and
// time "2024-01-15T08:30:00", a time "08:30:00" (milliseconds when there are any), a boolean
// TRUE or FALSE, an error as its code, a text unchanged.
void AppendRawValue(const ExcelValue& value, std::string& out);

}  // namespace cellverter
