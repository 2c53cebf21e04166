// Shell commands of the system (VRRP scripts, reboot, killall, ntpdate, ntpd, ifconfig): every
// one goes through EjecutaComando. On the simulated board (VK_SIMBOARD set) the exact command
// line is appended to the board's command log, <VK_SIMBOARD>.comandos, and nothing runs. On a
// machine with neither the board's drivers nor the simulated board nothing runs either.
#pragma once

#include <string>

// system()'s result on the board; 0 when logged on the simulated board; -1 when refused.
int EjecutaComando(const char* szComando);

// Path of the command log of the simulated board, empty when there is none.
std::string DameFicheroComandos();
