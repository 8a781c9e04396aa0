init_clock 01 COM1 9600
set_time
get_times records.txt
init_clock 02 IP192.0.2.20
set_time
get_times records.txt
get_status status.txt
