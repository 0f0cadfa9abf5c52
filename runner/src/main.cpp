// kvt_run: searches for the ground-state energy of H2 in a two-qubit encoding and prints the
// transcript of the search. Takes no arguments (any given are ignored) and reads no files.

#include "zel/core/console.hpp"

#include "run.hpp"

int main() {
    zel::console::prepare_process();
    return kvt::run();
}
