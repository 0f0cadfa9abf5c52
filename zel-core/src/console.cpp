#include "zel/core/console.hpp"

#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "zel/core/fatal.hpp"

namespace zel::console {

void print(std::string_view message) {
    std::size_t done = 0;
    while (done < message.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, message.data() + done, message.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fatal_print("stdout", errno);
        }
        if (n == 0) {
            // write(2) returns 0 for a positive count only on an impossible device; treat it as
            // the device refusing data rather than spinning.
            fatal_print("stdout", EIO);
        }
        done += static_cast<std::size_t>(n);
    }
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

}  // namespace zel::console
