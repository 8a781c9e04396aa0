init_clock 01 IP@addr@
set_message messages.txt
set_daylight daylight.txt
set_modem modem.txt
set_logo logo.txt
set_code 4321
key_board OFF
