#include "zel/core/fatal.hpp"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace zel {
namespace {

// Fixed-capacity text buffer: fatal paths must not allocate (one of them reports that
// allocation failed) and must produce their diagnostic in a single write.
class Message {
  public:
    Message& operator<<(std::string_view text) noexcept {
        const std::size_t n = text.size() < room() ? text.size() : room();
        std::memcpy(buffer_ + length_, text.data(), n);
        length_ += n;
        return *this;
    }

    Message& operator<<(std::uint64_t value) noexcept {
        char digits[24];
        const auto result = std::to_chars(digits, digits + sizeof digits, value);
        return *this << std::string_view(digits, static_cast<std::size_t>(result.ptr - digits));
    }

    // Writes the message and a line feed to standard error, retrying interrupted and partial
    // writes. Nothing can be reported if standard error itself fails.
    void write_line() noexcept {
        *this << "\n";
        std::size_t done = 0;
        while (done < length_) {
            const ssize_t n = ::write(STDERR_FILENO, buffer_ + done, length_ - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return;
            }
            done += static_cast<std::size_t>(n);
        }
    }

  private:
    std::size_t room() const noexcept {
        return sizeof buffer_ - length_;
    }

    char buffer_[512];
    std::size_t length_ = 0;
};

[[noreturn]] void stop(Message& message) noexcept {
    message.write_line();
    std::_Exit(FATAL_EXIT_STATUS);
}

}  // namespace

void fatal(std::string_view text) noexcept {
    Message message;
    message << text;
    stop(message);
}

void fatal_index_out_of_bounds(std::uint64_t len, std::uint64_t index) noexcept {
    Message message;
    message << "index out of bounds: the len is " << len << " but the index is " << index;
    stop(message);
}

void fatal_invalid_layout() noexcept {
    fatal("Invalid layout: LayoutError");
}

void fatal_state_index() noexcept {
    fatal("Index out of bounds for state vector");
}

void fatal_print(std::string_view stream, int errno_value) noexcept {
    char text[256];
    // The GNU strerror_r returns a pointer that may or may not be `text`.
    const char* error = strerror_r(errno_value, text, sizeof text);
    Message message;
    message << "failed printing to " << stream << ": " << std::string_view(error);
    stop(message);
}

void fatal_allocation(std::size_t bytes) noexcept {
    Message message;
    message << "memory allocation of " << static_cast<std::uint64_t>(bytes) << " bytes failed";
    message.write_line();
    std::abort();
}

}  // namespace zel
