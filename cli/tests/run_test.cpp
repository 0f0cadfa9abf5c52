// `zel run` in process: counts of programs with terminal and mid-circuit measurements, the most
// likely states of a program without measurements, JSON, and one-line errors with exit statuses.

#include "run.hpp"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "commands.hpp"

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

class ZelRun : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ =
            fs::temp_directory_path() /
            ("zel_run_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::string write(const std::string& name, const std::string& text) const {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }

    static Outcome run(std::vector<std::string> args) {
        std::ostringstream out;
        std::ostringstream err;
        const int status = zel::cli::run_program(args, out, err);
        return {status, out.str(), err.str()};
    }

    fs::path dir_;
};

const std::string V2 = "OPENQASM 2.0;\ninclude \"qelib1.inc\";\n";

TEST_F(ZelRun, PrintsCountsStatesAndErrors) {
    const std::string reset = write("reset.qasm", V2 + "qreg q[2];\ncreg c[2];\nx q;\n"
                                                       "reset q[0];\nmeasure q -> c;\n");
    const std::string feedback =
        write("feedback.qasm", V2 + "qreg q[1];\ncreg c[2];\nx q[0];\nmeasure q[0] -> c[0];\n"
                                    "if (c==1) x q[0];\nmeasure q[0] -> c[1];\n");
    const std::string bell = write("bell.qasm", V2 + "qreg q[2];\nh q[0];\ncx q[0],q[1];\n");
    const std::string broken = write("broken.qasm", V2 + "qreg q[1];\nfoo q[0];\n");
    const std::string wide = write("wide.qasm", V2 + "qreg q[70];\nh q[0];\n");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{reset, "--shots", "5"}, zel::cli::EXIT_OK, "10 5\n", ""},
        {{feedback, "--shots", "3", "--seed", "9"}, zel::cli::EXIT_OK, "01 3\n", ""},
        {{feedback, "--shots", "4", "--json"},
         zel::cli::EXIT_OK,
         "{\"file\": \"" + feedback + "\", \"shots\": 4, \"seed\": 0, \"counts\": {\"01\": 4}}\n",
         ""},
        {{bell}, zel::cli::EXIT_OK, "00 0.5\n11 0.5\n", ""},
        {{bell, "--top", "1"}, zel::cli::EXIT_OK, "00 0.5\n", ""},
        {{broken}, zel::cli::EXIT_INPUT, "", "zel: " + broken + ":4:1: unknown gate 'foo'\n"},
        {{(dir_ / "missing.qasm").string()},
         zel::cli::EXIT_INPUT,
         "",
         "zel: cannot read " + (dir_ / "missing.qasm").string() + "\n"},
        // A carriage return in a message is a space, as a line feed is: the error stays one line.
        {{(dir_ / "carriage\rreturn.qasm").string()},
         zel::cli::EXIT_INPUT,
         "",
         "zel: cannot read " + (dir_ / "carriage return.qasm").string() + "\n"},
        {{}, zel::cli::EXIT_USAGE, "", "zel: run: file is required (see zel run --help)\n"},
        {{reset, "--shots", "0"}, zel::cli::EXIT_USAGE, "", ""},
        {{reset, "--shots", "many"}, zel::cli::EXIT_USAGE, "", ""},
        {{wide}, zel::cli::EXIT_COMPUTATION, "", ""},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const std::string& arg : c.args) {
            joined += arg + " ";
        }
        SCOPED_TRACE(joined);
        const Outcome outcome = run(c.args);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.out, c.out);
        if (!c.err.empty()) {
            EXPECT_EQ(outcome.err, c.err);
        } else if (c.status != zel::cli::EXIT_OK) {
            // One line, starting "zel: ".
            EXPECT_EQ(outcome.err.rfind("zel: ", 0), 0U) << outcome.err;
            EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << outcome.err;
        }
    }
    EXPECT_EQ(run({"--help"}).status, zel::cli::EXIT_OK);
}

}  // namespace
