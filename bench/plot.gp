# Achieved bandwidth as a fraction of the probe, against the qubit count.
# gnuplot -e "data='bench.dat'; out='docs/performance.png'; threads='one thread'" bench/plot.gp
if (!exists("data")) data = 'bench.dat'
if (!exists("out")) out = 'docs/performance.png'
if (!exists("threads")) threads = 'one thread'
set terminal pngcairo size 900,560 font ",11"
set output out
set title sprintf("Core kernels: fraction of the same binary's bandwidth probe (%s)", threads)
set xlabel "qubits n (state of 16 * 2^n bytes)"
set ylabel "achieved / probe bandwidth"
set key outside right top
set grid
set yrange [0:*]
set xtics (2, 10, 16, 20, 22, 24, 26)
set style data linespoints
plot for [column = 2:8] data using 1:column title columnheader(column)
