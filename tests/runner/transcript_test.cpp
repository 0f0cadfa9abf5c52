// kvt_run as a process: the whole transcript against the committed golden text, and what
// happens when standard output is closed, a pipe without reader, or a full device.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "report.hpp"

extern char** environ;

namespace {

// Where the child's standard output goes.
enum class Output {
    File,        // a temporary file, read back afterwards
    Closed,      // descriptor 1 closed before exec
    NoReader,    // the write end of a pipe whose read end is already closed
    FullDevice,  // /dev/full
    AllClosed,   // descriptors 0, 1 and 2 all closed before exec
};

struct Outcome {
    int status = -1;  // exit status, or 128 + signal number when killed by a signal
    std::string out;
    std::string err;
};

std::string read_all(int fd) {
    std::string text;
    ::lseek(fd, 0, SEEK_SET);
    char chunk[4096];
    ssize_t n = 0;
    while ((n = ::read(fd, chunk, sizeof chunk)) > 0) {
        text.append(chunk, static_cast<std::size_t>(n));
    }
    return text;
}

// Runs kvt_run with RAYON_NUM_THREADS set to `threads` and the pool's other variable removed.
Outcome run_kvt(Output output, const std::string& threads) {
    std::vector<std::string> env_text;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (entry.rfind("RAYON_NUM_THREADS=", 0) != 0 &&
            entry.rfind("RAYON_RS_NUM_CPUS=", 0) != 0) {
            env_text.push_back(entry);
        }
    }
    env_text.push_back("RAYON_NUM_THREADS=" + threads);
    std::vector<char*> envp;
    for (std::string& entry : env_text) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::string path = KVT_RUN_PATH;
    char* argv[] = {path.data(), nullptr};

    std::FILE* out_file = std::tmpfile();
    std::FILE* err_file = std::tmpfile();
    if (out_file == nullptr || err_file == nullptr) {
        ADD_FAILURE() << "no temporary file";
        return {};
    }
    int child_out = ::fileno(out_file);
    int pipe_fds[2] = {-1, -1};
    if (output == Output::NoReader) {
        // The read end is closed before the child exists, so no reader can ever appear.
        EXPECT_EQ(::pipe(pipe_fds), 0);
        ::close(pipe_fds[0]);
        child_out = pipe_fds[1];
    }
    const int full = output == Output::FullDevice ? ::open("/dev/full", O_WRONLY) : -1;
    if (output == Output::FullDevice) {
        EXPECT_GE(full, 0);
        child_out = full;
    }
    const int err_fd = ::fileno(err_file);

    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        ::dup2(err_fd, STDERR_FILENO);
        ::dup2(child_out, STDOUT_FILENO);
        if (output == Output::Closed || output == Output::AllClosed) {
            ::close(STDOUT_FILENO);
        }
        if (output == Output::AllClosed) {
            ::close(STDIN_FILENO);
            ::close(STDERR_FILENO);
        }
        ::execve(argv[0], argv, envp.data());
        ::_exit(127);
    }
    if (pipe_fds[1] >= 0) {
        ::close(pipe_fds[1]);
    }
    if (full >= 0) {
        ::close(full);
    }
    int raw = 0;
    EXPECT_EQ(::waitpid(pid, &raw, 0), pid);
    Outcome outcome;
    outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    outcome.out = read_all(::fileno(out_file));
    outcome.err = read_all(err_fd);
    std::fclose(out_file);
    std::fclose(err_file);
    return outcome;
}

std::string golden_transcript() {
    std::ifstream file(GOLDEN_TRANSCRIPT, std::ios::binary);
    EXPECT_TRUE(file.good()) << GOLDEN_TRANSCRIPT;
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The golden text holds this token where the elapsed time goes.
constexpr std::string_view ELAPSED_TOKEN = "{elapsed}";
constexpr std::string_view ELAPSED_PREFIX = "\u23F1\uFE0F Tempo de Execu\u00E7\u00E3o: ";

// Any duration text the report can print: whole units without leading zeros, then at most the
// unit's fraction digits with no trailing zero.
bool is_duration_text(const std::string& text) {
    static const std::regex pattern(
        "([1-9][0-9]*(\\.[0-9]{0,8}[1-9])?s)"
        "|([1-9][0-9]{0,2}(\\.[0-9]{0,5}[1-9])?ms)"
        "|([1-9][0-9]{0,2}(\\.[0-9]{0,2}[1-9])?\u00B5s)"
        "|((0|[1-9][0-9]{0,2})ns)");
    return std::regex_match(text, pattern);
}

// Replaces the elapsed time of the report line by the golden token, after checking its form.
std::string mask_elapsed(std::string transcript) {
    const std::size_t start = transcript.find("\n" + std::string(ELAPSED_PREFIX));
    if (start == std::string::npos) {
        ADD_FAILURE() << "no elapsed-time line";
        return transcript;
    }
    const std::size_t value = start + 1 + ELAPSED_PREFIX.size();
    const std::size_t end = transcript.find('\n', value);
    const std::string text = transcript.substr(value, end - value);
    EXPECT_TRUE(is_duration_text(text)) << "elapsed time '" << text << "'";
    return transcript.replace(value, end - value, ELAPSED_TOKEN);
}

// The mask must take whatever the report prints for the elapsed time, or the golden comparison
// would fail on a run that happened to take an unusual time: every text format_duration gives
// over unit boundaries and a seeded sweep of magnitudes is accepted; texts it never gives are not.
TEST(DurationPattern, AcceptsEveryTextTheReportPrints) {
    std::vector<std::int64_t> durations = {0,
                                           1,
                                           999,
                                           1'000,
                                           1'001,
                                           999'999,
                                           1'000'000,
                                           1'500'000,
                                           12'345'678,
                                           999'999'999,
                                           1'000'000'000,
                                           2'500'000'000,
                                           86'400'000'000'000};
    std::mt19937_64 rng(20261208);
    for (int k = 0; k < 2000; ++k) {
        durations.push_back(static_cast<std::int64_t>(rng() >> (rng() % 64)) & 0xFFFFFFFFFFFF);
    }
    for (const std::int64_t ns : durations) {
        const std::string text = kvt::format_duration(std::chrono::nanoseconds(ns));
        EXPECT_TRUE(is_duration_text(text)) << ns << " ns printed as " << text;
    }
    for (const char* bad : {"", "2.50s", "1.0ms", "01ms", "1000\u00B5s", "1.5ns", "3 s", "1e3ns"}) {
        EXPECT_FALSE(is_duration_text(bad)) << bad;
    }
}

TEST(KvtRunProcess, TranscriptMatchesTheGoldenTextForOneAndTwoThreads) {
    const std::string golden = golden_transcript();
    ASSERT_NE(golden.find(ELAPSED_TOKEN), std::string::npos);
    for (const char* threads : {"1", "2"}) {
        SCOPED_TRACE(std::string("RAYON_NUM_THREADS=") + threads);
        const Outcome run = run_kvt(Output::File, threads);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(mask_elapsed(run.out), golden);
    }
}

// A thread count that is not a positive number is reported once on standard error and ignored;
// the transcript stays the same.
TEST(KvtRunProcess, InvalidThreadCountsAreReportedOnceAndIgnored) {
    const std::string golden = golden_transcript();
    for (const char* threads : {"abc", "-1", "+3"}) {
        SCOPED_TRACE(std::string("RAYON_NUM_THREADS=") + threads);
        const Outcome run = run_kvt(Output::File, threads);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, std::string("zel: RAYON_NUM_THREADS=\"") + threads +
                               "\" is not a positive whole number and is ignored\n");
        EXPECT_EQ(mask_elapsed(run.out), golden);
    }
}

TEST(KvtRunProcess, OutputFailuresAndClosedStreams) {
    struct Case {
        const char* name;
        Output output;
        int status;
        const char* err;
    };
    const Case cases[] = {
        {"stdout closed: /dev/null in its place", Output::Closed, 0, ""},
        {"stdin, stdout and stderr closed", Output::AllClosed, 0, ""},
        {"pipe without reader", Output::NoReader, 101, "failed printing to stdout: Broken pipe\n"},
        {"full device", Output::FullDevice, 101,
         "failed printing to stdout: No space left on device\n"},
    };
    for (const Case& c : cases) {
        for (const char* threads : {"1", "2"}) {
            SCOPED_TRACE(std::string(c.name) + ", RAYON_NUM_THREADS=" + threads);
            const Outcome run = run_kvt(c.output, threads);
            EXPECT_EQ(run.status, c.status);
            EXPECT_EQ(run.err, c.err);
            EXPECT_EQ(run.out, "");
        }
    }
}

}  // namespace
