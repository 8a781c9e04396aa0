init_clock 01 COM1 9600
set_time
get_status st.txt
reset_errors
