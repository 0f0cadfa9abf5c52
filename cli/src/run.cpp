// `zel run FILE.qasm [--shots N] [--seed S] [--json] [--top K]`.

#include "run.hpp"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "zel/compiler/qasm.hpp"
#include "zel/core/error.hpp"
#include "zel/core/measurement.hpp"
#include "zel/core/simulator.hpp"

#include "commands.hpp"
#include "failure.hpp"
#include "json.hpp"
#include <CLI/CLI.hpp>

namespace zel::cli {
namespace {

constexpr const char* DESCRIPTION = R"(zel run: simulate an OpenQASM 2.0 or 3 program.

With measurements, prints how many of the shots gave each classical bitstring, bit c[0]
last, one "bits count" line per bitstring that occurred. A program whose measurements are all
at the end is sampled from its final state; one with mid-circuit measurement, reset or if runs
shot by shot. The counts are fixed by --seed. Without measurements, prints the most likely
basis states of the final state (qubit 0 last) and their probabilities.)";

constexpr const char* FOOTER = R"(Exit status:
  0  success
  2  usage error: unknown option, missing or malformed value
  3  the file cannot be read or is not a program this reader reads (the message names
     file:line:column)
  4  the simulation failed: too many qubits, memory exhausted, output not written
Every error is one line on standard error, starting "zel: ".)";

constexpr std::uint64_t DEFAULT_SHOTS = 1024;
constexpr std::size_t DEFAULT_TOP = 10;

struct RunOptions {
    std::string file;
    std::uint64_t shots = DEFAULT_SHOTS;
    std::uint64_t seed = 0;
    std::size_t top = DEFAULT_TOP;
    bool json = false;
};

std::string read_file(const std::string& path) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream) {
        throw Failure{EXIT_INPUT, "cannot read " + path};
    }
    std::ostringstream text;
    text << stream.rdbuf();
    if (stream.bad()) {
        throw Failure{EXIT_INPUT, "cannot read " + path};
    }
    return text.str();
}

bool has_measurements(const QasmProgram& program) {
    return std::any_of(program.instructions.begin(), program.instructions.end(),
                       [](const QasmInstruction& instruction) {
                           return instruction.kind == QasmInstructionKind::Measure;
                       });
}

void print_counts(const RunOptions& options, const std::map<std::string, std::uint64_t>& counts,
                  std::ostream& out) {
    if (options.json) {
        JsonObject counts_json;
        for (const auto& [bits, count] : counts) {
            counts_json.add_integer(bits, static_cast<std::int64_t>(count));
        }
        out << JsonObject()
                   .add_string("file", options.file)
                   .add_integer("shots", static_cast<std::int64_t>(options.shots))
                   .add_integer("seed", static_cast<std::int64_t>(options.seed))
                   .add_raw("counts", counts_json.text())
                   .text()
            << '\n';
        return;
    }
    for (const auto& [bits, count] : counts) {
        out << (bits.empty() ? "-" : bits) << ' ' << count << '\n';
    }
}

void print_probabilities(const RunOptions& options, const QasmProgram& program, std::ostream& out) {
    const std::uint64_t num_qubits = program.circuit.num_qubits;
    const std::vector<double> p = probabilities(run_circuit(program.circuit, num_qubits));
    std::vector<std::uint64_t> order;
    for (std::uint64_t k = 0; k < p.size(); ++k) {
        if (p[k] > 0.0) {
            order.push_back(k);
        }
    }
    const std::size_t shown = std::min(options.top, order.size());
    // Most likely first; equal probabilities in basis-index order.
    std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(shown),
                      order.end(), [&p](std::uint64_t a, std::uint64_t b) {
                          return p[a] != p[b] ? p[a] > p[b] : a < b;
                      });
    order.resize(shown);
    if (options.json) {
        std::string states = "[";
        for (const std::uint64_t k : order) {
            states += (states.size() > 1 ? "," : "");
            states += JsonObject()
                          .add_string("state", bitstring(k, num_qubits))
                          .add_number("probability", p[k])
                          .text();
        }
        states += "]";
        out << JsonObject()
                   .add_string("file", options.file)
                   .add_integer("num_qubits", static_cast<std::int64_t>(num_qubits))
                   .add_raw("states", states)
                   .text()
            << '\n';
        return;
    }
    for (const std::uint64_t k : order) {
        std::ostringstream line;
        line.precision(12);
        line << (num_qubits == 0 ? "-" : bitstring(k, num_qubits)) << ' ' << p[k];
        out << line.str() << '\n';
    }
}

void run_file(const RunOptions& options, std::ostream& out) {
    const std::string text = read_file(options.file);
    QasmProgram program;
    try {
        program = read_open_qasm(text);
    } catch (const ParseError& e) {
        throw Failure{EXIT_INPUT, options.file + ":" + std::to_string(e.line()) + ":" +
                                      std::to_string(e.column()) + ": " + e.reason()};
    }
    run_as_computation("run", [&] {
        if (has_measurements(program) || !program.terminal) {
            print_counts(options, run_shots(program, options.shots, options.seed), out);
        } else {
            print_probabilities(options, program, out);
        }
    });
}

}  // namespace

int run_program(std::span<const std::string> args, std::ostream& out, std::ostream& err) noexcept {
    try {
        CLI::App app(DESCRIPTION, "zel run");
        app.footer(FOOTER);
        RunOptions options;
        app.add_option("file", options.file, "the program (.qasm), OpenQASM 2.0 or 3")->required();
        app.add_option("--shots", options.shots, "number of shots (default 1024)")
            ->check(CLI::Range(std::uint64_t{1}, std::uint64_t{1} << 40));
        app.add_option("--seed", options.seed, "seed of the shots' random numbers (default 0)");
        app.add_option("--top", options.top,
                       "without measurements: how many basis states to print (default 10)")
            ->check(CLI::Range(std::size_t{1}, std::size_t{1} << 20));
        app.add_flag("--json", options.json, "print one JSON object instead of text");
        try {
            std::vector<std::string> reversed(args.rbegin(), args.rend());
            app.parse(reversed);
        } catch (const CLI::ParseError& e) {
            if (e.get_exit_code() == 0) {
                app.exit(e, out, err);
                out.flush();
                return EXIT_OK;
            }
            err << "zel: run: " << one_line(e.what()) << " (see zel run --help)\n";
            return EXIT_USAGE;
        }
        run_file(options, out);
        finish_output(out, "run: ");
        return EXIT_OK;
    } catch (...) {
        return report_failure(err, "run: ");
    }
}

}  // namespace zel::cli
