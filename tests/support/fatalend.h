// Expecting a run to end: a FatalError of the given status whose message
// and detail (joined by a newline) match a regular expression.
#pragma once

#include "logging/fatal.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

template <typename Body>
::testing::AssertionResult endsRun(Body body, int status, const std::string& pattern)
{
    try {
        body();
    } catch (const FatalError& end) {
        const std::string said = (end.message() + "\n" + end.detail()).toStdString();
        if (end.status() != status)
            return ::testing::AssertionFailure() << "status " << end.status() << ", not " << status << ": " << said;
        if (!std::regex_search(said, std::regex(pattern)))
            return ::testing::AssertionFailure() << "\"" << said << "\" does not match \"" << pattern << "\"";
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "the run did not end";
}
