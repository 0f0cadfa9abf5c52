// The output sinks: what each does with a message, and how a failed write is reported.

#include "zel/core/output.hpp"

#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "zel/core/error.hpp"

#include "support/capture_stdout.hpp"
#include "support/errors.hpp"

namespace zel::test {
namespace {

TEST(CoreOutput, EachSinkDeliversMessagesAsGiven) {
    const std::string first = "Iter 0: Energy = -1.063653 | Entropy = 0.0000\n";
    const std::string second = "\n[INFO] \u26A0\uFE0F  accents: CONVERG\u00CANCIA\n\n";
    EXPECT_EQ(capture_stdout([&] {
                  standard_output().write(first);
                  standard_output().write(second);
                  null_output().write("dropped\n");
              }),
              first + second);

    std::ostringstream stream;
    StreamOutput to_stream(stream);
    to_stream.write(first);
    to_stream.write(second);
    EXPECT_EQ(stream.str(), first + second);

    std::vector<std::string> messages;
    CallbackOutput collect([&](std::string_view m) { messages.emplace_back(m); });
    collect.write(first);
    collect.write(second);
    EXPECT_EQ(messages, (std::vector<std::string>{first, second}));
    CallbackOutput empty(nullptr);
    empty.write(first);
}

TEST(CoreOutput, AStreamThatFailsThrows) {
    std::ostringstream stream;
    stream.setstate(std::ios::badbit);
    StreamOutput to_stream(stream);
    EXPECT_TRUE(throws_exactly<OutputError>([&] { to_stream.write("x\n"); },
                                            "failed printing to stream: Input/output error"));
}

}  // namespace
}  // namespace zel::test
