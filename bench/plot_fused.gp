# Time of random H/RX/RZ/CX circuits, gate by gate and fused, against the qubit count.
# python3 bench/ratios.py fused results.json --plot fused.dat
# gnuplot -e "data='fused.dat'; out='docs/fused.png'; gates=200; threads='1'" bench/plot_fused.gp
if (!exists("data")) data = 'fused.dat'
if (!exists("out")) out = 'docs/fused.png'
if (!exists("gates")) gates = 200
if (!exists("threads")) threads = '1'
set terminal pngcairo size 900,560 font ",11"
set output out
set title sprintf("Random %d-gate circuits (H, RX, RZ, CX), %s thread(s): per gate and fused", gates, threads)
set xlabel "qubits n"
set ylabel "time (ms)"
set logscale y
set key left top
set grid
set style data linespoints
# Columns: n gates k threads per_gate_ms fused_ms; threads is 1 or 0 (all).
sel(k) = sprintf("< awk '$2 == %d && $3 == %d && $4 == \"%s\"' %s", gates, k, threads, data)
plot sel(3) using 1:5 title "per gate (exact kernels)", \
     for [k = 2:5] sel(k) using 1:6 title sprintf("fused, blocks mixing at most %d qubits", k)
