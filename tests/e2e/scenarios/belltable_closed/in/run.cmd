init_clock 01 IP@addr@
set_belltable bells.txt
