init_clock 03 IP127.0.0.9
key_board ON
set_code 1234
set_jobnumbers j.dat 1
system_reset