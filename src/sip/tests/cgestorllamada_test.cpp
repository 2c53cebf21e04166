// Call manager over the plan of plan_pruebas.h, with a sink that publishes states from a table
// of the test and a placement that records the legs instead of sending INVITEs.
#include "sip/cgestorllamada.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "plan_pruebas.h"
#include "sip/encaminauri.h"

namespace {

CGestorLlamada* gpoGestor = nullptr;

// Legs placed by the call manager; each gets the next cid, or -1 while bFalla is set.
struct Lanzador {
    std::vector<std::string> vDestinos;
    std::vector<int> vPrioridades;
    int iSiguienteCid = 100;
    bool bFalla = false;
    int iLlamadasVistas = -1;
};
Lanzador gsLanzador;

int Lanza(int, DatosLlamadaGestor* ps, int* piPuerto) {
    // Re-entering the call manager here would deadlock if its lock were held.
    gsLanzador.iLlamadasVistas = gpoGestor->NumLlamadas();
    gsLanzador.vDestinos.push_back(ps->UsuDestino);
    gsLanzador.vPrioridades.push_back(ps->ucPrioridad);
    if (gsLanzador.bFalla) return -1;
    *piPuerto = 5006;
    return gsLanzador.iSiguienteCid++;
}

class Sumidero : public CGestorLlamada::CEventos {
public:
    // Published state of a line: {estado, prio, word}; lines not in the table are not published.
    std::map<std::string, std::vector<int>> mEstados;
    std::atomic<int> iPeticiones{0};
    struct Aborto {
        std::string sInterrumpido, sLiberado;
        int cid;
    };
    std::vector<Aborto> vAbortos;

    int32_t EvtPetListaDeEstadosPublicados(uint8_t ucNum, CandidatoEncamina* ps) override {
        iPeticiones++;
        gpoGestor->NumLlamadas();
        for (int i = 0; i < ucNum; i++) {
            auto it = mEstados.find(ps[i].acNombre);
            for (auto& e : ps[i].asEstado) e.ucEstado = 10;
            if (it == mEstados.end()) continue;
            ps[i].asEstado[0].ucEstado = static_cast<uint8_t>(it->second[0]);
            ps[i].asEstado[0].iValor = it->second[1];
            ps[i].asEstado[0].aiExtra[1] = it->second[2];
        }
        return 0;
    }
    int32_t AbortaInterrupcion(const char* szInterrumpido, const char* szLiberado, int cid) override {
        gpoGestor->NumLlamadas();
        vAbortos.push_back({szInterrumpido, szLiberado, cid});
        return 0;
    }
};

class Gestor : public ::testing::Test {
protected:
    void SetUp() override {
        oPlan.Carga();
        poCfg = std::make_unique<cfgConfigPasarela>();
        poCfg->iCfgModoSistema = 0;
        sipFijaConfig(poCfg.get());
        poGestor = std::make_unique<CGestorLlamada>();
        gpoGestor = poGestor.get();
        poGestor->Inicia(&oSumidero);
        poGestor->FijaLanzador(Lanza);
        gsLanzador = Lanzador();
        for (const char* sz : {"r2a", "r2b", "entrada", "qsig1", "r2c", "otro", "self"}) Libre(sz);
    }
    void TearDown() override {
        sipFijaConfig(nullptr);
        poGestor.reset();
        gpoGestor = nullptr;
    }
    void Libre(const char* sz) { oSumidero.mEstados[sz] = {0, 0, 0}; }
    void Ocupada(const char* sz, int iPrio, int iPalabra = 1) { oSumidero.mEstados[sz] = {1, iPrio, iPalabra}; }

    static DatosLlamadaGestor Datos(const char* szOrigen, const char* szDestino, int iPrio,
                                    const char* szUsuario = "linea") {
        DatosLlamadaGestor s;
        std::memset(&s, 0, sizeof s);
        std::snprintf(s.UsuOrigen, sizeof s.UsuOrigen, "%s", szUsuario);
        std::snprintf(s.NumOrigen, sizeof s.NumOrigen, "%s", szOrigen);
        std::snprintf(s.NumDestino, sizeof s.NumDestino, "%s", szDestino);
        s.ucPrioridad = static_cast<uint8_t>(iPrio);
        s.tipo = 2;
        s.canal = -1;
        return s;
    }
    std::string Destino(int i) {
        DatosLlamadaGestor s;
        return poGestor->DameDatosLlamada(i, &s) == 0 ? s.UsuDestino : "-";
    }

    plan_pruebas::Plan oPlan;
    std::unique_ptr<cfgConfigPasarela> poCfg;
    std::unique_ptr<CGestorLlamada> poGestor;
    Sumidero oSumidero;
};

TEST_F(Gestor, SeventeenthCallIsRefused) {
    for (int i = 0; i < CGestorLlamada::MAX_LLAMADAS; i++) {
        DatosLlamadaGestor s = Datos("100001", "200001", 3);
        ASSERT_EQ(poGestor->EncaminaLlamadaEntrante(17, &s, 500 + i, &oSumidero), i);
    }
    DatosLlamadaGestor s = Datos("100001", "200001", 3);
    EXPECT_EQ(poGestor->EncaminaLlamadaEntrante(17, &s, 600, &oSumidero), -8);
    int iPuerto = -1;
    EXPECT_EQ(poGestor->EncaminaLlamada(3, &s, &iPuerto), -8);
    EXPECT_TRUE(gsLanzador.vDestinos.empty());
    EXPECT_EQ(poGestor->FinEncaminaLlamada(17, 507), 0);
    EXPECT_EQ(poGestor->EncaminaLlamadaEntrante(17, &s, 600, &oSumidero), 7) << "the freed record is taken again";
    EXPECT_EQ(poGestor->BuscaLlamadaPorCid(600), 7);
}

TEST_F(Gestor, EveryFailureFreesItsRecord) {
    const struct {
        const char* szCaso;
        const char* szOrigen;
        const char* szDestino;
        int iModo;
        bool bFallaLanzar;
        int iResultado;
        const char* szUsuario = "linea";
    } kCasos[] = {
        {"same central", "200001", "200002", 0, false, -1},
        {"unknown destination central", "100001", "999999", 0, false, -1},
        {"origin in no central", "999999", "200001", 0, false, -1},
        {"bad tel: destination", "100001", "tel:abc", 0, false, -1},
        {"number outside routing mode", "100001", "200001", 1, false, -1},
        {"all lines busy", "100001", "200001", 0, false, -9},
        // The only route's trunk is the caller's own: not one candidate line.
        {"no candidate lines", "100001", "500001", 0, false, -1, "otro"},
        {"the leg cannot be placed", "100001", "200001", 0, true, -1},
    };
    for (const auto& k : kCasos) {
        poCfg->iCfgModoSistema = k.iModo;
        gsLanzador.bFalla = k.bFallaLanzar;
        for (const char* sz : {"r2a", "r2b", "entrada", "qsig1", "r2c"})
            if (k.iResultado == -9) Ocupada(sz, 1); else Libre(sz);
        // More failures than records: a record kept by any of them would show.
        for (int n = 0; n < 20; n++) {
            DatosLlamadaGestor s = Datos(k.szOrigen, k.szDestino, 2, k.szUsuario);
            int iPuerto = -1;
            ASSERT_EQ(poGestor->EncaminaLlamada(3, &s, &iPuerto), k.iResultado) << k.szCaso;
        }
        EXPECT_EQ(poGestor->NumLlamadas(), 0) << k.szCaso;
    }
    poCfg->iCfgModoSistema = 0;
    gsLanzador.bFalla = false;
    for (const char* sz : {"r2a", "r2b"}) Libre(sz);
    DatosLlamadaGestor s = Datos("100001", "200001", 2);
    int iPuerto = -1;
    EXPECT_EQ(poGestor->EncaminaLlamada(3, &s, &iPuerto), 100) << "a good call after the failures";
    EXPECT_EQ(gsLanzador.iLlamadasVistas, 1) << "placed without the call manager's lock";
}

// A call manager the core has not wired places nothing: the leg fails and keeps no record.
TEST_F(Gestor, WithoutALauncherTheLegFailsAndKeepsNoRecord) {
    poGestor->FijaLanzador(nullptr);
    DatosLlamadaGestor s = Datos("100001", "200001", 2);
    int iPuerto = -1;
    EXPECT_EQ(poGestor->EncaminaLlamada(3, &s, &iPuerto), -1);
    EXPECT_EQ(poGestor->NumLlamadas(), 0);
    EXPECT_TRUE(gsLanzador.vDestinos.empty());
}

TEST_F(Gestor, CallPlacedOnTheFirstFreeLineWithItsRoutePriority) {
    Ocupada("r2a", 3);
    DatosLlamadaGestor s = Datos("100001", "200001", 2);
    int iPuerto = -1;
    ASSERT_EQ(poGestor->EncaminaLlamada(3, &s, &iPuerto), 100);
    EXPECT_EQ(iPuerto, 5006);
    EXPECT_EQ(gsLanzador.vDestinos, (std::vector<std::string>{"r2b"}));
    EXPECT_EQ(gsLanzador.vPrioridades, (std::vector<int>{2}));
    EXPECT_GE(oSumidero.iPeticiones, 1);
    const int i = poGestor->BuscaLlamadaPorCid(100);
    ASSERT_GE(i, 0);
    EXPECT_EQ(Destino(i), "r2b");
    EXPECT_EQ(poGestor->FinEncaminaLlamada(3, 100), 0);
    EXPECT_EQ(poGestor->NumLlamadas(), 0);
    EXPECT_EQ(poGestor->FinEncaminaLlamada(3, 100), -1);
}

TEST_F(Gestor, ProgressionPlacesTheNextLine) {
    DatosLlamadaGestor s = Datos("100001", "200001", 2);
    int iPuerto = -1;
    ASSERT_EQ(poGestor->EncaminaLlamada(3, &s, &iPuerto), 100);
    EXPECT_EQ(poGestor->ProgresionLlamada(3, 100, 2, &iPuerto), 101);
    EXPECT_EQ(poGestor->ProgresionLlamada(3, 100, 2, &iPuerto), -1) << "the call now has the new leg's cid";
    Ocupada("entrada", 1);
    EXPECT_EQ(poGestor->ProgresionLlamada(3, 101, 4, &iPuerto), 102);
    EXPECT_EQ(gsLanzador.vDestinos, (std::vector<std::string>{"r2a", "r2b", "qsig1"}));
    EXPECT_EQ(gsLanzador.vPrioridades, (std::vector<int>{2, 2, 7}));
    gsLanzador.bFalla = true;
    EXPECT_EQ(poGestor->ProgresionLlamada(3, 102, 2, &iPuerto), -1);
    EXPECT_EQ(poGestor->BuscaLlamadaPorCid(102), 0) << "a failed new leg leaves the call under its old cid";
    gsLanzador.bFalla = false;
    EXPECT_EQ(poGestor->ProgresionLlamada(3, 102, 2, &iPuerto), -1) << "no line left";
    EXPECT_EQ(poGestor->ProgresionLlamada(3, 102, 6, &iPuerto), -1) << "code 6 ends the progression";
    EXPECT_EQ(poGestor->FinEncaminaLlamada(3, 102), 0);
    EXPECT_EQ(poGestor->NumLlamadas(), 0);
}

TEST_F(Gestor, IncomingCallProgressesWithoutAPort) {
    DatosLlamadaGestor s = Datos("100001", "200001", 2);
    const int i = poGestor->EncaminaLlamadaEntrante(17, &s, 42, &oSumidero);
    ASSERT_GE(i, 0);
    EXPECT_EQ(Destino(i), "r2a");
    EXPECT_EQ(poGestor->ProgresionLlamada(17, 42, 2, nullptr), i);
    EXPECT_EQ(Destino(i), "r2b");
    EXPECT_TRUE(gsLanzador.vDestinos.empty());
    DatosLlamadaGestor d;
    EXPECT_EQ(poGestor->DameDatosLlamada(-1, &d), -1);
    EXPECT_EQ(poGestor->DameDatosLlamada(15, &d), -1);
}

TEST_F(Gestor, OwnOriginLineIsNeverTheDestination) {
    DatosLlamadaGestor s = Datos("100001", "500001", 2, "self");
    const int i = poGestor->EncaminaLlamadaEntrante(17, &s, 42, &oSumidero);
    ASSERT_GE(i, 0);
    EXPECT_EQ(Destino(i), "otro");
}

TEST_F(Gestor, OnlyPriorityOneInterrupts) {
    for (const char* sz : {"r2a", "r2b", "entrada"}) Ocupada(sz, 9);
    Ocupada("r2b", 9, 5);
    for (const char* sz : {"qsig1", "r2c"}) Ocupada(sz, 1);
    DatosLlamadaGestor s = Datos("108001", "200001", 2);
    int iPuerto = -1;
    EXPECT_EQ(poGestor->EncaminaLlamada(3, &s, &iPuerto), -9) << "priority 2: no free line, no interruption";
    s = Datos("108001", "200001", 1);
    const int i = poGestor->EncaminaLlamadaEntrante(17, &s, 42, &oSumidero);
    ASSERT_GE(i, 0);
    DatosLlamadaGestor d;
    ASSERT_EQ(poGestor->DameDatosLlamada(i, &d), 0);
    EXPECT_STREQ(d.UsuDestino, "r2b") << "the busy priority-9 line with the greatest word";
    EXPECT_EQ(d.canal, 0);
    EXPECT_EQ(d.ucPrioridad, 1);
}

TEST_F(Gestor, FreedResourceMovesOneWaitingCall) {
    DatosLlamadaGestor s = Datos("100001", "200001", 2);
    int iPuerto = -1;
    ASSERT_EQ(poGestor->EncaminaLlamada(3, &s, &iPuerto), 100);  // holds r2a
    for (const char* sz : {"r2a", "qsig1", "r2c"}) Ocupada(sz, 1);
    for (const char* sz : {"r2b", "entrada"}) Ocupada(sz, 9);
    for (int cid : {51, 52}) {
        DatosLlamadaGestor p = Datos("108001", "200001", 1);
        ASSERT_GE(poGestor->EncaminaLlamadaEntrante(17, &p, cid, &oSumidero), 0);
        ASSERT_EQ(poGestor->ActualizaFlagIntWarning(17, cid, 1), 0);
    }
    EXPECT_EQ(poGestor->ActualizaFlagIntWarning(17, 99, 1), -1);
    EXPECT_EQ(Destino(poGestor->BuscaLlamadaPorCid(51)), "r2b");
    ASSERT_EQ(poGestor->FinEncaminaLlamada(3, 100), 0);
    ASSERT_EQ(oSumidero.vAbortos.size(), 1u);
    EXPECT_EQ(oSumidero.vAbortos[0].sInterrumpido, "r2b");
    EXPECT_EQ(oSumidero.vAbortos[0].sLiberado, "r2a");
    EXPECT_EQ(oSumidero.vAbortos[0].cid, 51);
    EXPECT_EQ(Destino(poGestor->BuscaLlamadaPorCid(51)), "r2a");
    EXPECT_EQ(Destino(poGestor->BuscaLlamadaPorCid(52)), "r2b");
    ASSERT_EQ(poGestor->FinEncaminaLlamada(17, 51), 0);
    ASSERT_EQ(oSumidero.vAbortos.size(), 2u) << "r2a freed again: the other waiting call moves";
    EXPECT_EQ(oSumidero.vAbortos[1].cid, 52);
}

// The sink takes the number of records as one byte: a longer list goes in several requests.
TEST_F(Gestor, MoreThan255CandidateLinesAllGetTheirStates) {
    Central& e = oPlan.vCentrales[4];
    int iLinea = 0;
    for (int r = 1; r <= 5; r++) {
        e.asRutas[r].tipo = 0;
        for (int t = 0; t < 8; t++) {
            const int iTroncal = 10 + (r - 1) * 8 + t;
            char acId[16];
            std::snprintf(acId, sizeof acId, "TX%d", iTroncal);
            Troncal& tr = oPlan.NuevaTroncal(iTroncal, acId, nullptr);
            plan_pruebas::Pon(e.asRutas[r].troncales[t], acId);
            for (int k = 0; k < 8; k++) {
                char acLinea[16];
                std::snprintf(acLinea, sizeof acLinea, "L%03d", iLinea++);
                plan_pruebas::Plan::Linea(tr, k, 5, acLinea);
            }
        }
    }
    for (int t = 6; t < 10; t++) oPlan.NuevaTroncal(t, "RELLENO", nullptr);  // the trunk table ends at a gap
    oPlan.Carga();
    oSumidero.mEstados.clear();
    Libre("L300");  // candidate 302 of 322: only the second request tells it is free
    DatosLlamadaGestor s = Datos("100001", "500001", 2);
    const int i = poGestor->EncaminaLlamadaEntrante(17, &s, 42, &oSumidero);
    ASSERT_GE(i, 0);
    EXPECT_EQ(Destino(i), "L300");
    EXPECT_EQ(oSumidero.iPeticiones, 3) << "255 + 67 candidates, then the interruptible lines of route 0";
}

std::atomic<int> giCidHilos{1000};
int LanzaHilos(int, DatosLlamadaGestor*, int* piPuerto) {
    *piPuerto = 5008;
    return giCidHilos++;
}

// Supervisors' threads and the SIP thread route, progress and end calls at once.
TEST_F(Gestor, CallsFromSeveralThreadsLeaveNoRecordBehind) {
    poGestor->FijaLanzador(LanzaHilos);
    std::atomic<int> iColocadas{0};
    std::vector<std::thread> v;
    for (int h = 0; h < 4; h++)
        v.emplace_back([&, h] {
            for (int n = 0; n < 200; n++) {
                DatosLlamadaGestor s = Datos("100001", "200001", 2);
                int iPuerto = -1;
                const int cid = poGestor->EncaminaLlamada(h, &s, &iPuerto);
                if (cid < 0) continue;
                iColocadas++;
                const int cid2 = poGestor->ProgresionLlamada(h, cid, 2, &iPuerto);
                poGestor->ActualizaFlagIntWarning(h, cid2, 1);
                poGestor->FinEncaminaLlamada(h, cid2 >= 0 ? cid2 : cid);
            }
        });
    for (auto& t : v) t.join();
    EXPECT_GT(iColocadas.load(), 0);
    EXPECT_EQ(poGestor->NumLlamadas(), 0);
}

TEST_F(Gestor, UriDestinationKeepsItsDestination) {
    DatosLlamadaGestor s = Datos("sip:100001@10.1.1.1", "sip:200001@10.2.2.2", 3);
    std::snprintf(s.UsuDestino, sizeof s.UsuDestino, "%s", "remoto");
    const int i = poGestor->EncaminaLlamadaEntrante(17, &s, 42, &oSumidero);
    ASSERT_GE(i, 0);
    DatosLlamadaGestor d;
    ASSERT_EQ(poGestor->DameDatosLlamada(i, &d), 0);
    EXPECT_STREQ(d.UsuDestino, "remoto");
    EXPECT_STREQ(d.NumDestino, "sip:200001@10.2.2.2");
    EXPECT_EQ(d.ucPrioridad, 3);
    EXPECT_EQ(oSumidero.iPeticiones, 0);
}

TEST_F(Gestor, TelDestinationLosesItsNetworkPrefix) {
    DatosLlamadaGestor s = Datos("sip:100001@10.1.1.1", "<tel:03200001>", 2);
    const int i = poGestor->EncaminaLlamadaEntrante(17, &s, 42, &oSumidero);
    ASSERT_GE(i, 0);
    DatosLlamadaGestor d;
    ASSERT_EQ(poGestor->DameDatosLlamada(i, &d), 0);
    EXPECT_STREQ(d.NumDestino, "200001");
    EXPECT_STREQ(d.NumOrigen, "100001");
    EXPECT_STREQ(d.UsuDestino, "r2a");
}

}  // namespace
