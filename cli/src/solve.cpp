#include "solve.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "zel/chem/vqe.hpp"
#include "zel/compiler/qasm.hpp"
#include "zel/core/float_text.hpp"

#include "commands.hpp"

namespace zel::cli {
namespace {

/// Chemical accuracy: 1 kcal/mol, in hartree.
constexpr double CHEMICAL_ACCURACY = 1.6e-3;

std::string scientific(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2e", value);
    return text;
}

std::string millihartree(double value) {
    return format_fixed(value * 1e3, 6);
}

std::string number_array(std::span<const double> values) {
    std::string text = "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        text += (i == 0 ? "" : ", ") + json_number(values[i]);
    }
    return text + "]";
}

std::string string_array(std::span<const std::string> values) {
    std::string text = "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        text += (i == 0 ? "" : ", ") + json_string(values[i]);
    }
    return text + "]";
}

chem::AdaptPool pool_of(const std::string& name) {
    if (name == "generalized") {
        return chem::AdaptPool::GeneralizedFermionic;
    }
    if (name == "qubit") {
        return chem::AdaptPool::Qubit;
    }
    if (name == "pauli") {
        return chem::AdaptPool::PauliString;
    }
    if (name == "generalized-qubit") {
        return chem::AdaptPool::GeneralizedQubit;
    }
    return chem::AdaptPool::Fermionic;
}

chem::VqeOptimizer optimizer_of(const std::string& name) {
    if (name == "nelder-mead") {
        return chem::VqeOptimizer::NelderMead;
    }
    if (name == "cobyla") {
        return chem::VqeOptimizer::Cobyla;
    }
    return chem::VqeOptimizer::Lbfgs;
}

chem::VqeOptions vqe_options(const SolveOptions& options) {
    chem::VqeOptions vqe;
    vqe.optimizer = optimizer_of(options.optimizer);
    vqe.optimize.gradient_tolerance = options.optimizer_tolerance;
    vqe.optimize.max_evaluations = options.max_evaluations;
    if (vqe.optimizer != chem::VqeOptimizer::Lbfgs) {
        // The derivative-free methods have no gradient: they stop on small energy changes.
        vqe.optimize.energy_tolerance = 1e-10;
    }
    vqe.threads = options.threads;
    vqe.seed = options.seed;
    return vqe;
}

chem::VqeProblem vqe_problem(const Problem& problem) {
    const chem::Reduction reduction = problem.reduction == "two-qubit"  ? chem::Reduction::TwoQubit
                                      : problem.reduction == "tapering" ? chem::Reduction::Tapering
                                                                        : chem::Reduction::None;
    return chem::make_vqe_problem(problem.data.integrals, problem.sector, problem.mapping,
                                  problem.ordering, reduction);
}

/// The --qasm file, opened before the solve so that a path that cannot be written fails at once.
std::ofstream open_qasm(const std::string& file) {
    std::ofstream out;
    if (!file.empty()) {
        out.open(file, std::ios::binary);
        if (!out) {
            throw Failure{EXIT_COMPUTATION, "--qasm " + file + ": cannot write the file"};
        }
    }
    return out;
}

void write_qasm(std::ofstream& out, const std::string& file, const chem::TiedAnsatz& ansatz,
                std::uint64_t reference) {
    if (file.empty()) {
        return;
    }
    out << to_open_qasm(chem::prepared_circuit(ansatz, reference));
    out.flush();
    if (!out) {
        throw Failure{EXIT_COMPUTATION, "--qasm " + file + ": cannot write the file"};
    }
}

std::string accuracy_word(double error) {
    return std::abs(error) <= CHEMICAL_ACCURACY ? "yes" : "no";
}

void print_header(std::ostream& out, const char* method, const SolveOptions& options,
                  const Problem& problem, double exact, double reference) {
    out << method << " on " << options.molecule.file << '\n'
        << "qubits:               " << describe_register(options.molecule, problem) << '\n'
        << "exact energy:         " << format_fixed(exact, 10) << " Ha\n"
        << "Hartree-Fock energy:  " << format_fixed(reference, 10) << " Ha (error "
        << millihartree(reference - exact) << " mHa)\n";
}

void print_final(std::ostream& out, double energy, double exact) {
    const double error = energy - exact;
    out << "final energy:         " << format_fixed(energy, 10) << " Ha\n"
        << "error:                " << millihartree(error) << " mHa ("
        << (std::abs(error) <= CHEMICAL_ACCURACY ? "within" : "outside")
        << " chemical accuracy, 1.6 mHa)\n";
}

void run_adapt(const SolveOptions& options, std::ostream& out) {
    if ((options.pool == "qubit" || options.pool == "pauli" ||
         options.pool == "generalized-qubit") &&
        options.molecule.mapping != "jordan-wigner") {
        throw Failure{EXIT_USAGE, "--pool " + options.pool +
                                      ": qubit excitations act on occupation qubits and need "
                                      "--mapping jordan-wigner"};
    }
    if (options.spin_complement && options.pool == "pauli") {
        throw Failure{EXIT_USAGE,
                      "--spin-complement pairs excitations, not the Pauli strings of --pool pauli"};
    }
    const Problem problem = build_problem(options.molecule);
    std::ofstream qasm = open_qasm(options.qasm);
    const double exact = exact_energy(problem);
    const chem::VqeProblem vqe = vqe_problem(problem);
    chem::AdaptOptions adapt;
    adapt.pool = pool_of(options.pool);
    adapt.spin_complement = options.spin_complement;
    adapt.gradient_tolerance = options.gradient_tolerance;
    adapt.energy_tolerance = options.energy_tolerance;
    adapt.max_operators = options.max_operators;
    adapt.vqe = vqe_options(options);
    const bool text = !options.molecule.json;
    if (text) {
        const double reference = basis_state_energy(vqe.hamiltonian, vqe.reference_index);
        print_header(out, "ADAPT-VQE", options, problem, exact, reference);
        out << "pool:                 " << options.pool << ", "
            << chem::make_pool(vqe, adapt.pool, adapt.spin_complement).size() << " operators\n"
            << "iter  energy (Ha)      error (mHa)  |gradient|  chem. acc.  operator\n";
        out.flush();
        adapt.callback = [&](const chem::AdaptIteration& it) {
            char line[96];
            std::snprintf(line, sizeof line, "%4zu  %-15s  %11s  %10s  %-10s  ", it.iteration,
                          format_fixed(it.energy, 10).c_str(),
                          format_fixed((it.energy - exact) * 1e3, 6).c_str(),
                          scientific(it.gradient_norm).c_str(),
                          accuracy_word(it.energy - exact).c_str());
            out << line << it.label << '\n';
            out.flush();
        };
    }
    const chem::AdaptResult result = chem::adapt_vqe(vqe, adapt);
    write_qasm(qasm, options.qasm, result.ansatz, vqe.reference_index);
    if (text) {
        out << "stopped:              " << chem::adapt_stop_name(result.stop) << " after "
            << result.iterations.size()
            << (result.iterations.size() == 1 ? " iteration" : " iterations")
            << ", pool gradient norm " << scientific(result.final_gradient_norm) << ", "
            << format_fixed(result.seconds, 2) << " s\n";
        print_final(out, result.energy, exact);
        return;
    }
    std::vector<double> energies;
    std::vector<double> norms;
    std::vector<double> gradients;
    std::vector<double> seconds;
    std::vector<std::string> labels;
    for (const chem::AdaptIteration& it : result.iterations) {
        energies.push_back(it.energy);
        norms.push_back(it.gradient_norm);
        gradients.push_back(it.gradient);
        seconds.push_back(it.seconds);
        labels.push_back(it.label);
    }
    out << problem_json("adapt", options.molecule, problem)
               .add_string("pool", options.pool)
               .add_bool("spin_complement", options.spin_complement)
               .add_string("optimizer", options.optimizer)
               .add_number("exact_energy", exact)
               .add_number("reference_energy", result.reference_energy)
               .add_number("energy", result.energy)
               .add_number("error", result.energy - exact)
               .add_bool("chemical_accuracy", std::abs(result.energy - exact) <= CHEMICAL_ACCURACY)
               .add_string("stop_reason", chem::adapt_stop_name(result.stop))
               .add_number("final_gradient_norm", result.final_gradient_norm)
               .add_raw("energies", number_array(energies))
               .add_raw("gradient_norms", number_array(norms))
               .add_raw("gradients", number_array(gradients))
               .add_raw("operators", string_array(labels))
               .add_raw("parameters", number_array(result.parameters))
               .add_raw("iteration_seconds", number_array(seconds))
               .add_number("seconds", result.seconds)
               .text()
        << '\n';
}

void run_uccsd(const SolveOptions& options, std::ostream& out) {
    const Problem problem = build_problem(options.molecule);
    std::ofstream qasm = open_qasm(options.qasm);
    const double exact = exact_energy(problem);
    const chem::VqeProblem vqe = vqe_problem(problem);
    const chem::VqeOptions settings = vqe_options(options);
    const bool k_up = options.ansatz == "k-upccgsd";
    const chem::VqeResult result =
        k_up ? chem::k_upccgsd(vqe, options.layers, settings) : chem::uccsd(vqe, settings);
    write_qasm(qasm, options.qasm, result.ansatz, vqe.reference_index);
    const OptimizeResult& opt = result.optimization;
    if (!options.molecule.json) {
        print_header(out, k_up ? "k-UpCCGSD" : "UCCSD", options, problem, exact,
                     result.reference_energy);
        out << "ansatz:               " << options.ansatz;
        if (k_up) {
            out << ", k = " << options.layers;
        }
        out << ", " << result.parameters.size() << " parameters\n"
            << "optimizer:            " << options.optimizer << ", " << opt.iterations
            << " iterations, " << opt.evaluations << " evaluations, stopped by "
            << stop_reason_name(opt.reason) << ", " << format_fixed(result.seconds, 2) << " s\n";
        print_final(out, result.energy, exact);
        return;
    }
    JsonObject json = problem_json("uccsd", options.molecule, problem);
    json.add_string("ansatz", options.ansatz);
    if (k_up) {
        json.add_integer("layers", static_cast<std::int64_t>(options.layers));
    }
    out << json.add_string("optimizer", options.optimizer)
               .add_number("exact_energy", exact)
               .add_number("reference_energy", result.reference_energy)
               .add_number("energy", result.energy)
               .add_number("error", result.energy - exact)
               .add_bool("chemical_accuracy", std::abs(result.energy - exact) <= CHEMICAL_ACCURACY)
               .add_string("stop_reason", stop_reason_name(opt.reason))
               .add_integer("iterations", static_cast<std::int64_t>(opt.iterations))
               .add_integer("evaluations", static_cast<std::int64_t>(opt.evaluations))
               .add_raw("operators", string_array(result.operators))
               .add_raw("parameters", number_array(result.parameters))
               .add_number("seconds", result.seconds)
               .text()
        << '\n';
}

}  // namespace

CLI::App* add_solve_command(CLI::App& app, SolveOptions& options, bool adapt) {
    CLI::App* command =
        adapt ? app.add_subcommand(
                    "adapt",
                    wrapped("ground-state energy by ADAPT-VQE: from the Hartree-Fock state, "
                            "repeatedly add the pool operator with the largest energy gradient "
                            "and re-optimise all parameters, until the pool's gradient norm is "
                            "small; one progress line per operator, with the error against the "
                            "exact energy"))
              : app.add_subcommand(
                    "uccsd",
                    wrapped("ground-state energy of a fixed ansatz from the Hartree-Fock state: "
                            "unitary coupled cluster with singles and doubles (UCCSD), or "
                            "k-UpCCGSD, with all parameters optimised at once"));
    add_molecule_options(*command, options.molecule);
    // CLI11 converts "-1" to an unsigned count by wrapping it; counts are checked as text.
    const CLI::Validator count(
        [](std::string& text) {
            return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos
                       ? std::string()
                       : "expected a count (0, 1, 2, ...), not '" + text + "'";
        },
        "COUNT");
    const CLI::Validator positive(
        [](std::string& text) {
            return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos &&
                           text.find_first_not_of('0') != std::string::npos
                       ? std::string()
                       : "expected a count of at least 1, not '" + text + "'";
        },
        "COUNT>0");
    const CLI::Validator tolerance(
        [](std::string& text) {
            char* end = nullptr;
            const double value = std::strtod(text.c_str(), &end);
            return !text.empty() && end == text.c_str() + text.size() && std::isfinite(value) &&
                           value >= 0.0
                       ? std::string()
                       : "expected a finite number at or above 0 (hartree), not '" + text + "'";
        },
        "HARTREE");
    if (adapt) {
        command
            ->add_option("--pool", options.pool,
                         wrapped("operators ADAPT chooses from: fermionic (singles and doubles "
                                 "from the Hartree-Fock state, default), generalized (all "
                                 "spin-preserving singles and doubles), qubit (the same as qubit "
                                 "excitations, without parity strings), pauli (their single "
                                 "Pauli strings), generalized-qubit (the generalized list as "
                                 "qubit excitations)"))
            ->check(
                CLI::IsMember({"fermionic", "generalized", "qubit", "pauli", "generalized-qubit"}));
        command->add_flag("--spin-complement", options.spin_complement,
                          wrapped("pair each excitation with its spin complement (every "
                                  "orbital's spin exchanged) as one operator with one parameter, "
                                  "as spin-adapted pools do; fewer operators for closed-shell "
                                  "molecules"));
        command
            ->add_option("--gradient-tolerance", options.gradient_tolerance,
                         wrapped("stop when the norm of all pool gradients is at or below this "
                                 "(hartree; default 1e-3)"))
            ->check(tolerance);
        command
            ->add_option("--energy-tolerance", options.energy_tolerance,
                         wrapped("also stop when an operator lowers the energy by less than "
                                 "this (hartree; default 0, off)"))
            ->check(tolerance);
        command
            ->add_option("--max-operators", options.max_operators,
                         wrapped("most operators in the ansatz (default 100)"))
            ->check(positive);
    } else {
        command
            ->add_option("--ansatz", options.ansatz,
                         wrapped("uccsd (singles and doubles from the Hartree-Fock state, "
                                 "default) or k-upccgsd (k layers of generalised singles and "
                                 "paired doubles)"))
            ->check(CLI::IsMember({"uccsd", "k-upccgsd"}));
        command
            ->add_option("--layers", options.layers,
                         wrapped("k of k-UpCCGSD (default 1); its start is drawn from --seed"))
            ->check(positive);
    }
    command
        ->add_option("--optimizer", options.optimizer,
                     wrapped("parameter optimiser: lbfgs (exact gradients, default), "
                             "nelder-mead or cobyla (derivative-free)"))
        ->check(CLI::IsMember({"lbfgs", "nelder-mead", "cobyla"}));
    command
        ->add_option("--optimizer-tolerance", options.optimizer_tolerance,
                     wrapped("each optimisation stops when the parameters' gradient norm is at "
                             "or below this (hartree; default 1e-6)"))
        ->check(tolerance);
    command
        ->add_option("--max-evaluations", options.max_evaluations,
                     wrapped("most energy evaluations per optimisation (default 10000)"))
        ->check(positive);
    command
        ->add_option("--threads", options.threads,
                     wrapped("threads of the state-vector passes (default: the library's); "
                             "results are the same for any count"))
        ->check(count);
    command->add_option("--seed", options.seed, wrapped("seed of random starting values"))
        ->check(count);
    command->add_option("--qasm", options.qasm,
                        wrapped("write the final circuit (Hartree-Fock preparation and ansatz, "
                                "Pauli rotations written as H, RX, CX and RZ) to this file as "
                                "OpenQASM 3"));
    command->footer(exit_status_footer());
    return command;
}

void run_solve(const SolveOptions& options, bool adapt, std::ostream& out) {
    if (adapt) {
        run_adapt(options, out);
    } else {
        run_uccsd(options, out);
    }
}

}  // namespace zel::cli
