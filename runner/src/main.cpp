// kvt_run: searches for the ground-state energy of H2 in a two-qubit encoding and prints the
// transcript of the search. Takes no arguments (any given are ignored) and reads no files.

#include "process.hpp"
#include "run.hpp"

int main() {
    kvt::prepare_process();
    return kvt::run_guarded([] {
        return kvt::run();
    });
}
