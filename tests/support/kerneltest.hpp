// The scanner tests' one harness: each kernel of the list as a test's
// parameter, skipped where this CPU cannot run it, and a kernel held to the
// byte-at-a-time model on a text (scannerdifference, which the fuzz target
// shares).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "guardedtext.hpp"
#include "kernels.hpp"
#include "samelines.hpp"

class kerneltest : public testing::TestWithParam<kernelentry>
{
  protected:
    void SetUp() override
    {
        if (!kernelsupported(GetParam().kernel))
            GTEST_SKIP() << kernelskipped;
    }

    // The kernel's steps and pass against the model on the text; neither may
    // write past linebuf.
    static testing::AssertionResult samelines(const char *begin, const char *end)
    {
        std::vector<char> fast = guardedlinebuf();
        std::vector<char> plain = guardedlinebuf();
        std::string difference = scannerdifference(GetParam(), begin, end, fast.data(), plain.data());
        if (!difference.empty())
            return testing::AssertionFailure() << difference;
        if (std::size_t at = canarywritten(fast))
            return testing::AssertionFailure() << "the kernel wrote linebuf[" << at << "]";
        if (std::size_t at = canarywritten(plain))
            return testing::AssertionFailure() << "scanlineplain wrote linebuf[" << at << "]";
        return testing::AssertionSuccess();
    }
    static testing::AssertionResult samelines(const std::string &text)
    {
        return samelines(text.data(), text.data() + text.size());
    }
};

inline std::string kernelparamname(const testing::TestParamInfo<kernelentry> &info)
{
    return kernelname(info.param.kernel);
}
