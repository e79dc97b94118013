// What a call prints on standard output, or the message of what it throws.
#pragma once

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace TrelisTest {

template <typename Call>
std::string stdoutOf(Call call) {
    testing::internal::CaptureStdout();
    call();
    return testing::internal::GetCapturedStdout();
}

// The message of the std::runtime_error that `call` throws; "(no error)" when it throws none.
template <typename Call>
std::string errorOf(Call call) {
    try {
        call();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "(no error)";
}

}  // namespace TrelisTest
