# bench/installer_size's plot: each installer's size in MB, one bar per contender.
# gnuplot -e "data='installer_results.dat'; output='installer_results.png'" installer_plot.gp
# The data: one line per contender, its name (quoted) and its size in bytes.
set terminal pngcairo size 900,500 font "sans,10" noenhanced
set output output
set title "Installer of the same folder: size"
set ylabel "MB"
set style fill solid 0.85 border -1
set boxwidth 0.6
set xtics rotate by -25 scale 0
set grid ytics
set yrange [0:*]
unset key
plot data using 0:($2/1e6):xtic(1) with boxes, \
     data using 0:($2/1e6):(sprintf("%.2f", $2/1e6)) with labels offset 0,1
