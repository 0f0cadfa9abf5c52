#pragma once

/// \file
/// Where the libraries' console lines go. The strategy's constructor notice and the search
/// loop's start, strategy and progress lines are handed to an `OutputSink` the caller chooses,
/// one complete message per call. The default, `standard_output()`, writes each message to file
/// descriptor 1 in one unbuffered write, as `kvt_run` needs.

#include <functional>
#include <iosfwd>
#include <string_view>
#include <utility>

namespace zel {

/// Receives the libraries' console messages, each complete with its line feeds.
class OutputSink {
  public:
    virtual ~OutputSink() = default;

    /// Takes one message. May throw; the exception reaches the caller of the library function
    /// that printed.
    virtual void write(std::string_view message) = 0;
};

/// The process's standard output: each message is one write(2) to file descriptor 1, retrying
/// interrupted and partial writes, bypassing `std::cout` and its buffer. A failed write throws
/// `OutputError` ("failed printing to stdout: {error text}"). A program that also prints through
/// `std::cout` should flush it before calling the library, or pass a `StreamOutput` over
/// `std::cout` instead.
OutputSink& standard_output() noexcept;

/// Discards every message.
OutputSink& null_output() noexcept;

/// Writes every message to a `std::ostream` (for example `std::cout`, which keeps the library's
/// lines in order with the program's own), flushing after each. Throws `OutputError` for the
/// stream "stream" when the stream is bad after the write. The stream must outlive the sink.
class StreamOutput final : public OutputSink {
  public:
    explicit StreamOutput(std::ostream& stream) noexcept : stream_(stream) {
    }
    void write(std::string_view message) override;

  private:
    std::ostream& stream_;
};

/// Hands every message to a callable, for collecting the lines or forwarding them elsewhere.
class CallbackOutput final : public OutputSink {
  public:
    explicit CallbackOutput(std::function<void(std::string_view)> callback)
        : callback_(std::move(callback)) {
    }
    void write(std::string_view message) override {
        if (callback_) {
            callback_(message);
        }
    }

  private:
    std::function<void(std::string_view)> callback_;
};

}  // namespace zel
