// Test support for end-to-end tests: the two programs under test, and with
// report.hpp the texts of their report and messages.  A test that includes
// this is built with LINEBENCH_REDBLACK and LINEBENCH_HASH naming the
// programs' paths.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "report.hpp"

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
