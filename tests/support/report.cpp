#include "report.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <regex>

std::string commentline(const std::string &argv0, const std::string &path)
{
    return "# " + argv0 + " " + path + " \n";
}

std::string filefailure(const std::string &argv0, const std::string &path, int error)
{
    return argv0 + ": Cannot open file \"" + path + "\": " + std::strerror(error) +
           " (errno = " + std::to_string(error) + ")\n";
}

std::string readfailure(const std::string &argv0, const std::string &path)
{
    return argv0 + ": Cannot read file \"" + path + "\": File shrank or could not be read while mapped\n";
}

std::string format(const char *fmt, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, fmt, value);
    return text;
}

namespace
{

struct fieldrule {
    const char *pattern;
    const char *format;
    bool integer;
};

const fieldrule fieldrules[rowfields] = {
    {R"( *(\d+))", "%8lu", true},                   // lines
    {R"( +(\d+\.\d) byts)", " %6.1f byts", false},  // avg_linelen
    {R"( +(-?\d+\.\d{3}) uS)", " %5.3f uS", false}, // getline
    {R"( +(\d+))", " %8lu", true},                  // stored
    {R"( +(\d+\.\d) byts)", " %7.1f byts", false},  // RAMused/line
    {R"( +(-?\d+\.\d{3}) uS)", " %6.3f uS", false}, // store/ln
    {R"( +(-?\d+\.\d{3}) uS)", " %6.3f uS", false}, // lookup/ln
};

std::string printed(const fieldrule &rule, double number)
{
    if (!rule.integer)
        return format(rule.format, number);
    char text[64];
    std::snprintf(text, sizeof text, rule.format, static_cast<unsigned long>(number));
    return text;
}

} // namespace

row parserow(const std::string &text)
{
    row parsed;
    auto pos = text.cbegin();
    for (const fieldrule &rule : fieldrules) {
        std::smatch match;
        if (!std::regex_search(pos, text.cend(), match, std::regex(rule.pattern),
                               std::regex_constants::match_continuous))
            break;
        double number = std::strtod(match[1].str().c_str(), nullptr);
        if (match[0].str() != printed(rule, number))
            break;
        parsed.numbers.push_back(number);
        pos = match[0].second;
    }
    std::smatch match;
    if (parsed.numbers.size() == rowfields &&
        std::regex_search(pos, text.cend(), match, std::regex(R"( (\S+)\n)"),
                          std::regex_constants::match_continuous)) {
        parsed.label = match[1];
        pos = match[0].second;
    }
    parsed.rest.assign(pos, text.cend());
    return parsed;
}

row reportrow(const std::string &out)
{
    std::size_t start = 0;
    for (int line = 0; line < 2 && start != std::string::npos; ++line) {
        start = out.find('\n', start);
        if (start != std::string::npos)
            ++start;
    }
    return parserow(start == std::string::npos ? "" : out.substr(start));
}

// Lines and stored are printed as integers, the average with one decimal.
std::string reportedfigures(const std::string &out)
{
    row parsed = reportrow(out);
    if (parsed.numbers.size() < 4)
        return "";
    return "lines=" + std::to_string(static_cast<unsigned long>(parsed.numbers[0])) +
           " avg_linelen=" + format("%.1f", parsed.numbers[1]) +
           " stored=" + std::to_string(static_cast<unsigned long>(parsed.numbers[3]));
}
