init_clock 01 IP127.0.0.1
set_time
get_status status.txt
reset_errors
