// Numbers on the host tools' command lines are decimal, as the engineers write
// them: CLI11 alone reads "0100000" as octal and "0x10" as hexadecimal.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace tools {

// A whole number: an optional '-' and decimal digits, leading zeros dropped
// before CLI11 converts it (so 0100000 is 100000); anything else is refused.
inline CLI::Validator DecimalInteger() {
  return CLI::Validator(
      [](std::string& text) {
        const size_t digits = (!text.empty() && text[0] == '-') ? 1 : 0;
        if (text.size() == digits ||
            text.find_first_not_of("0123456789", digits) != std::string::npos)
          return "'" + text + "' is not a whole decimal number";
        const size_t first = text.find_first_not_of('0', digits);
        text.erase(digits, (first == std::string::npos ? text.size() - 1 : first) - digits);
        return std::string();
      },
      "", "decimal integer");
}

// A decimal real number (digits, point, sign, exponent): no hexadecimal
// floats, inf or nan.
inline CLI::Validator DecimalReal() {
  return CLI::Validator(
      [](std::string& text) {
        if (text.empty() || text.find_first_not_of("0123456789.+-eE") != std::string::npos ||
            text.find_first_of("0123456789") == std::string::npos)
          return "'" + text + "' is not a decimal number";
        return std::string();
      },
      "", "decimal real");
}

}  // namespace tools
