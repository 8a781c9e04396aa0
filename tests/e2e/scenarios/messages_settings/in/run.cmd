init_clock 01 IP@addr@
set_message messages.txt
set_daylight daylight.txt
set_modem modem.txt
set_logo logo.txt
set_code 4321
set_jobing ON
set_jobing OFF
key_board ON
key_board OFF
