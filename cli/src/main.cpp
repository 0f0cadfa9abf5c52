// zel: the command-line tool for everyday jobs on molecules; see `zel --help`.

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "commands.hpp"

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
    return zel::cli::run(args, std::cout, std::cerr);
}
