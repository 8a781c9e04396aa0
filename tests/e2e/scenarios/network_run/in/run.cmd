init_clock 01 IP@addr@
set_time
get_status status.txt
reset_errors
clear_all_messages
