// The board's call path under one kind of call made again and again: the real SIP user agent and
// bridge on port 5060, real resource supervisors and call manager, the lines' processes played by
// the test on queue 1 (each takes its calls by itself) and the far parties by sipp. Whatever the
// callers do, call after call, no table, port or guard of the board may run out: a normal call
// still connects afterwards, and the board holds nothing once the calls are over.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "cconfig.h"
#include "csuperec.h"
#include "hijo_falso.h"
#include "nucleo_proceso.h"
#include "sip/cgestorllamada.h"
#include "sip/encaminauri.h"
#include "sip/tests/pasagus_prueba.h"
#include "sip/tests/plan_pruebas.h"
#include "temporizadorvortik.h"

namespace {

constexpr int kVeces = 40;

std::string Escenario(const char* szNombre) {
    const std::string f = __FILE__;
    return f.substr(0, f.rfind('/') + 1) + szNombre;
}

// A line's process that takes every call placed on it: it confirms the call and answers it (or
// only rings), confirms every session, and hangs up once the far end of its call answers (the
// new party of a transfer).
struct LineaAutomatica {
    std::atomic<bool> bContesta{true};
    std::atomic<int> iLlamadas{0}, iFinLlamadas{0};
    pruebas::HijoFalso oHijo;
};
LineaAutomatica gaLineas[2];

template <int N>
struct Manejadores {
    static Cola& Hijo() { return *gaLineas[N].oHijo.poHijo; }
    static void LlamadaSaliente(int32_t, int32_t id, DatosLlamada*) {
        ++gaLineas[N].iLlamadas;
        Hijo().EnviaDiagnostico(5, id, 0);
        if (gaLineas[N].bContesta) Hijo().EnviaAceptaLlamada(id);
    }
    static void NuevaSesion(int32_t, int32_t id, DireccionSesion*) { Hijo().EnviaDiagnostico(15, id, 0); }
    static void AceptaLlamada(int32_t, int32_t id, int32_t) { Hijo().EnviaFinLlamadaCausa(id, 0); }
    static void FinLlamada(int32_t, int32_t, int32_t) { ++gaLineas[N].iFinLlamadas; }
    static void Registra(Cola& h) {
        h.RegistraEvtLlamadaSaliente(LlamadaSaliente);
        h.RegistraEvtNuevaSesion(NuevaSesion);
        h.RegistraEvtAceptaLlamada(AceptaLlamada);
        h.RegistraEvtFinLlamada(FinLlamada);
    }
};

PasaGusPrueba* gpPasaGus = nullptr;

// What the other gateways publish: the plan's lines r2a and r2b free, no other line published.
class EstadosLibres : public CGestorLlamada::CEventos {
public:
    int32_t EvtPetListaDeEstadosPublicados(uint8_t ucNum, CandidatoEncamina* ps) override {
        for (int i = 0; i < ucNum; i++) {
            const bool bLibre = std::strcmp(ps[i].acNombre, "r2a") == 0 || std::strcmp(ps[i].acNombre, "r2b") == 0;
            for (auto& e : ps[i].asEstado) e.ucEstado = bLibre ? 0 : 10;
        }
        return 0;
    }
};

class LlamadasRepetidas : public ::testing::Test {
protected:
    void SetUp() override {
        CSipua::FijaReloj(&TicksPrueba);
        CPasaGus::FijaReloj(&TicksPrueba);
        {
            cfgCerrojo c(&oConfigPasarela.tMutex);
            std::snprintf(oConfigPasarela.szNombre, sizeof oConfigPasarela.szNombre, "PASARELA-PRUEBA");
            std::snprintf(oConfigPasarela.szDirVirtual, sizeof oConfigPasarela.szDirVirtual, "192.0.2.23");
            oConfigPasarela.iCfgModoSistema = 0;
            oConfigPasarela.iSipPeriodoSuperv = 120;
        }
        superecFijaConfig(&oConfigPasarela);
        sipFijaConfig(&oConfigPasarela);
        superecFijaEspera([](uint32_t us) { std::this_thread::sleep_for(std::chrono::microseconds(us / 50)); });
        IpcVortik::Inicia();
        // The core's timer object, on real time: the guards run as they do on the board.
        constexpr unsigned kTemporizadores = CFG_NUM_RECURSOS * CSupervisorRecurso::MAX_GUARDAS + 3;
        poTemporizador = new CTemporizador(kTemporizadores);
        poTemporizador->Inicia(kTemporizadores);
        oPlan.Carga();
        oGestor.Inicia(&oEstados);
        gpPasaGus = &oPasaGus;
        oGestor.FijaLanzador([](int u, DatosLlamadaGestor* d, int* p) { return gpPasaGus->LanzaLlamadaSip(u, d, p); });
        oPasaGus.Inicia(&oGestor, nullptr);
    }

    // A telephone line named szNombre at position rec: a SIP user of the bridge, configured,
    // in service, its process the line gaLineas[N].
    template <int N>
    CSupervisorRecurso& Linea(int rec, const char* szNombre) {
        {
            cfgCerrojo c(&oConfigPasarela.tMutex);
            cfgConfigRecurso& r = oConfigPasarela.asRecursos[rec];
            std::snprintf(r.nombre, sizeof r.nombre, "%s", szNombre);
            r.iTipoIf = TIPOIF_BC;
        }
        CSupervisorRecurso& s = aoSupervisorRecurso[rec];
        EXPECT_EQ(s.Inicia(rec, &oPasaGus, &oGestor), 0);
        s.iIdUsuarioSip = oPasaGus.AltaRecurso(&s, szNombre, TIPOIF_BC, 0);
        s.iHijoConfigurado = 1;
        s.PasoaPrincipal();
        gaLineas[N].oHijo.Conecta(s, 71000 + rec, Manejadores<N>::Registra);
        NotificacionEstado e{};
        s.EvtNotificaEstadoRecurso(&e);
        return s;
    }

    // Nothing left behind once every call is over: ports, routed calls and session records.
    void NadaRetenido(CSupervisorRecurso& s) {
        EXPECT_TRUE(pruebas::EsperaQue([&] { return oPasaGus.PuertosLibres() == PoolLocalPort::NUM_PUERTOS; }, 10000))
            << oPasaGus.PuertosLibres();
        EXPECT_TRUE(pruebas::EsperaQue([&] { return s.CuentaInfoSesionesOcupadas() == 0; }, 10000));
        EXPECT_EQ(oGestor.NumLlamadas(), 0);
    }

    plan_pruebas::Plan oPlan;
    EstadosLibres oEstados;
    CGestorLlamada oGestor;
    PasaGusPrueba oPasaGus;  // last: it goes first, and the SIP thread with it
};

// Each call answered by the line is transferred by its caller to another party, who answers;
// the caller is released and the line hangs up with the new party.
TEST_F(LlamadasRepetidas, NormalCallConnectsAfterFortyCompletedTransfers) {
    CSupervisorRecurso& s = Linea<0>(0, "TLF");
    {
        Sipp oTransferido({"-sf", DirEscenariosSip() + "uas_llamada.xml", "-m", std::to_string(kVeces)}, 5072);
        Sipp oLlamante({"-sf", Escenario("uac_transfiere.xml"), "-m", std::to_string(kVeces), "-l", "1", "-s", "TLF",
                        "127.0.0.1:5060"});
        const int iLlamante = oLlamante.Espera(80000);
        EXPECT_EQ(iLlamante, 0) << oLlamante.Log();
        EXPECT_EQ(oTransferido.Espera(iLlamante == 0 ? 20000 : 1000), 0) << oTransferido.Log();
    }
    EXPECT_EQ(gaLineas[0].iLlamadas, kVeces);
    NadaRetenido(s);
    Sipp oNormal({"-sf", Escenario("uac_llamada.xml"), "-m", "1", "-s", "TLF", "127.0.0.1:5060"});
    EXPECT_EQ(oNormal.Espera(20000), 0) << oNormal.Log();
    NadaRetenido(s);
}

// Each call to an ATS number is routed to the first of its two candidate lines, which rings;
// the caller gives up. The ringing line is released and nothing else is placed.
TEST_F(LlamadasRepetidas, NormalCallConnectsAfterFortyAbandonedRoutedCalls) {
    {
        // The second line's gateway does not answer: a call placed to it would wait for its guard.
        cfgCerrojo c(&oConfigPasarela.tMutex);
        std::snprintf(oConfigPasarela.asAsignacionRecursos[0].idrecurso, 64, "r2b");
        std::snprintf(oConfigPasarela.asAsignacionRecursos[0].idhost, 64, "PASARELA-B");
        std::snprintf(oConfigPasarela.asDireccionamientoIp[0].idhost, 64, "PASARELA-B");
        std::snprintf(oConfigPasarela.asDireccionamientoIp[0].dirip1, 64, "192.0.2.99");
    }
    CSupervisorRecurso& s = Linea<0>(0, "r2a");
    Linea<1>(1, "r2b");
    gaLineas[0].bContesta = false;
    {
        Sipp oLlamante({"-sf", Escenario("uac_abandona.xml"), "-m", std::to_string(kVeces), "-l", "1", "-s", "200001",
                        "127.0.0.1:5060"});
        EXPECT_EQ(oLlamante.Espera(80000), 0) << oLlamante.Log();
    }
    EXPECT_TRUE(pruebas::EsperaQue([] { return gaLineas[0].iFinLlamadas == kVeces; }, 10000))
        << gaLineas[0].iFinLlamadas << " of " << gaLineas[0].iLlamadas << " ringing calls released";
    NadaRetenido(s);
    gaLineas[0].bContesta = true;
    Sipp oNormal({"-sf", Escenario("uac_llamada.xml"), "-m", "1", "-s", "200001", "127.0.0.1:5060"});
    EXPECT_EQ(oNormal.Espera(20000), 0) << oNormal.Log();
    NadaRetenido(s);
}

}  // namespace
