// zel: the command-line tool for everyday jobs on molecules; see `zel --help`.

#include <csignal>
#include <iostream>
#include <span>
#include <string>
#include <vector>

#include "commands.hpp"
#include "run.hpp"

int main(int argc, char** argv) {
    // A reader that goes away (`zel hamiltonian x | head`) makes writes fail instead of killing
    // the process; the failure is reported as output not written.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> args;
    try {
        args.assign(argv + 1, argv + argc);
    } catch (...) {
        std::cerr << "zel: out of memory\n";
        return zel::cli::EXIT_COMPUTATION;
    }
    if (!args.empty() && args.front() == "run") {
        return zel::cli::run_program(std::span<const std::string>(args).subspan(1), std::cout,
                                     std::cerr);
    }
    return zel::cli::run(args, std::cout, std::cerr);
}
