init_clock 01 IP@addr@
set_pinnumbers pins.txt
set_pinnumbers bad.txt
