#include "zel/core/output.hpp"

#include <cerrno>
#include <ostream>
#include <unistd.h>

#include "zel/core/error.hpp"

namespace zel {
namespace {

class StandardOutput final : public OutputSink {
  public:
    void write(std::string_view message) override {
        std::size_t done = 0;
        while (done < message.size()) {
            const ssize_t n = ::write(STDOUT_FILENO, message.data() + done, message.size() - done);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                throw OutputError("stdout", errno);
            }
            if (n == 0) {
                // write(2) returns 0 for a positive count only on an impossible device; treat
                // it as the device refusing data rather than spinning.
                throw OutputError("stdout", EIO);
            }
            done += static_cast<std::size_t>(n);
        }
    }
};

class NullOutput final : public OutputSink {
  public:
    void write(std::string_view) override {
    }
};

}  // namespace

OutputSink& standard_output() noexcept {
    static StandardOutput sink;
    return sink;
}

OutputSink& null_output() noexcept {
    static NullOutput sink;
    return sink;
}

void StreamOutput::write(std::string_view message) {
    stream_.write(message.data(), static_cast<std::streamsize>(message.size()));
    stream_.flush();
    if (!stream_) {
        throw OutputError("stream", EIO);
    }
}

}  // namespace zel
