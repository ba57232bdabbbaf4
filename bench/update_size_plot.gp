# bench/update_size's plot: the changed and added files of each release pair, by contender (added
# files as xz -9e for the others).
# gnuplot -e "data='plot.dat'; output='update_size_results.png'" update_size_plot.gp
set terminal pngcairo size 900,500 font "sans,10" noenhanced
set output output
set title "Delta of the changed files, bytes (smaller is better)"
set ylabel "bytes"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set key top left box opaque
set grid ytics
set yrange [0:*]
plot for [i=2:5] data using i:xtic(1) title columnheader(i)
