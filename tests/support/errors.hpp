#pragma once

// Assertions on the exceptions of the libraries: the exact type, the exact `what()` and, for the
// bounds report, its two fields.

#include <cstdint>
#include <exception>
#include <string>
#include <typeinfo>

#include <gtest/gtest.h>

#include "zel/core/error.hpp"

namespace zel::test {

/// Text of the bounds report for `len` and `index`.
inline std::string bounds_message(std::uint64_t len, std::uint64_t index) {
    return "index out of bounds: the len is " + std::to_string(len) + " but the index is " +
           std::to_string(index);
}

/// Success when `body` throws an `E` whose `what()` is exactly `message`.
template <class E, class Body>
::testing::AssertionResult throws_exactly(Body&& body, const std::string& message) {
    try {
        body();
    } catch (const E& error) {
        if (error.what() == message) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << "what() is \"" << error.what() << "\", expected \"" << message << "\"";
    } catch (const std::exception& error) {
        return ::testing::AssertionFailure()
               << "threw " << typeid(error).name() << " (\"" << error.what() << "\"), expected "
               << typeid(E).name();
    } catch (...) {
        return ::testing::AssertionFailure() << "threw something that is no std::exception";
    }
    return ::testing::AssertionFailure() << "nothing was thrown, expected \"" << message << "\"";
}

/// Success when `body` throws `IndexOutOfBounds` with fields `len` and `index` and the matching
/// message.
template <class Body>
::testing::AssertionResult throws_bounds(Body&& body, std::uint64_t len, std::uint64_t index) {
    try {
        body();
    } catch (const IndexOutOfBounds& error) {
        if (error.len() != len || error.index() != index) {
            return ::testing::AssertionFailure()
                   << "fields (" << error.len() << ", " << error.index() << "), expected (" << len
                   << ", " << index << ")";
        }
        if (error.what() != bounds_message(len, index)) {
            return ::testing::AssertionFailure() << "what() is \"" << error.what() << "\"";
        }
        return ::testing::AssertionSuccess();
    } catch (const std::exception& error) {
        return ::testing::AssertionFailure()
               << "threw " << typeid(error).name() << " (\"" << error.what() << "\")";
    }
    return ::testing::AssertionFailure()
           << "nothing was thrown, expected the bounds report (" << len << ", " << index << ")";
}

}  // namespace zel::test
