#include "process.hpp"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <new>
#include <signal.h>
#include <unistd.h>

#include "zel/core/error.hpp"
#include "zel/core/output.hpp"

namespace kvt {
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

    char buffer_[1024];
    std::size_t length_ = 0;
};

[[noreturn]] void abort_with(std::string_view text) noexcept {
    Message message;
    message << text;
    message.write_line();
    std::abort();
}

}  // namespace

void print(std::string_view message) {
    zel::standard_output().write(message);
}

void prepare_process() noexcept {
    ::signal(SIGPIPE, SIG_IGN);
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            // open returns the lowest free descriptor, normally `fd` itself because the lower
            // ones are open by now; dup2 covers any other outcome.
            const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
            if (opened >= 0 && opened != fd) {
                ::dup2(opened, fd);
                ::close(opened);
            }
        }
    }
}

void stop(std::string_view text) noexcept {
    Message message;
    message << text;
    message.write_line();
    std::_Exit(FATAL_EXIT_STATUS);
}

void abort_allocation(std::size_t bytes) noexcept {
    abort_with(zel::AllocationError(bytes).what());
}

int run_guarded(zel::detail::FunctionRef<int()> body) noexcept {
    try {
        return body();
    } catch (const zel::AllocationError& error) {
        abort_allocation(error.bytes());
    } catch (const std::bad_alloc& error) {
        abort_with(error.what());
    } catch (const std::exception& error) {
        stop(error.what());
    } catch (...) {
        stop("unknown exception");
    }
}

}  // namespace kvt
