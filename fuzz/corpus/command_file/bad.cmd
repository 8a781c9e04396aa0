init_clock 5 COM21 19200 modem.txt


set_jobing MAYBE trailing