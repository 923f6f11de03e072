# Round-trip latency CDF of the three contenders, unpinned (solid) and with the whole chain on
# one CPU (dashed); run by bench/run with `-e "dir='...'"`.
set terminal pngcairo size 900,560 font "sans,11"
set output dir."/rtt-cdf.png"
set title "isready -> readyok round trip"
set xlabel "round trip (microseconds, log scale)"
set ylabel "fraction of round trips"
set logscale x
set grid
set key bottom right
set yrange [0:1]
plot dir."/rtt-direct.dat" using 1:2 with lines lw 2 lc 1 title "direct", \
     dir."/rtt-socat.dat" using 1:2 with lines lw 2 lc 2 title "socat", \
     dir."/rtt-kestrowan.dat" using 1:2 with lines lw 2 lc 3 title "kestrowan", \
     dir."/rtt1-direct.dat" using 1:2 with lines lw 2 lc 1 dt 2 title "direct, one CPU", \
     dir."/rtt1-socat.dat" using 1:2 with lines lw 2 lc 2 dt 2 title "socat, one CPU", \
     dir."/rtt1-kestrowan.dat" using 1:2 with lines lw 2 lc 3 dt 2 title "kestrowan, one CPU"
