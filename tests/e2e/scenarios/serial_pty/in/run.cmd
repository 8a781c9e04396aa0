init_clock 03 COM4 9600
get_status status.txt
system_reset
