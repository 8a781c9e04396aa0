init_clock 01 IP@addr@
finger_backup backup.txt
