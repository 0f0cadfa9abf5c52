#pragma once

// Captures what a piece of code writes to file descriptor 1. The console writes with write(2)
// straight to the descriptor, so redirecting the descriptor (not std::cout) is what catches it.
// The text goes through an unlinked temporary file rather than a pipe, so long transcripts
// cannot fill a pipe buffer and block the writer.

#include <cstdio>
#include <iostream>
#include <string>
#include <unistd.h>
#include <utility>

#include <gtest/gtest.h>

namespace zel::test {

/// Runs `body` with standard output redirected to a temporary file and returns what was written.
template <class Body>
std::string capture_stdout(Body&& body) {
    std::fflush(stdout);
    std::cout.flush();
    std::FILE* sink = std::tmpfile();
    EXPECT_NE(sink, nullptr);
    if (sink == nullptr) {
        std::forward<Body>(body)();
        return {};
    }
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(::fileno(sink), STDOUT_FILENO);
    std::forward<Body>(body)();
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);

    std::string text;
    std::rewind(sink);
    char chunk[4096];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, sink)) > 0) {
        text.append(chunk, n);
    }
    std::fclose(sink);
    return text;
}

}  // namespace zel::test
