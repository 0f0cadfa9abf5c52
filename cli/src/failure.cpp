// How a command of `zel` fails: one-line messages, the output's last check and the report of
// what a command threw.

#include "failure.hpp"

#include <exception>
#include <ostream>
#include <string>

namespace zel::cli {

std::string one_line(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return text;
}

void finish_output(std::ostream& out, std::string_view prefix) {
    out.flush();
    if (!out) {
        throw Failure{EXIT_COMPUTATION, std::string(prefix) + "cannot write the output"};
    }
}

int report_failure(std::ostream& err, std::string_view prefix) noexcept {
    try {
        throw;
    } catch (const Failure& failure) {
        err << "zel: " << one_line(failure.message) << '\n';
        return failure.status;
    } catch (const std::exception& e) {
        err << "zel: " << prefix << one_line(e.what()) << '\n';
        return EXIT_COMPUTATION;
    } catch (...) {
        err << "zel: " << prefix << "unknown failure\n";
        return EXIT_COMPUTATION;
    }
}

}  // namespace zel::cli
