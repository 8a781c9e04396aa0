init_clock 01 IP@addr@
get_times times.txt
get_message_list messages.out
get_times times.txt
