init_clock 01 COM2 9600 modem.txt
reset_errors
