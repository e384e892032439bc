# SPDX-License-Identifier: GPL-3.0-or-later
# The first start's timeline on the simulated board: one row per phase of the
# bring-up and per scanned frequency, each drawn from its start for as long as
# it took, split by what the time went to (the parts of a row are interleaved
# in reality; here they are laid end to end). Data: bench/out/timeline.dat,
# written by `tunelark-bench table`.
#
#   gnuplot -e "data='bench/out/timeline.dat'; out='docs/first-start-timeline.png'" bench/timeline.gp

if (!exists("data")) data = 'bench/out/timeline.dat'
if (!exists("out")) out = 'docs/first-start-timeline.png'

stats data using 1 nooutput
rows = STATS_max + 1
stats data using ($3 + $10) nooutput
span = STATS_max

# The libgd terminal draws with a palette: a small file for the repository.
set terminal png size 1100,1000 font "DejaVuSans,8"
set output out
set title sprintf("First start on the simulated board: where the %.2f s go (virtual time)", span) font "DejaVuSans,11"
set xlabel "simulated time since start (s)"
set xrange [0:span * 1.12]
set yrange [rows - 0.4:-0.6]
set ytics nomirror
set xtics nomirror
set grid xtics lc rgb "#dddddd"
set key top right box opaque font "DejaVuSans,9"
set style fill solid 1.0 noborder
h = 0.36

# Columns: 1 row, 2 label, 3 start, 4 wire, 5 fixed, 6 cts polls, 7 tune polls,
# 8 service-list polls, 9 other, 10 total. Laid out in the order a scanned
# ensemble meets them: bytes, clear-to-send, tune, service list, fixed pause.
# A part a row does not have is not drawn at all.
nz(x, width) = width > 0 ? x : NaN
ms(t) = t < 0.001 ? sprintf("%.0f us", t * 1e6) : sprintf("%.1f ms", t * 1000)
plot data using (nz($3 + $4/2, $4)):1:($4/2):(h):ytic(2) with boxxyerror lc rgb "#1f5fbf" title "bytes on the wire (SPI at 7.8125 MHz)", \
     '' using (nz($3 + $4 + $6/2, $6)):1:($6/2):(h) with boxxyerror lc rgb "#e08a00" title "clear-to-send polls (growing wait; chip busy inside)", \
     '' using (nz($3 + $4 + $6 + $7/2, $7)):1:($7/2):(h) with boxxyerror lc rgb "#2ca02c" title "tune-complete wait, 100 ms steps", \
     '' using (nz($3 + $4 + $6 + $7 + $8/2, $8)):1:($8/2):(h) with boxxyerror lc rgb "#8c4fbf" title "service-list wait, 200 ms steps", \
     '' using (nz($3 + $4 + $6 + $7 + $8 + $5/2, $5)):1:($5/2):(h) with boxxyerror lc rgb "#999999" title "fixed waits (reset pulse, 50/100 ms, 1000 ms per ensemble)", \
     '' using (nz($3 + $4 + $5 + $6 + $7 + $8 + $9/2, $9)):1:($9/2):(h) with boxxyerror lc rgb "#d62728" title "other waits", \
     '' using ($3 + $10 + span * 0.005):1:(ms($10)) with labels left font "DejaVuSans,7" notitle
