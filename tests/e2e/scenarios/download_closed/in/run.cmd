init_clock 01 IP@addr@
get_times times.txt
init_clock 01 IP@addr@
get_times times.txt
