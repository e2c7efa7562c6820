// Test support for end-to-end tests: the two programs under test and the texts
// of their report and file failure.  A test that includes this is built with
// LINEBENCH_REDBLACK and LINEBENCH_HASH naming the programs' paths.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>

struct program {
    const char *name;  // test name suffix
    const char *path;  // also the argv[0] of every run
    const char *label; // the ADT column
};

// Names the program in test listings instead of dumping its bytes.
inline void PrintTo(const program &prog, std::ostream *out) { *out << prog.name; }

inline const program redblack{"redblack", LINEBENCH_REDBLACK, "REDBLACK"};
inline const program hash{"hash", LINEBENCH_HASH, "HASH"};

// For INSTANTIATE_TEST_SUITE_P over both programs.
inline auto bothprograms() { return testing::Values(redblack, hash); }
inline std::string programname(const testing::TestParamInfo<program> &info) { return info.param.name; }

inline const std::string headerline =
    "#  lines avg_linelen  getline   stored RAMused/line  store/ln lookup/ln ADT\n";

inline std::string commentline(const std::string &argv0, const std::string &path)
{
    return "# " + argv0 + " " + path + " \n";
}

inline std::string filefailure(const std::string &argv0, const std::string &path, int error)
{
    return argv0 + ": Cannot open file \"" + path + "\": " + std::strerror(error) + " (errno = " +
           std::to_string(error) + ")\n";
}
