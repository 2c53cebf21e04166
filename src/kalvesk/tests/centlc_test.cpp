// The hot-line program under a fake core with the real DSP service on the simulated board's
// DSP: its line configuration, its service state, and calls between two hot lines of the
// board through the DSP's loopback pair, with their records at the SNMP agent stand-in.
#include <gtest/gtest.h>

#include "lineas_pruebas.h"

namespace {

using namespace pruebas_lineas;
using std::chrono::milliseconds;

constexpr uint8_t EN_REPOSO = 0, OFRECIDA = 2, FUERA = 10;

cfgConfigRecurso LineaCaliente(int iRec, int iRespuestaAutomatica = 0) {
    cfgConfigRecurso r;
    snprintf(r.nombre, sizeof r.nombre, "LC-%02d", iRec);
    r.iTipo = 2;
    r.iTipoIf = TIPOIF_LCEN;
    r.iSlot = 1;
    r.iDispositivo = iRec - 4;  // modules 4 and 5
    r.iCfgModoSistema = 0;
    r.sColateral.iRespuestaAutomatica = iRespuestaAutomatica;
    r.uParam.lcen.iT_Release = 2;
    return r;
}

class LineaCalienteTest : public PruebaLineas {
protected:
    void Vuelca() override {
        std::printf("log A:\n%s\nlog B:\n%s\nagente:\n%s\ncomandos:\n%s\n", a.Hijo().Log().c_str(),
                    b.Hijo().Log().c_str(), agente.Registros().c_str(), placa->Dsp("comandos").c_str());
    }
    // Started and configured; in service once its DSP channel is at rest. Its DSP channel.
    int ArrancaLinea(CLinea& l, int iRec, int iRespuesta = 0) {
        const size_t n = CanalesAsignados(*placa).size();
        l.Arranca("kalvesk", iRec, dsp);
        EXPECT_TRUE(l.Configura(LineaCaliente(iRec, iRespuesta)));
        EXPECT_TRUE(l.Espera(COD_NOTIFICA_ESTADO_RECURSO, EN_REPOSO, -1, 20000));
        const std::vector<int> v = CanalesAsignados(*placa);
        EXPECT_EQ(v.size(), n + 1);
        return v.empty() ? -1 : v.back();
    }
    // Both lines in service, their DSP channels paired.
    void ArrancaPar(int iRespuestaB = 0) {
        iCanalA = ArrancaLinea(a, 4);
        iCanalB = ArrancaLinea(b, 5, iRespuestaB);
        ASSERT_GE(iCanalB, 0);
        placa->Dsp("bucle " + std::to_string(iCanalA) + " " + std::to_string(iCanalB));
    }
    int32_t Llama(CLinea& l) {
        DatosLlamada d{};
        int32_t id = -1;
        EXPECT_GE(l.Nucleo().EnviaLlamadaSalienteId(&d, &id), 0);
        return id;
    }
    bool Diagnostico(int32_t id, int32_t iResultado) {
        return EsperaQue([&] {
            for (const auto& m : Buzon::Global().De(COD_DIAGNOSTICO))
                if (m.a == 5 && m.b == id && m.c == iResultado) return true;
            return false;
        }, 5000);
    }
    // A calls B and B's core accepts: the call id on each side.
    void Conversacion(int32_t* pidA, int32_t* pidB) {
        *pidA = Llama(a);
        ASSERT_TRUE(Diagnostico(*pidA, 0));
        *pidB = b.EsperaEntrante(5000);
        ASSERT_GE(*pidB, 0);
        ASSERT_EQ(b.Nucleo().EnviaAceptaLlamada(*pidB), 0);
        ASSERT_TRUE(a.Espera(COD_ACEPTA_LLAMADA, *pidA, -1, 5000));
    }

    CLinea a, b;
    int iCanalA = -1, iCanalB = -1;
};

TEST_F(LineaCalienteTest, TakesProtocolOneAndItsParametersAndIsOutOfServiceUntilRest) {
    const int iCanal = ArrancaLinea(a, 4);
    ASSERT_GE(iCanal, 0);
    // Published out of service first: no DSP channel at rest yet.
    const auto v = a.De(COD_NOTIFICA_ESTADO_RECURSO);
    ASSERT_FALSE(v.empty());
    EXPECT_EQ(v.front().a, FUERA);
    const std::string c = Hex2(iCanal);
    const std::string sComandos = placa->Dsp("comandos");
    EXPECT_NE(sComandos.find("9: 10 01 " + c + " 00 01\n"), std::string::npos) << sComandos;
    // The 22 values -10, -38, 20, 100, 20, 1000, 40, 700, 1000, 60, 100, 5000, 6000, 125, 150,
    // 40, 60, 20, 130, 20, 130, 200 as the DSP takes them.
    EXPECT_NE(sComandos.find("52: 2c 01 " + c +
                             " 00 f6 ff da ff 14 00 64 00 14 00 e8 03 28 00 bc 02 e8 03 3c 00 64 00 88 13 70 17 7d 00 "
                             "96 00 28 00 3c 00 14 00 82 00 14 00 82 00 c8 00\n"),
              std::string::npos)
        << sComandos;
    // The DSP loses the line and gets it back.
    const size_t n = a.De(COD_NOTIFICA_ESTADO_RECURSO).size();
    placa->Dsp("evento " + std::to_string(iCanal) + " fuera");
    ASSERT_TRUE(EsperaQue([&] {
        const auto w = a.De(COD_NOTIFICA_ESTADO_RECURSO);
        return w.size() > n && w.back().a == FUERA;
    }, 10000));
    DatosLlamada d{};
    int32_t id = -1;
    a.Nucleo().EnviaLlamadaSalienteId(&d, &id);
    EXPECT_TRUE(Diagnostico(id, 207));  // out of service refuses
    placa->Dsp("evento " + std::to_string(iCanal) + " reposo");
    EXPECT_TRUE(EsperaQue([&] { return a.De(COD_NOTIFICA_ESTADO_RECURSO).back().a == EN_REPOSO; }, 10000));
}

// The core's debug word 13 carries the SIP collateral's state in its first two bytes (in
// memory order): while it is not up, a line that supervises it keeps its received audio muted.
TEST_F(LineaCalienteTest, CollateralStateFromTheCoreMutesAndRestoresTheReceivedAudio) {
    cfgConfigRecurso r = LineaCaliente(4);
    r.sColateral.isuperv_options = 1;
    a.Arranca("kalvesk", 4, dsp);
    ASSERT_TRUE(a.Configura(r));
    ASSERT_TRUE(a.Espera(COD_NOTIFICA_ESTADO_RECURSO, EN_REPOSO, -1, 20000));
    const int iModulo = 4;  // slot 1, device 0
    auto Silenciada = [&](bool b) {
        const std::string s = std::string(" silenciorx=") + (b ? "1" : "0");
        return EsperaQue([&] { return placa->Slic(iModulo).find(s) != std::string::npos; }, 10000);
    };
    EXPECT_TRUE(Silenciada(true)) << placa->Slic(iModulo);
    for (uint8_t ucEstado : {1, 0, 1}) {
        const uint8_t b[4] = {13, ucEstado, 0, 0};
        int32_t w;
        std::memcpy(&w, b, sizeof w);
        ASSERT_EQ(a.Nucleo().EnviaDebug(w), 0);
        EXPECT_TRUE(Silenciada(ucEstado != 1)) << static_cast<int>(ucEstado) << placa->Slic(iModulo);
    }
}

TEST_F(LineaCalienteTest, TwoHotLinesCallEachOtherAnswerAndReleaseWithTheirRecords) {
    ArrancaPar();
    int32_t idA, idB;
    Conversacion(&idA, &idB);
    EXPECT_TRUE(agente.Espera("V,H00,2307,LC-04:", 5000));
    EXPECT_TRUE(agente.Espera("V,H00,2305,LC-05:", 5000));
    EXPECT_TRUE(a.Espera(COD_NOTIFICA_ESTADO_RECURSO, 1, -1, 10000));  // busy while in conversation
    ASSERT_EQ(a.Nucleo().EnviaFinLlamada(idA), 0);
    EXPECT_TRUE(b.Espera(COD_FIN_LLAMADA, idB, -1, 5000));
    EXPECT_TRUE(agente.Espera("V,H00,2308,LC-04:0:", 5000)) << agente.Registros();
    EXPECT_TRUE(agente.Espera("V,H00,2306,LC-05:0:", 5000)) << agente.Registros();
}

TEST_F(LineaCalienteTest, ABusyFarEndRejectsTheCallWith202) {
    ArrancaPar();
    const int32_t idA = Llama(a);
    const int32_t idB = b.EsperaEntrante(5000);
    ASSERT_GE(idB, 0);
    ASSERT_EQ(b.Nucleo().EnviaRechazaLlamada(idB, 202), 0);
    EXPECT_TRUE(a.Espera(COD_RECHAZA_LLAMADA, idA, 202, 5000));
    EXPECT_TRUE(a.De(COD_ACEPTA_LLAMADA).empty());
}

TEST_F(LineaCalienteTest, AFarEndThatDoesNotAnswerInTenSecondsIsRejectedWith204) {
    ArrancaLinea(a, 4);
    const auto t0 = Reloj::now();
    const int32_t idA = Llama(a);
    Mensaje m{};
    ASSERT_TRUE(a.Espera(COD_RECHAZA_LLAMADA, idA, 204, 20000, &m));
    EXPECT_GE(std::chrono::duration_cast<milliseconds>(m.t - t0).count(), 9000);
}

TEST_F(LineaCalienteTest, AutoAnswerTakesTheCallBeforeTheCoreAccepts) {
    ArrancaPar(1);
    const int32_t idA = Llama(a);
    EXPECT_GE(b.EsperaEntrante(5000), 0);
    EXPECT_TRUE(a.Espera(COD_ACEPTA_LLAMADA, idA, -1, 5000));
    EXPECT_TRUE(agente.Espera("V,H00,2307,LC-04:", 5000)) << agente.Registros();
    EXPECT_EQ(agente.Registros().find("V,H00,2305,"), std::string::npos);  // the core has not accepted
}

// A new record: auto-answer switched on takes the next call at its seizure and the fixed gain
// reaches the line module, without a restart; a hot line asks the DSP for no echo canceller.
TEST_F(LineaCalienteTest, NewRecordSwitchesAutoAnswerOnAndSetsTheGainWithoutARestart) {
    ArrancaPar();
    cfgConfigRecurso r = LineaCaliente(5, 1);
    r.iSelGananciaAgcRx = 0;
    r.iGananciaAgcRx = 7;
    std::snprintf(r.szClave, sizeof r.szClave, "T12");
    placa->Dsp("borra");
    b.Hijo().Configura(r);
    ASSERT_TRUE(EsperaQue([&] { return placa->Slic(5).find(" ganrx=7 ") != std::string::npos; }, 15000))
        << placa->Slic(5);
    const int32_t idA = Llama(a);
    EXPECT_GE(b.EsperaEntrante(5000), 0);
    EXPECT_TRUE(a.Espera(COD_ACEPTA_LLAMADA, idA, -1, 5000));  // before B's core accepts
    EXPECT_EQ(placa->Dsp("comandos").find(" 1e 01 " + Hex2(iCanalB) + " "), std::string::npos) << placa->Dsp("comandos");
    EXPECT_TRUE(b.Hijo().Vivo());
}

// The line was answered at the seizure: the core's refusal is played as a tone sequence for
// iT_Release (2) repetitions, and the line is released iT_Release seconds later.
TEST_F(LineaCalienteTest, RefusalAfterAnAutoAnswerPlaysItsToneThenReleases) {
    ArrancaPar(1);
    const int32_t idA = Llama(a);
    const int32_t idB = b.EsperaEntrante(5000);
    ASSERT_GE(idB, 0);
    ASSERT_TRUE(a.Espera(COD_ACEPTA_LLAMADA, idA, -1, 5000));
    placa->Dsp("borra");
    const std::string c = Hex2(iCanalB);
    ASSERT_EQ(b.Nucleo().EnviaRechazaLlamada(idB, 206), 0);
    ASSERT_TRUE(DspRecibio(*placa, "10: 19 01 " + c + " 00 08 02\n", 5000)) << placa->Dsp("comandos");
    const auto t0 = Reloj::now();
    ASSERT_TRUE(DspRecibio(*placa, "10: 19 01 " + c + " 00 00 00\n8: 23 01 " + c + " 00\n", 10000))
        << placa->Dsp("comandos");
    EXPECT_GE(std::chrono::duration_cast<milliseconds>(Reloj::now() - t0).count(), 1200);
    EXPECT_TRUE(b.EstadoContiene("    Estado TX = RESOSO\n", 5000));
}

// The DSP service forwards a far-end release with cause 3 as an interrupted conversation.
TEST_F(LineaCalienteTest, AReleaseWithCauseThreeEndsTheIncomingCall) {
    ArrancaPar();
    int32_t idA, idB;
    Conversacion(&idA, &idB);
    placa->Dsp("evento " + std::to_string(iCanalB) + " liberada 3");
    EXPECT_TRUE(b.Espera(COD_FIN_LLAMADA, idB, -1, 5000));
    EXPECT_TRUE(agente.Espera("V,H00,2306,LC-05:", 5000)) << agente.Registros();
}

// Both ends seize at once on an auto-answering line: the outgoing call is answered, and the
// core's refusal of the incoming half leaves it up.
TEST_F(LineaCalienteTest, RejectingTheIncomingHalfOfADoubleSeizureKeepsTheOutgoingCall) {
    ArrancaLinea(b, 5, 1);
    const int iCanal = CanalesAsignados(*placa).back();
    placa->Dsp("evento " + std::to_string(iCanal) + " entrante 0 - -");
    const int32_t idEntrante = b.EsperaEntrante(5000);
    ASSERT_GE(idEntrante, 0);
    const int32_t idSaliente = Llama(b);
    ASSERT_TRUE(b.Espera(COD_ACEPTA_LLAMADA, idSaliente, -1, 5000));
    placa->Dsp("borra");
    ASSERT_EQ(b.Nucleo().EnviaRechazaLlamada(idEntrante, 202), 0);
    ASSERT_TRUE(b.Hijo().LogContiene("CENTLC[5]: RechazaLlamada (" + std::to_string(idEntrante) + ")", 5000));
    EXPECT_TRUE(b.EstadoContiene("    Estado TX = CONVERSACION\n", 5000));
    const std::string sComandos = placa->Dsp("comandos");
    EXPECT_EQ(sComandos.find(" 19 01 "), std::string::npos) << sComandos;  // no rejection tones
    EXPECT_EQ(sComandos.find(" 23 01 "), std::string::npos) << sComandos;  // no release
}

TEST_F(LineaCalienteTest, CoreEndingAnIncomingCallInConversationReleasesTheLine) {
    ArrancaPar();
    int32_t idA, idB;
    Conversacion(&idA, &idB);
    placa->Dsp("borra");
    ASSERT_EQ(b.Nucleo().EnviaFinLlamada(idB), 0);
    EXPECT_TRUE(DspRecibio(*placa, "8: 23 01 " + Hex2(iCanalB) + " 00\n", 5000)) << placa->Dsp("comandos");
    EXPECT_TRUE(a.Espera(COD_FIN_LLAMADA, idA, -1, 5000));  // the far end hears of it
    EXPECT_TRUE(agente.Espera("V,H00,2200,LC-05", 5000)) << agente.Registros();
    EXPECT_TRUE(b.EstadoContiene("    Estado RX = RESOSO\n", 5000));
}

}  // namespace
