// Test support: the texts of the programs' report and messages, and the one
// parser of the report's row for every test.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

inline const std::string headerline =
    "#  lines avg_linelen  getline   stored RAMused/line  store/ln lookup/ln ADT\n";

std::string commentline(const std::string &argv0, const std::string &path);
std::string filefailure(const std::string &argv0, const std::string &path, int error);
// The message of a file that shrank or could not be read while mapped.
std::string readfailure(const std::string &argv0, const std::string &path);

// printf of one value, for comparing a field with the text it must be.
std::string format(const char *fmt, double value);

// Fields 1 to 7 of the row are numbers, field 8 the store's label.
inline constexpr std::size_t rowfields = 7;

// The fields of a report row, as far as they were printed.  Each field must
// match its pattern and be exactly what its printf format makes of the number
// it shows, so widths and decimals are checked as well as the values.
struct row {
    std::vector<double> numbers; // fields 1 to 7, those present
    std::string label;           // field 8, without its space and line feed
    std::string rest;            // whatever follows the last field parsed
};

// The row that begins text.
row parserow(const std::string &text);
// The row of the report in out: what follows its first two lines.
row reportrow(const std::string &out);

// "lines=L avg_linelen=A stored=S": the row's figures that the text alone
// decides, as the report in out prints them; "" when its row lacks them.
std::string reportedfigures(const std::string &out);
