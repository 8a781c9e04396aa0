set_time
init_clock 01 IP@addr1@
set_time
init_clock 01 IP@addr@
get_status status.txt
init_clock 01 COM9 9600
