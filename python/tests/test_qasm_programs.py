"""OpenQASM programs with measurements from Python: read_open_qasm, run_shots (counts as a dict,
fixed by the seed), mid-circuit measurement, reset and conditions, the export of a program and
parse errors with their place."""

import threading

import pytest
import zel

V2 = 'OPENQASM 2.0;\ninclude "qelib1.inc";\n'
V3 = 'OPENQASM 3.0;\ninclude "stdgates.inc";\n'

TELEPORT_ONE = V2 + """qreg q[3];
creg m0[1];
creg m1[1];
creg out[1];
x q[0];
h q[1];
cx q[1], q[2];
cx q[0], q[1];
h q[0];
measure q[0] -> m0[0];
measure q[1] -> m1[0];
if (m1 == 1) x q[2];
if (m0 == 1) z q[2];
measure q[2] -> out[0];
"""


@pytest.mark.parametrize(
    "text, allowed",
    [
        pytest.param(V2 + "qreg q[2];\ncreg c[2];\nx q;\nmeasure q -> c;\n", {"11"},
                     id="terminal"),
        pytest.param(V2 + "qreg q[1];\ncreg c[1];\nx q[0];\nreset q[0];\nmeasure q -> c;\n",
                     {"0"}, id="reset of |1>"),
        pytest.param(V2 + "qreg q[1];\ncreg c[2];\nx q[0];\nmeasure q[0] -> c[0];\n"
                     "if (c==1) x q[0];\nmeasure q[0] -> c[1];\n", {"01"}, id="if (c==1)"),
        pytest.param(V3 + "qubit[2] q;\nbit[2] c;\nh q[0];\ncx q[0], q[1];\n"
                     "c[0] = measure q[0];\nif (c[0]) { x q[1]; }\nc[1] = measure q[1];\n",
                     {"00", "01"}, id="Bell pair corrected"),
        pytest.param(TELEPORT_ONE, {"100", "101", "110", "111"}, id="teleport |1>"),
    ],
)
def test_counts_follow_the_program(text, allowed):
    program = zel.read_open_qasm(text)
    counts = zel.run_shots(program, 100, 3)
    assert isinstance(counts, dict)
    assert set(counts) == allowed
    assert sum(counts.values()) == 100
    assert counts == zel.run_shots(program, 100, 3)


def test_program_fields():
    terminal = zel.read_open_qasm(V2 + "qreg q[2];\ncreg c[3];\nh q[0];\nmeasure q[0] -> c[2];\n")
    assert terminal.terminal
    assert terminal.num_clbits == 3
    assert terminal.measurements == [(0, 2)]
    assert terminal.circuit.num_qubits == 2

    dynamic = zel.read_open_qasm(TELEPORT_ONE)
    assert not dynamic.terminal
    assert dynamic.measurements == []
    kinds = [i.kind for i in dynamic.instructions]
    assert kinds.count("measure") == 3
    conditioned = [i.condition for i in dynamic.instructions if i.condition is not None]
    assert (1, 1, 1, True) in conditioned and (0, 1, 1, True) in conditioned


def test_export_reads_back():
    program = zel.read_open_qasm(TELEPORT_ONE)
    text = zel.to_open_qasm(program)
    assert text.startswith("OPENQASM 3.0;")
    assert "if (c[1] == 1) {" in text
    assert zel.read_open_qasm(text).instructions == program.instructions


def test_run_shots_is_the_same_from_two_python_threads():
    program = zel.read_open_qasm(TELEPORT_ONE)
    expected = zel.run_shots(program, 200, 9)
    results = []
    threads = [threading.Thread(target=lambda: results.append(zel.run_shots(program, 200, 9)))
               for _ in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert results == [expected, expected]


@pytest.mark.parametrize(
    "text, line, column, reason",
    [
        pytest.param(V3 + "qubit[1] q;\nbit[2] c;\nif (c) x q[0];\n", 5, 5,
                     "register 'c' holds 2 bits: compare it with an integer, as in (c == 1)",
                     id="register as a condition"),
        pytest.param(V3 + "qubit[1] q;\nbit[1] c;\nif (c[0]) if (c[0]) x q[0];\n", 5, 11,
                     "a nested 'if' is not supported: combine the conditions", id="nested if"),
        pytest.param(V2 + "qreg q[1];\ncreg c[1];\nif (c == 1) { x q[0]; }\n", 5, 13,
                     "OpenQASM 2.0 conditions one statement, not a block", id="version 2 block"),
    ],
)
def test_parse_errors_name_the_place(text, line, column, reason):
    with pytest.raises(zel.ParseError) as raised:
        zel.read_open_qasm(text)
    assert (raised.value.line, raised.value.column, raised.value.reason) == (line, column, reason)


def test_run_shots_arguments():
    program = zel.read_open_qasm(TELEPORT_ONE)
    with pytest.raises((TypeError, ValueError, OverflowError)):
        zel.run_shots(program, -1, 0)
    assert zel.run_shots(program, 0, 0) == {}


def test_inputs_take_the_given_values():
    text = V3 + "input float theta;\nqubit[1] q;\nbit[1] c;\nrx(theta) q[0];\nc = measure q;\n"
    program = zel.read_open_qasm(text, {"theta": 3.141592653589793})
    assert program.inputs == ["theta"]
    assert program.circuit[0].params == [3.141592653589793]
    assert zel.run_shots(program, 10, 1) == {"1": 10}
    with pytest.raises(zel.ParseError):
        zel.read_open_qasm(text)
    with pytest.raises(zel.InvalidArgument):
        zel.read_open_qasm(text, {"theta": 0.0, "phi": 1.0})


@pytest.mark.parametrize(
    "text, where",
    [
        pytest.param(V2 + "qreg q[1];\ncreg c[1];\nmeasure q[0] -> c[0];\nx q[0];\n",
                     "line 6, column 1: a gate on qubit 0 after its measurement", id="measure"),
        pytest.param(V3 + "qubit q;\nreset q;\n", "line 4, column 1: 'reset'", id="reset"),
        pytest.param(TELEPORT_ONE, "line 14, column 1: classical control ('if')", id="if"),
    ],
)
def test_programs_that_are_not_one_unitary_give_no_circuit(text, where):
    program = zel.read_open_qasm(text)
    assert program.non_unitary == where
    with pytest.raises(zel.InvalidArgument, match="not one unitary"):
        program.circuit
    with pytest.raises(zel.InvalidArgument, match="not one unitary"):
        program.bound_circuit([])
    with pytest.raises(zel.InvalidArgument, match="not one unitary"):
        zel.QasmEnergyFn(program, zel.parse_pauli_sum("Z0"))


def test_bound_inputs_give_the_program_read_with_them():
    text = (V3 + "input float theta;\ninput angle phi;\nqubit[2] q;\n"
            "gate g(a) x, y { ry(a ** 2) x; crz(sin(a)) x, y; }\n"
            "g(theta) q[0], q[1];\ninv @ rx(phi - theta) q[1];\n")
    program = zel.read_open_qasm(text, {"theta": 0.0, "phi": 0.0})
    hamiltonian = zel.parse_pauli_sum("Z0 + 0.5 * X0 X1")
    energy = zel.QasmEnergyFn(program, hamiltonian)
    assert energy.num_inputs == 2
    for theta, phi in [(0.25, -1.5), (3.0, 0.0)]:
        direct = zel.read_open_qasm(text, {"theta": theta, "phi": phi})
        assert program.bind([theta, phi]).instructions == direct.instructions
        assert program.bind({"phi": phi, "theta": theta}).instructions == direct.instructions
        assert program.bound_circuit([theta, phi]) == direct.circuit
        assert energy([theta, phi]) == zel.evaluate_circuit_energy(
            zel.ZarnikState(2), direct.circuit, hamiltonian)
    with pytest.raises(zel.InvalidArgument, match="2 inputs"):
        program.bind([1.0])
    with pytest.raises(zel.InvalidArgument, match="no value for the input 'phi'"):
        program.bind({"theta": 1.0})
    with pytest.raises(zel.InvalidArgument, match="no input 'psi'"):
        program.bind({"theta": 1.0, "phi": 2.0, "psi": 3.0})
    with pytest.raises(TypeError):
        program.bind("ab")
    with pytest.raises(zel.InvalidArgument):
        energy([1.0, 2.0, 3.0])
