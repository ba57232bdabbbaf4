# The benchmark's plot: median wall time against archive size, one line per contender.
# gnuplot -e "data='plot.dat'; output='results.png'; columns=8; dashed=4" plot.gp
# plot.dat: a header line naming the columns (MiB, then the contenders), then one line per size.
# dashed: the column of a contender that is not a product (drawn dashed), or 0.
set terminal pngcairo size 960,600 font "sans,11"
set output output
set title "Time to put the payload on disk and run the setup program (Wine, median of rounds)"
set xlabel "archive size (MiB)"
set ylabel "wall time (s)"
set logscale x 2
set xtics (16, 32, 64, 128, 256, 512, 1024)
set key top left box opaque
set grid
set yrange [0:*]
if (!exists("dashed")) dashed = 0
plot for [i=2:columns] data using 1:i with linespoints lw 2 pt 7 dt 1 + (i == dashed) \
  title columnheader(i)
