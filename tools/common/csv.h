// Every CSV a host tool writes is made of these rows: RFC 4180 fields, a
// field quoted where it holds a comma, a quote or a line end (its quotes
// doubled), so a spreadsheet or Python's csv module reads each row with the
// header's width. Rows end in CRLF, as the RFC has them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace datatools {

// One field as it goes into a row.
std::string CsvField(std::string_view text);

// The fields joined by commas, each as CsvField makes it, and "\r\n".
std::string CsvLine(const std::vector<std::string>& fields);

}  // namespace datatools
