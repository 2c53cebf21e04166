// The telephone program on the simulated board under a fake core, with the real DSP service:
// the handset, the ring, the E&M wires, the dialler and the call records at the agent.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "lineas_pruebas.h"

namespace {

using namespace pruebas_lineas;
using std::chrono::milliseconds;

constexpr int REC = 3;
constexpr int MODULO = 3;
// The hardware layer watches the line modules 20 s after its start: line events wait for it.
constexpr int MS_SUPERVISION = 35000;

cfgConfigRecurso Linea(int iTipoIf) {
    cfgConfigRecurso r;
    std::strcpy(r.nombre, "TLF-03");
    r.iTipo = 2;
    r.iTipoIf = iTipoIf;
    r.iSlot = 0;
    r.iDispositivo = MODULO;
    std::strcpy(r.szDestino, "318003");
    r.iCfgModoSistema = 0;
    return r;
}

// E&M wires of type 1, side 0, mode 0, worked through the line module.
cfgConfigRecurso LineaEyM() {
    cfgConfigRecurso r = Linea(TIPOIF_EYM_PP);
    r.uParam.tlf.eTypeEyM = 1;
    r.uParam.tlf.iLadoEyM = 0;
    r.uParam.tlf.iModoEyM = 0;
    return r;
}

class Telefono : public PruebaLineas {
protected:
    void Vuelca() override {
        std::printf("log:\n%s\ntrazas:\n%s\nagente:\n%s\n", linea.Hijo().Log().c_str(),
                    Buzon::Global().Trazas().c_str(), agente.Registros().c_str());
    }
    void Arranca(const cfgConfigRecurso& r) {
        linea.Arranca("fonmira", REC, dsp);
        ASSERT_TRUE(linea.Configura(r));
        // In service: the line module runs and the state is published as idle.
        ASSERT_TRUE(linea.Espera(COD_NOTIFICA_ESTADO_RECURSO, 0, -1, 20000));
    }
    // An outgoing call from the core; its id once the line took it.
    int32_t LlamaALaLinea(const char* szDestino) {
        DatosLlamada d{};
        std::strcpy(d.acDestino, szDestino);
        int32_t id = -1;
        EXPECT_GE(linea.Nucleo().EnviaLlamadaSalienteId(&d, &id), 0);
        EXPECT_TRUE(EsperaQue([&] {
            for (const auto& m : Buzon::Global().De(COD_DIAGNOSTICO))
                if (m.a == 5 && m.b == id && m.c == 0) return true;
            return false;
        }, 5000));
        return id;
    }

    CLinea linea;
};

TEST_F(Telefono, BcHandsetLiftedOffersACallAndHangingUpEndsItWithItsRecord) {
    Arranca(Linea(TIPOIF_BC));
    placa->Descuelga(MODULO);
    const int32_t id = linea.EsperaEntrante(MS_SUPERVISION);
    ASSERT_GE(id, 0);
    EXPECT_TRUE(linea.Espera(COD_NOTIFICA_ESTADO_RECURSO, 2, 1, 10000));  // offered, off-hook
    const auto tRespuesta = std::chrono::steady_clock::now();
    ASSERT_EQ(linea.Nucleo().EnviaAceptaLlamada(id), 0);
    ASSERT_TRUE(linea.EstadoContiene("  Estado TFL = CONVERSACION\n", 5000));
    ASSERT_TRUE(agente.Espera("V,H00,2309,TLF-03:IF=2|DS=318003:", 5000)) << agente.Registros();
    const auto tCuelga = std::chrono::steady_clock::now();
    placa->Cuelga(MODULO);
    EXPECT_TRUE(linea.Espera(COD_FIN_LLAMADA, id, -1, 5000));
    // The record carries the call's length in whole seconds: at most the time from answer to hang-up.
    const std::string sFin = "V,H00,2310,TLF-03:IF=2|DS=318003|DL=";
    ASSERT_TRUE(agente.Espera(sFin, 5000)) << agente.Registros();
    const std::string sReg = agente.Registros();
    const std::string sDl = sReg.substr(sReg.find(sFin) + sFin.size(), 8);
    ASSERT_EQ(sDl.size(), 8u);
    EXPECT_EQ(sDl[7], ':') << sDl;
    EXPECT_LE(std::stoi(sDl.substr(0, 7)),
              std::chrono::duration_cast<std::chrono::seconds>(tCuelga - tRespuesta).count() + 1) << sDl;
    EXPECT_TRUE(linea.EstadoContiene("  Estado TFL = RESOSO\n", 5000));
}

TEST_F(Telefono, BcCallFromTheCoreRingsTheLineAndLiftingAnswersIt) {
    Arranca(Linea(TIPOIF_BC));
    const int32_t id = LlamaALaLinea("");
    ASSERT_TRUE(EsperaQue([&] { return placa->Slic(MODULO).find(" ring=1 ") != std::string::npos; }, 5000))
        << placa->Slic(MODULO);
    EXPECT_TRUE(linea.De(COD_ACEPTA_LLAMADA).empty());
    placa->Descuelga(MODULO);
    EXPECT_TRUE(linea.Espera(COD_ACEPTA_LLAMADA, id, -1, MS_SUPERVISION));
    EXPECT_TRUE(EsperaQue([&] { return placa->Slic(MODULO).find(" ring=0 ") != std::string::npos; }, 5000));
    EXPECT_TRUE(agente.Espera("V,H00,2311,TLF-03:IF=2|DS=318003:", 5000)) << agente.Registros();
}

// The far end hangs up first: the hang-up tone waits for the user to put the handset down.
TEST_F(Telefono, BcRemoteReleaseWaitsInHangUpToneUntilOnHook) {
    Arranca(Linea(TIPOIF_BC));
    const int32_t id = LlamaALaLinea("");
    placa->Descuelga(MODULO);
    ASSERT_TRUE(linea.Espera(COD_ACEPTA_LLAMADA, id, -1, MS_SUPERVISION));
    ASSERT_EQ(linea.Nucleo().EnviaFinLlamada(id), 0);
    ASSERT_TRUE(linea.EstadoContiene("  Estado TFL = PENDIENTE_CUELGUE\n", 5000));
    EXPECT_TRUE(agente.Espera("V,H00,2312,TLF-03:IF=2|DS=318003|DL=", 5000)) << agente.Registros();
    std::this_thread::sleep_for(milliseconds(1500));
    EXPECT_TRUE(linea.EstadoContiene("  Estado TFL = PENDIENTE_CUELGUE\n", 5000));
    placa->Cuelga(MODULO);
    EXPECT_TRUE(linea.EstadoContiene("  Estado TFL = RESOSO\n", 5000));
    EXPECT_TRUE(linea.De(COD_FIN_LLAMADA).empty());  // the core ended it: nothing goes back
}

TEST_F(Telefono, BcRefusedCallWaitsForTheHandsetToGoDown) {
    Arranca(Linea(TIPOIF_BC));
    placa->Descuelga(MODULO);
    const int32_t id = linea.EsperaEntrante(MS_SUPERVISION);
    ASSERT_GE(id, 0);
    ASSERT_EQ(linea.Nucleo().EnviaRechazaLlamada(id, 206), 0);
    ASSERT_TRUE(linea.EstadoContiene("  Estado TFL = PENDIENTE_CUELGUE\n", 5000));
    // Another call from the core finds the line busy until the user hangs up.
    DatosLlamada d{};
    int32_t idOtra = -1;
    ASSERT_GE(linea.Nucleo().EnviaLlamadaSalienteId(&d, &idOtra), 0);
    EXPECT_TRUE(EsperaQue([&] {
        for (const auto& m : Buzon::Global().De(COD_DIAGNOSTICO))
            if (m.a == 5 && m.b == idOtra && m.c == 207) return true;
        return false;
    }, 5000));
    placa->Cuelga(MODULO);
    EXPECT_TRUE(linea.EstadoContiene("  Estado TFL = RESOSO\n", 5000));
    EXPECT_TRUE(linea.De(COD_FIN_LLAMADA).empty());  // the core refused it: nothing goes back
}

// The caller gives up while the line rings (the core refuses, then ends the call): the line is
// free for the next call; the refusal of a call it turned away as busy leaves its ring alone.
TEST_F(Telefono, BcCallGivenUpWhileRingingLeavesTheLineFreeForTheNext) {
    Arranca(Linea(TIPOIF_BC));
    auto Suena = [&] { return placa->Slic(MODULO).find(" ring=1 ") != std::string::npos; };
    const int32_t id = LlamaALaLinea("");
    ASSERT_TRUE(EsperaQue(Suena, 5000)) << placa->Slic(MODULO);
    DatosLlamada d{};
    int32_t idOtra = -1;
    ASSERT_GE(linea.Nucleo().EnviaLlamadaSalienteId(&d, &idOtra), 0);
    ASSERT_TRUE(EsperaQue([&] {
        for (const auto& m : Buzon::Global().De(COD_DIAGNOSTICO))
            if (m.a == 5 && m.b == idOtra && m.c != 0) return true;
        return false;
    }, 5000));
    ASSERT_EQ(linea.Nucleo().EnviaRechazaLlamada(idOtra, 202), 0);
    ASSERT_TRUE(linea.Hijo().LogContiene("CENTTLF[3]: RechazaLlamada (" + std::to_string(idOtra) + ")", 5000));
    EXPECT_TRUE(Suena());
    ASSERT_EQ(linea.Nucleo().EnviaRechazaLlamada(id, 487), 0);
    ASSERT_EQ(linea.Nucleo().EnviaFinLlamada(id), 0);
    EXPECT_TRUE(linea.EstadoContiene("  Estado TFL = RESOSO\n", 5000));
    EXPECT_TRUE(EsperaQue([&] { return placa->Slic(MODULO).find(" ring=0 ") != std::string::npos; }, 5000));
    LlamaALaLinea("");
    EXPECT_TRUE(EsperaQue(Suena, 5000)) << placa->Slic(MODULO);
}

TEST_F(Telefono, BlOutgoingCallRingsFiveSecondsThenIsInConversation) {
    Arranca(Linea(TIPOIF_BL));
    const auto t0 = Reloj::now();
    const int32_t id = LlamaALaLinea("");
    ASSERT_TRUE(EsperaQue([&] { return placa->Slic(MODULO).find(" ring=1 ") != std::string::npos; }, 5000));
    Mensaje m{};
    ASSERT_TRUE(linea.Espera(COD_ACEPTA_LLAMADA, id, -1, 15000, &m));
    const auto ms = std::chrono::duration_cast<milliseconds>(m.t - t0).count();
    EXPECT_GE(ms, 4500);
    EXPECT_LE(ms, 11000);
    EXPECT_NE(placa->Slic(MODULO).find(" conv=1 "), std::string::npos) << placa->Slic(MODULO);
}

// The core ends a BL conversation (on its channel's thread): the hang-up tone holds the line
// for its 3 s, counted down by the line's supervisor thread, then the line rests and takes the
// next call. Nothing goes back to the core.
TEST_F(Telefono, BlCallEndedByTheCoreHoldsItsHangUpToneThenRests) {
    Arranca(Linea(TIPOIF_BL));
    for (int i = 0; i < 3; i++) {
        const int32_t id = LlamaALaLinea("");
        ASSERT_TRUE(linea.Espera(COD_ACEPTA_LLAMADA, id, -1, 15000)) << i;
        // Seen at the board, not asked of the line: a state query goes through the channel's
        // thread and would order it after the supervisor.
        ASSERT_TRUE(EsperaQue([&] { return placa->Slic(MODULO).find(" conv=1 ") != std::string::npos; }, 5000))
            << i << placa->Slic(MODULO);
        const auto t0 = Reloj::now();
        ASSERT_EQ(linea.Nucleo().EnviaFinLlamada(id), 0) << i;
        ASSERT_TRUE(linea.EstadoContiene("  Estado TFL = PENDIENTE_CUELGUE\n", 5000)) << i;
        ASSERT_TRUE(linea.EstadoContiene("  Estado TFL = RESOSO\n", 15000)) << i;
        EXPECT_GE(std::chrono::duration_cast<milliseconds>(Reloj::now() - t0).count(), 2500) << i;
    }
    EXPECT_TRUE(linea.De(COD_FIN_LLAMADA).empty());
}

// Voice detection on: a silent conversation ends after iTmInactividad seconds; voice stops it.
TEST_F(Telefono, BlConversationEndsAfterItsInactivityTime) {
    cfgConfigRecurso r = Linea(TIPOIF_BL);
    r.uParam.tlf.iDetectVox = 1;
    r.uParam.tlf.iUmbralVox = 30;
    r.uParam.tlf.iTmInactividad = 2;
    Arranca(r);
    ASSERT_TRUE(EsperaQue([&] { return !CanalesAsignados(*placa).empty(); }, 10000));
    const int iCanal = CanalesAsignados(*placa)[0];
    // Voice detection asked of the DSP with the threshold (SelecVoxRx: on, 30).
    EXPECT_TRUE(DspRecibio(*placa, "13 01 " + Hex2(iCanal) + " 00 01 1e", 10000)) << placa->Dsp("comandos");
    const int32_t id = LlamaALaLinea("");
    ASSERT_TRUE(linea.Espera(COD_ACEPTA_LLAMADA, id, -1, 15000));
    const std::string sCanal = std::to_string(iCanal);
    // Silence, then voice within the time: the call stays.
    placa->Dsp("evento " + sCanal + " voxrx 0 0");
    std::this_thread::sleep_for(milliseconds(1000));
    placa->Dsp("evento " + sCanal + " voxrx 1 200");
    std::this_thread::sleep_for(milliseconds(2500));
    EXPECT_TRUE(linea.De(COD_FIN_LLAMADA).empty());
    const auto t0 = Reloj::now();
    placa->Dsp("evento " + sCanal + " voxrx 0 0");
    ASSERT_TRUE(linea.Espera(COD_FIN_LLAMADA, id, -1, 10000));
    EXPECT_GE(std::chrono::duration_cast<milliseconds>(Reloj::now() - t0).count(), 1500);
}

TEST_F(Telefono, AbOutgoingCallDialsItsDigitsThroughTheDsp) {
    Arranca(Linea(TIPOIF_AB));
    ASSERT_TRUE(EsperaQue([&] { return !CanalesAsignados(*placa).empty(); }, 10000));
    ASSERT_TRUE(linea.Hijo().LogContiene("Recurso DSP configurado", 10000));
    const int iCanal = CanalesAsignados(*placa)[0];
    const int32_t id = LlamaALaLinea("123");
    EXPECT_TRUE(linea.Espera(COD_ACEPTA_LLAMADA, id, -1, 5000));  // an AB line answers at once
    // MarcaDtmf: 1, pause, 2, 3.
    EXPECT_TRUE(DspRecibio(*placa, "1b 01 " + Hex2(iCanal) + " 00 04 01 ff 02 03", 5000)) << placa->Dsp("comandos");
}

// A number longer than a DSP message holds is cut to what fits, and the cut is logged.
TEST_F(Telefono, AbTooLongNumberIsClippedToOneDspMessage) {
    Arranca(Linea(TIPOIF_AB));
    ASSERT_TRUE(EsperaQue([&] { return !CanalesAsignados(*placa).empty(); }, 10000));
    ASSERT_TRUE(linea.Hijo().LogContiene("Recurso DSP configurado", 10000));
    const int iCanal = CanalesAsignados(*placa)[0];
    const std::string sNumero(70, '7');
    LlamaALaLinea(sNumero.c_str());
    std::string sEsperado = "1b 01 " + Hex2(iCanal) + " 00 3b 07 ff";
    for (int i = 0; i < 57; ++i) sEsperado += " 07";
    ASSERT_TRUE(DspRecibio(*placa, sEsperado + "\n", 5000)) << placa->Dsp("comandos");
    EXPECT_TRUE(linea.Hijo().LogContiene("CENTTLF[3]: Marca con 65 codigos; se marcan 59", 2000));
    EXPECT_EQ(dsp.Salida().find("se envian"), std::string::npos);
}

TEST_F(Telefono, EmSeizureOffersACallAndReleaseEndsIt) {
    cfgConfigRecurso r = LineaEyM();
    Arranca(r);
    placa->OcupaEyM(MODULO);
    const int32_t id = linea.EsperaEntrante(MS_SUPERVISION);
    ASSERT_GE(id, 0);
    ASSERT_EQ(linea.Nucleo().EnviaAceptaLlamada(id), 0);
    ASSERT_TRUE(linea.EstadoContiene("  Estado TFL = CONVERSACION\n", 5000));
    placa->LiberaEyM(MODULO);
    EXPECT_TRUE(linea.Espera(COD_FIN_LLAMADA, id, -1, 5000));
    EXPECT_TRUE(agente.Espera("V,H00,2310,TLF-03:IF=13|DS=318003|DL=", 5000)) << agente.Registros();
    EXPECT_TRUE(linea.EstadoContiene("  Estado TFL = RESOSO\n", 5000));
}

// The core's debug word: the selector and its value are its first two bytes in memory order.
TEST_F(Telefono, DebugWordsOfTheCoreActOnTheLine) {
    Arranca(Linea(TIPOIF_BC));
    auto Palabra = [&](uint8_t ucSelector, uint8_t ucValor) {
        const uint8_t b[4] = {ucSelector, ucValor, 0, 0};
        int32_t w;
        std::memcpy(&w, b, sizeof w);
        ASSERT_EQ(linea.Nucleo().EnviaDebug(w), 0);
    };
    auto Slots = [&] { return " " + placa->Orden("slotstx"); };
    EXPECT_EQ(Slots().find(" 51"), std::string::npos);
    Palabra(5, 0);  // the host slot takes the board's transmit audio
    EXPECT_TRUE(EsperaQue([&] { return Slots().find(" 51") != std::string::npos; }, 5000)) << Slots();

    const std::string sEnServicio = "N07,3,TLF-03,2,1,0,1,";
    ASSERT_TRUE(agente.Espera(sEnServicio, 10000)) << agente.Registros();
    const std::string s = agente.Registros();
    Palabra(16, 1);  // a state record at the next publication, changed or not
    EXPECT_TRUE(EsperaQue([&] { return agente.Registros().rfind(sEnServicio) > s.rfind(sEnServicio); }, 10000));
}

// An E&M line worked through the discrete input and output of its channel.
TEST_F(Telefono, EmSeizureOnTheSquelchInputAndRingOnTheChannelOutput) {
    cfgConfigRecurso r = Linea(TIPOIF_EYM_PP);
    r.iFlgUsarDiffServ = 1;
    Arranca(r);
    placa->Entrada(MODULO, 1);
    const int32_t id = linea.EsperaEntrante(5000);
    ASSERT_GE(id, 0);
    placa->Entrada(MODULO, 0);
    EXPECT_TRUE(linea.Espera(COD_FIN_LLAMADA, id, -1, 5000));
    auto Salida = [&] {
        const auto v = placa->Salidas();
        return std::find(v.begin(), v.end(), static_cast<uint32_t>(MODULO)) != v.end();
    };
    const int32_t idSaliente = LlamaALaLinea("");
    EXPECT_TRUE(EsperaQue(Salida, 5000));
    placa->Entrada(MODULO, 1);  // the far end answers
    EXPECT_TRUE(linea.Espera(COD_ACEPTA_LLAMADA, idSaliente, -1, 5000));
    placa->Entrada(MODULO, 0);
    EXPECT_TRUE(EsperaQue([&] { return !Salida(); }, 5000));
}

// A new record: E&M wires restart the line hardware, the echo canceller follows szClave.
TEST_F(Telefono, PartialReconfigurationRestartsEmHardwareAndSetsTheEchoCanceller) {
    cfgConfigRecurso r = LineaEyM();
    Arranca(r);
    ASSERT_TRUE(EsperaQue([&] { return !CanalesAsignados(*placa).empty(); }, 10000));
    ASSERT_TRUE(linea.Hijo().LogContiene("Recurso DSP configurado", 10000));
    auto Arranques = [&] { return linea.Hijo().VecesEnLog("FIN ArrancaHW(3)"); };
    const size_t n = Arranques();
    r.uParam.tlf.eTypeEyM = 2;
    std::snprintf(r.szClave, sizeof r.szClave, "T12");
    linea.Hijo().Configura(r);
    EXPECT_TRUE(EsperaQue([&] { return Arranques() == n + 1; }, 10000));
    EXPECT_TRUE(DspRecibio(*placa, "1e 01 " + Hex2(CanalesAsignados(*placa)[0]) + " 00 0c", 5000)) << placa->Dsp("comandos");
}

// A BL incoming call that the core leaves unanswered ends after 30 s with the hang-up tone,
// and the line rests 3 s later.
TEST_F(Telefono, BlIncomingCallNotAcceptedInThirtySecondsEnds) {
    Arranca(Linea(TIPOIF_BL));
    placa->Llama(MODULO);
    const int32_t id = linea.EsperaEntrante(MS_SUPERVISION);
    ASSERT_GE(id, 0);
    const auto t0 = Reloj::now();
    placa->FinLlama(MODULO);
    Mensaje m{};
    ASSERT_TRUE(linea.Espera(COD_FIN_LLAMADA, id, -1, 40000, &m));
    EXPECT_GE(std::chrono::duration_cast<milliseconds>(m.t - t0).count(), 29000);
    EXPECT_TRUE(linea.EstadoContiene("  Estado TFL = PENDIENTE_CUELGUE\n", 3000));
    EXPECT_TRUE(linea.EstadoContiene("  Estado TFL = RESOSO\n", 8000));
}

}  // namespace
