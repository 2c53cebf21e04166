// The command function: logged and never run on the simulated board; refused without a board.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "hardware/comando.h"
#include "hwpruebas.h"

using namespace hwpruebas;

namespace {

class Comandos : public PlacaSimulada {
protected:
    Comandos() { bIniciar = false; }
};

TEST_F(Comandos, SimulatedBoardLogsTheExactLinesAndRunsNothing) {
    EXPECT_EQ(EjecutaComando("touch /mnt/ramfs/no_debe_existir"), 0);
    EXPECT_EQ(EjecutaComando("/etc/vrrp/vrrp_start.sh eth0 \"a b\"; reboot"), 0);
    EXPECT_EQ(access("/mnt/ramfs/no_debe_existir", F_OK), -1);
    EXPECT_EQ(placa->Comandos(),
              "touch /mnt/ramfs/no_debe_existir\n/etc/vrrp/vrrp_start.sh eth0 \"a b\"; reboot\n");
    EXPECT_EQ(DameFicheroComandos(), "/mnt/ramfs/simboard.sock.comandos");
}

TEST(ComandosSinPlaca, RefusedWithoutBoardOrSimulator) {
    unsetenv(VK_SIMBOARD);
    NLOG::FijaCaptura(Captura);
    EXPECT_EQ(EjecutaComando("touch /mnt/ramfs/no_debe_existir"), -1);
    EXPECT_EQ(access("/mnt/ramfs/no_debe_existir", F_OK), -1);
    EXPECT_TRUE(HayLinea("no se ejecuta \"touch /mnt/ramfs/no_debe_existir\""));
    EXPECT_EQ(EjecutaComando(nullptr), -1);
    NLOG::FijaCaptura(nullptr);
}

}  // namespace
