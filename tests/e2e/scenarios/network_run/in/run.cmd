init_clock 01 IP@addr@
set_time
get_status status.txt
reset_errors
