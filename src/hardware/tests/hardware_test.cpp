// Board half of the hardware layer against the simulated board: set-up, clocks, identity,
// outputs, switch points, audio slots, compression and discrete inputs.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "comun/tiempo.h"
#include "hwpruebas.h"

using namespace hwpruebas;

namespace {

class SinIniciar : public PlacaSimulada {
protected:
    SinIniciar() { bIniciar = false; }
};

TEST_F(SinIniciar, EveryCallBeforeStartUpReturnsMinusOne) {
    uint32_t uiPalabra = 0;
    CEntidadGrabadora e;
    int16_t muestras[80];
    int iLong = 160;
    const std::vector<std::pair<const char*, int>> casos = {
        {"hwDameTiempo", static_cast<int>(hwDameTiempo())},
        {"hwDameTiempoMs", static_cast<int>(hwDameTiempoMs())},
        {"hwEscribeRtimer", hwEscribeRtimer(1)},
        {"hwLeeEstado", hwLeeEstado()},
        {"hwDimeHwOk", hwDimeHwOk()},
        {"hwHaySlic", hwHaySlic()},
        {"hwLeeEstadoFA", hwLeeEstadoFA()},
        {"hwLeeModoSlots", hwLeeModoSlots()},
        {"hwDameTipoHw", hwDameTipoHw()},
        {"hwDimePresenciaModulo", hwDimePresenciaModulo(0)},
        {"hwDimeIdHwSlot", hwDimeIdHwSlot(0, &uiPalabra)},
        {"hwResetDsp", hwResetDsp()},
        {"hwResetDspForzado", hwResetDspForzado()},
        {"hwConectaSlot", hwConectaSlot(0)},
        {"hwDesconectaGrupoSlots", hwDesconectaGrupoSlots(0)},
        {"hwHabilitaTxCanalAudio", hwHabilitaTxCanalAudio(0)},
        {"hwHabilitaCompresion_CanalB", hwHabilitaCompresion_CanalB(0, 0, 0)},
        {"hwRegistraEventosEntrada", hwRegistraEventosEntrada(0, &e)},
        {"hwCompruebaEntrada", hwCompruebaEntrada(0, 1)},
        {"hwMarcaEntrada", hwMarcaEntrada(0)},
        {"hwIniciaSlic", hwIniciaSlic(0, 1, 0, 0, 0)},
        {"hwCompruebaSlic", hwCompruebaSlic(0)},
        {"hwSlicTs", hwSlicTs(0, 5)},
        {"hwRegistraEventosSlic", hwRegistraEventosSlic(0, &e, nullptr)},
        {"hwAbreTimeslot", hwAbreTimeslot(0)},
        {"hwDameMuestras", hwDameMuestras(0, reinterpret_cast<uint8_t*>(muestras), &iLong)},
        {"hwDesconectaSlot", hwDesconectaSlot(0)},
        {"hwEscribeIndiceE10", hwEscribeIndiceE10(0)},
        {"hwConectaGrupoSlots", hwConectaGrupoSlots(0)},
        {"hwDesabilitaTxCanalAudio", hwDesabilitaTxCanalAudio(0)},
        {"hwHabilitaRxCanalAudio", hwHabilitaRxCanalAudio(0)},
        {"hwDesabilitaRxCanalAudio", hwDesabilitaRxCanalAudio(0)},
        {"hwDeshabilitaCompresion_CanalB", hwDeshabilitaCompresion_CanalB(0, 0, 0)},
        {"hwAbreSlic", hwAbreSlic(0)},
        {"hwCierraSlic", hwCierraSlic(0)},
        {"hwConfiguraSlic", hwConfiguraSlic(0)},
        {"hwCompruebaModoSlic", hwCompruebaModoSlic(0)},
        {"hwSupervisaSlic", hwSupervisaSlic(0)},
        {"hwSlicGananciaTx", hwSlicGananciaTx(0, 1)},
        {"hwSlicGananciaRx", hwSlicGananciaRx(0, 1)},
        {"hwSlicCodec", hwSlicCodec(0, 8)},
        {"hwSilenciaRxSlic", hwSilenciaRxSlic(0)},
        {"hwRestauraRxSlic", hwRestauraRxSlic(0)},
        {"hwEscribeM14", hwEscribeM14(0, 1)},
        {"hwResetSlic", hwResetSlic(0)},
        {"hwActivaLineaSlic", hwActivaLineaSlic(0)},
        {"hwDesactivaLineaSlic", hwDesactivaLineaSlic(0)},
        {"hwArrancaRingSlic", hwArrancaRingSlic(0)},
        {"hwParaRingSlic", hwParaRingSlic(0)},
        {"hwModoNormalSlic", hwModoNormalSlic(0)},
        {"hwActivaRingSlic", hwActivaRingSlic(0)},
        {"hwDesactivaRingSlic", hwDesactivaRingSlic(0)},
        {"hwPasaAConvSlic", hwPasaAConvSlic(0)},
        {"hwPasaAReposoSlic", hwPasaAReposoSlic(0)},
        {"hwCierraTimeslot", hwCierraTimeslot(0)},
        {"hwEnviaMuestras", hwEnviaMuestras(0, reinterpret_cast<uint8_t*>(muestras), &iLong)},
        {"hwEscribePcmP4", hwEscribePcmP4(0, 1)},
        {"hwLeePcmP10", hwLeePcmP10(0)},
        {"hwEscribePcmP1", hwEscribePcmP1(0)},
        {"hwLeeEstadoPcm", hwLeeEstadoPcm(0)},
    };
    for (const auto& c : casos) EXPECT_EQ(c.second, -1) << c.first;
    // Counts are never negative: the sample count says 0.
    EXPECT_EQ(hwDameNumMuestras(0), 0);
    // The operations without a result send nothing.
    hwEnciendeLed(1);
    hwActivaSalidaCanal(2);
    hwFijaSalidaCanal(2, 1);
    hwConectaEntorno();
    EXPECT_EQ(placa->Leds(), (std::vector<uint32_t>{0, 0, 0}));
    std::string sDiario = placa->Diario();
    EXPECT_EQ(sDiario.find(" open "), std::string::npos) << sDiario;
    EXPECT_EQ(sDiario.find(" ioctl "), std::string::npos) << sDiario;
}

TEST_F(SinIniciar, BoardSideIsReadBeforeStartUp) {
    placa->Lado(1);
    EXPECT_EQ(hwLeeLR(), 1);
    EXPECT_EQ(IniciaHardware(), 0);  // reuses the descriptor hwLeeLR opened
    EXPECT_EQ(hwLeeLR(), 1);
    std::string d = placa->Diario();
    size_t iPrimera = d.find("/dev/esdiscretas open");
    ASSERT_NE(iPrimera, std::string::npos);
    EXPECT_EQ(d.find("/dev/esdiscretas open", iPrimera + 1), std::string::npos);
}

TEST(SinPlaca, StartUpFailsWithItsLogLineWithoutDevicesOrSimulator) {
    unsetenv(VK_SIMBOARD);
    NLOG::FijaCaptura(Captura);
    EXPECT_EQ(IniciaHardware(), -1);
    EXPECT_TRUE(HayLinea("Error abre esdiscretas"));
    EXPECT_TRUE(HayLinea("VK_SIMBOARD"));
    EXPECT_EQ(hwDameTiempo(), 0xFFFFFFFFu);
    EXPECT_TRUE(HayLinea("reloj de placa no disponible"));
    EXPECT_EQ(hwLeeEstado(), -1);
    NLOG::FijaCaptura(nullptr);
}

TEST(SinPlaca, StartUpFailsWithItsLogLineWhenTheSimulatedBoardDoesNotAnswer) {
    setenv(VK_SIMBOARD, "/mnt/ramfs/sin_placa.sock", 1);
    NLOG::FijaCaptura(Captura);
    EXPECT_EQ(IniciaHardware(), -1);
    EXPECT_TRUE(HayLinea("Error abre esdiscretas"));
    EXPECT_TRUE(HayLinea("la placa simulada (VK_SIMBOARD) no responde"));
    EXPECT_EQ(hwDameTiempo(), 0xFFFFFFFFu);
    EXPECT_TRUE(HayLinea("reloj de placa no disponible"));
    EXPECT_EQ(hwLeeEstado(), -1);
    NLOG::FijaCaptura(nullptr);
}

TEST_F(PlacaSimulada, TickCountsTenMillisecondsAndWrapsAsSignedDifference) {
    placa->Tick(0xFFFFFFF0u);
    auto a = std::chrono::steady_clock::now();
    uint32_t t0 = hwDameTiempo();
    auto b = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    auto c = std::chrono::steady_clock::now();
    uint32_t t1 = hwDameTiempo();
    auto d = std::chrono::steady_clock::now();
    EXPECT_LT(t1, t0);  // wrapped
    int32_t iDif = static_cast<int32_t>(t1 - t0);
    auto ms = [](std::chrono::steady_clock::duration x) {
        return static_cast<int32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(x).count());
    };
    EXPECT_GE(iDif, ms(c - b) / 10 - 1);
    EXPECT_LE(iDif, ms(d - a) / 10 + 1);
}

// Microseconds between two readings, against the machine's clock read just before and just
// after each reading; the counter wraps at 65,536 counts, so the difference is taken modulo
// the wrap. Samples whose brackets a loaded machine stretched past 2 ms are taken again.
void CompruebaMicrosegundos(uint32_t uiRitmo, uint32_t (*pfReloj)() = hwDameTiempoMs) {
    using Reloj = std::chrono::steady_clock;
    auto us = [](Reloj::duration d) { return std::chrono::duration_cast<std::chrono::microseconds>(d).count(); };
    int64_t llVuelta = static_cast<int64_t>(65536ull * 1000000ull / uiRitmo);
    int64_t llResolucion = 1000000 / uiRitmo + 1;
    int iBuenas = 0;
    for (int i = 0; i < 50 && iBuenas < 5; i++) {
        auto a0 = Reloj::now();
        uint32_t t0 = pfReloj();
        auto b0 = Reloj::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(12));
        auto a1 = Reloj::now();
        uint32_t t1 = pfReloj();
        auto b1 = Reloj::now();
        if (us(b0 - a0) > 2000 || us(b1 - a1) > 2000) continue;
        int64_t llMedido = (static_cast<int64_t>(t1) - static_cast<int64_t>(t0) + llVuelta) % llVuelta;
        EXPECT_GE(llMedido, us(a1 - b0) - llResolucion) << "rate " << uiRitmo;
        EXPECT_LE(llMedido, us(b1 - a0) + llResolucion) << "rate " << uiRitmo;
        iBuenas++;
    }
    EXPECT_EQ(iBuenas, 5);
}

TEST_F(SinIniciar, MicrosecondTimerComputedInSixtyFourBits) {
    // At 1 MHz, (65535 - count) x 1,000,000 passes 2^32 for most counts.
    placa->Orden("rtimer 1000000");
    ASSERT_EQ(IniciaHardware(), 0);
    CompruebaMicrosegundos(1000000);
}

TEST_F(PlacaSimulada, MicrosecondTimerAtTheBoardRate) { CompruebaMicrosegundos(100000); }

// The clock the programs hand the IPC flood guard: the board's timer once it is open, the
// monotonic clock before (or without) it.
TEST_F(PlacaSimulada, FloodGuardClockIsTheBoardTimer) { CompruebaMicrosegundos(100000, hwRelojUs); }

TEST_F(SinIniciar, FloodGuardClockIsTheMonotonicClockWithoutTheTimer) {
    ASSERT_EQ(hwDameTiempoMs(), 0xFFFFFFFFu);
    for (int i = 0; i < 3; i++) {
        uint32_t uiAntes = MicrosMonotonicos();
        uint32_t uiReloj = hwRelojUs();
        uint32_t uiDespues = MicrosMonotonicos();
        EXPECT_LE(uiReloj - uiAntes, uiDespues - uiAntes);
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
}

TEST_F(SinIniciar, IdentityWordsComposedByBoardType) {
    placa->Orden("id 2 0xBC000000 0xA0000000");  // a = 7, b = 5 (E8), bits 28-31 = 0xA (E12)
    ASSERT_EQ(IniciaHardware(), 0);
    uint32_t w = 0;
    EXPECT_EQ(hwDimeIdHwSlot(2, &w), 0xA0BF);
    EXPECT_EQ(w, 0xA0BF0000u);
    EXPECT_EQ(hwDimeIdHwSlot(4, &w), -1);
    EXPECT_EQ(hwDimeIdHwSlot(-1, &w), -1);
    EXPECT_EQ(hwDameTipoHw(), 0x10000);
}

TEST_F(SinIniciar, IdentityWordKeepsBitThirtyOneOnTheOtherBoard) {
    placa->Orden("tipo 0x1400000");
    placa->Orden("id 1 0xFEDC1234 0");
    ASSERT_EQ(IniciaHardware(), 0);
    uint32_t w = 0;
    EXPECT_EQ(hwDimeIdHwSlot(1, &w), 0xFEDC);
    EXPECT_EQ(w, 0xFEDC1234u);
    EXPECT_EQ(hwDimePresenciaModulo(0), 1);
    EXPECT_EQ(placa->Diario().find("E3"), std::string::npos);
}

TEST_F(PlacaSimulada, StatusBitsAndModulePresence) {
    EXPECT_EQ(hwDimeHwOk(), 1);
    EXPECT_EQ(hwHaySlic(), 1);
    placa->Orden("estado 0x1");
    EXPECT_EQ(hwDimeHwOk(), 0);
    EXPECT_EQ(hwHaySlic(), 0);
    EXPECT_EQ(hwLeeEstado(), 1);
    placa->Fuente(3);
    EXPECT_EQ(hwLeeEstadoFA(), 3);
    placa->Lado(1);
    EXPECT_EQ(hwLeeLR(), 1);
    EXPECT_TRUE(HayLinea("hwLeeLR: lado 1"));
    EXPECT_EQ(hwDimePresenciaModulo(2), 1);
    placa->Orden("presencia 2 0");
    EXPECT_EQ(hwDimePresenciaModulo(2), 0);
    EXPECT_EQ(hwDimePresenciaModulo(4), 0);
    EXPECT_EQ(hwDimePresenciaModulo(-1), 0);
}

TEST_F(PlacaSimulada, LedsOutputsAndDualEnvironment) {
    hwEnciendeLed(0);
    hwEnciendeLed(2);
    hwEnciendeLed(3);  // no such LED
    EXPECT_EQ(placa->Leds(), (std::vector<uint32_t>{9, 0, 9}));
    hwApagaLed(2);
    EXPECT_EQ(placa->Leds(), (std::vector<uint32_t>{9, 0, 0}));
    hwActivaSalidaCanal(3);
    hwActivaSalidaCanal(16);
    hwActivaSalidaCanal(-1);
    EXPECT_EQ(placa->Salidas(), (std::vector<uint32_t>{3}));
    hwDesactivaSalidaCanal(3);
    hwConectaEntorno();
    EXPECT_EQ(placa->Salidas(), (std::vector<uint32_t>{209, 213, 217, 221}));
    EXPECT_EQ(placa->Puntos(), (std::vector<uint32_t>{1, 5, 9, 13}));
    EXPECT_EQ(placa->Valor("entorno"), 1u);
    hwDesconectaEntorno();
    EXPECT_TRUE(placa->Salidas().empty());
    EXPECT_EQ(placa->Valor("entorno"), 0u);
}

TEST_F(PlacaSimulada, DspResetPulsesUnlessTheBoardRefusesIt) {
    EXPECT_EQ(hwResetDsp(), 0);
    EXPECT_EQ(placa->PulsosResetDsp(), 1u);
    placa->Orden("estado 0x5");
    EXPECT_EQ(hwResetDsp(), -1);
    EXPECT_EQ(placa->PulsosResetDsp(), 1u);
    EXPECT_EQ(hwResetDspForzado(), 0);
    EXPECT_EQ(placa->PulsosResetDsp(), 2u);
}

TEST_F(PlacaSimulada, SwitchPointsSlotsAndTheirErrors) {
    EXPECT_EQ(hwConectaSlot(7), 0);
    EXPECT_EQ(hwConectaSlot(16), -2);
    EXPECT_EQ(hwConectaSlot(-1), -2);
    EXPECT_EQ(hwConectaGrupoSlots(2), 0);
    EXPECT_EQ(placa->Puntos(), (std::vector<uint32_t>{7, 8, 9, 10, 11}));
    EXPECT_EQ(hwDesconectaGrupoSlots(4), -5);
    EXPECT_EQ(hwDesconectaGrupoSlots(1), 0);
    EXPECT_EQ(placa->Puntos(), (std::vector<uint32_t>{8, 9, 10, 11}));
    placa->Orden("rechaza 0x80045301 1");
    EXPECT_EQ(hwConectaSlot(3), -7);
    EXPECT_EQ(hwConectaSlot(3), 0);

    EXPECT_EQ(hwHabilitaTxCanalAudio(5), 0);
    EXPECT_EQ(hwHabilitaRxCanalAudio(7), 0);
    EXPECT_EQ(hwHabilitaTxCanalAudio(64), -1);
    EXPECT_EQ(placa->SlotsTx(), (std::vector<uint32_t>{5}));
    EXPECT_EQ(hwDesabilitaTxCanalAudio(5), 0);
    EXPECT_TRUE(placa->SlotsTx().empty());
    // The receive slot is released only on boards whose slot mode says so.
    EXPECT_EQ(hwDesabilitaRxCanalAudio(7), 0);
    EXPECT_EQ(placa->SlotsRx(), (std::vector<uint32_t>{7}));
    placa->Orden("modoslots 0x200000");
    EXPECT_EQ(hwDesabilitaRxCanalAudio(7), 0);
    EXPECT_TRUE(placa->SlotsRx().empty());
    placa->Orden("rechaza 0x80045309");
    EXPECT_EQ(hwDesabilitaTxCanalAudio(5), -7);
}

TEST_F(PlacaSimulada, CompressionTableAndArgumentChecks) {
    EXPECT_EQ(hwDeshabilitaCompresion_CanalB(3, 1, 2), 0);  // index 23, output 45
    EXPECT_EQ(placa->Salidas(), (std::vector<uint32_t>{45}));
    EXPECT_EQ(hwHabilitaCompresion_CanalB(3, 1, 2), 0);
    EXPECT_TRUE(placa->Salidas().empty());
    EXPECT_EQ(hwDeshabilitaCompresion_CanalB(0, 0, 0), 0);
    EXPECT_EQ(placa->Salidas(), (std::vector<uint32_t>{48}));
    EXPECT_EQ(hwHabilitaCompresion_CanalB(4, 0, 0), -5);
    EXPECT_EQ(hwHabilitaCompresion_CanalB(0, 2, 0), -8);
    EXPECT_EQ(hwHabilitaCompresion_CanalB(0, 0, 3), -9);
    EXPECT_EQ(hwHabilitaCompresion_CanalB(-1, 0, 0), -5);
}

TEST_F(PlacaSimulada, DiscreteInputRegistrationAndRangeChecks) {
    CEntidadGrabadora e;
    EXPECT_EQ(hwRegistraEventosEntrada(16, &e), -2);
    EXPECT_EQ(hwRegistraEventosEntrada(-1, &e), -2);
    EXPECT_EQ(hwRegistraEventosEntrada(3, nullptr), -6);
    EXPECT_EQ(hwCompruebaEntrada(16, 0), -2);
    EXPECT_EQ(hwCompruebaEntrada(-5, 0), -2);
    EXPECT_EQ(hwMarcaEntrada(16), -2);
    EXPECT_EQ(hwMarcaEntrada(-1), -2);
    EXPECT_EQ(hwCompruebaEntrada(3, 0), 0);  // no handler: nothing read, nothing said
    EXPECT_EQ(e.Cuantos(), 0u);
}

TEST_F(PlacaSimulada, PolledInputReportsEachChangeOnce) {
    CEntidadGrabadora e;
    ASSERT_EQ(hwRegistraEventosEntrada(3, &e), 0);
    hwCompruebaEntrada(3, 0);  // registration asks for the current level once
    hwCompruebaEntrada(3, 0);
    placa->Entrada(3, 1);
    hwCompruebaEntrada(3, 0);
    hwCompruebaEntrada(3, 0);
    placa->Entrada(3, 0);
    hwCompruebaEntrada(3, 0);
    EXPECT_EQ(e.Eventos(), (std::vector<std::string>{"SquelchOff", "SquelchOn", "SquelchOff"}));
    // Forced: active whatever the input reads.
    e.iResultado = 7;
    EXPECT_EQ(hwCompruebaEntrada(3, 1), 7);
    EXPECT_EQ(e.Eventos().back(), "SquelchOn");
    hwMarcaEntrada(3);
    EXPECT_EQ(hwCompruebaEntrada(3, 0), 7);
    EXPECT_EQ(e.Eventos().back(), "SquelchOff");
}

TEST_F(PlacaSimulada, InputThreadNotifiesOnSignalFromTheBoard) {
    CEntidadGrabadora e;
    ASSERT_EQ(hwRegistraEventosEntrada(5, &e), 0);
    std::thread([] { hwSupervisorEntradas(); }).detach();
    ASSERT_TRUE(Espera([&] { return e.Cuantos() >= 1; }));
    EXPECT_EQ(e.Eventos()[0], "SquelchOff");
    placa->Entrada(5, 1);
    ASSERT_TRUE(Espera([&] { return e.Cuantos() >= 2; }));
    EXPECT_EQ(e.Eventos()[1], "SquelchOn");
}

TEST_F(SinIniciar, InputThreadNotifiesTheSecondBankOnTheOtherBoard) {
    // Inputs 16-31 of this board reach the same handler as its second bank.
    placa->Orden("tipo 0x1400000");
    ASSERT_EQ(IniciaHardware(), 0);
    CEntidadGrabadora e;
    ASSERT_EQ(hwRegistraEventosEntrada(5, &e), 0);
    std::thread([] { hwSupervisorEntradas(); }).detach();
    ASSERT_TRUE(Espera([&] { return e.Cuantos() >= 2; }));
    placa->Entrada(21, 1);
    ASSERT_TRUE(Espera([&] { return e.Cuantos() >= 3; }));
    EXPECT_EQ(e.Eventos(), (std::vector<std::string>{"SquelchOff", "EntradaInactiva", "EntradaActiva"}));
}

TEST_F(PlacaSimulada, BusErrorHandlerWritesAFixedTextAndReturns) {
    ::testing::internal::CaptureStderr();
    raise(SIGBUS);
    std::string s = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(s.find(" >>>> Atencion a la senal Tack error \n"), std::string::npos);
}

TEST_F(PlacaSimulada, TwoProcessesSeeTheSameBoard) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // Another process of the same board, with connections of its own.
        hwEnciendeLed(1);
        hwActivaSalidaCanal(9);
        _exit(0);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(placa->Leds()[1], 9u);
    EXPECT_EQ(placa->Salidas(), (std::vector<uint32_t>{9}));
    EXPECT_NE(placa->Diario().find(std::to_string(pid)), std::string::npos);
}

}  // namespace
