# bench/cabinet_size's plot: each file's compressed size as a share of the file, one bar per
# contender (stored cabinets, always 100 %, left out).
# gnuplot -e "data='cabinet_results.dat'; output='cabinet_results.png'; columns=7" cabinet_plot.gp
# The data: a header line naming the contenders, then one line per file (name, then shares).
set terminal pngcairo size 1200,600 font "sans,10" noenhanced
set output output
set title "Compressed size as a share of the file, by contender"
set ylabel "compressed / original"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set xtics rotate by -35 scale 0
set key top left box opaque
set grid ytics
set yrange [0:0.6]
plot for [i=2:columns] data using i:xtic(1) title columnheader(i)
