// Call handling of the resource supervisors. The test process is the core: its supervisors get
// SIP events as the bridge hands them (a recording bridge and call manager stand for the SIP
// side), and the resource process is either the far end of a real channel of queue 1 driven by
// the test (it records what the supervisor sends and answers as the line would) or the real
// resource program. Guards run on a timer the test steps.
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ccolateral.h"
#include "csimboard.h"
#include "cconfig.h"
#include "copcionesradio.h"
#include "ceventossuperec.h"
#include "csuperec.h"
#include "comun/nlog.h"
#include "hijo_falso.h"
#include "ipc/cola.h"
#include "ipcvortik.h"
#include "mantenimiento.h"
#include "nucleo_proceso.h"
#include "sip/cgestorllamada.h"
#include "sip/cpasagus.h"
#include "sip/encaminauri.h"
#include "temporizador_pruebas.h"

namespace {

// What crossed a boundary, as text lines ("EnviaRinging 7", "hijo NuevaSesion ..."), in order.
std::mutex& gMutex = *new std::mutex;
std::vector<std::string>& gSucesos = *new std::vector<std::string>;
std::vector<std::string>& gLog = *new std::vector<std::string>;
DireccionSesion gUltimaSesion;
DatosLlamada gUltimaLlamada;

void Anota(const std::string& s) {
    std::lock_guard<std::mutex> l(gMutex);
    gSucesos.push_back(s);
}
void Captura(int, const char* texto) {
    std::lock_guard<std::mutex> l(gMutex);
    gLog.emplace_back(texto);
}
int Cuenta(const std::string& s) {
    std::lock_guard<std::mutex> l(gMutex);
    int n = 0;
    for (const auto& e : gSucesos) n += e == s;
    return n;
}
int CuentaEmpiezan(const std::string& s) {
    std::lock_guard<std::mutex> l(gMutex);
    int n = 0;
    for (const auto& e : gSucesos) n += e.compare(0, s.size(), s) == 0;
    return n;
}
bool Espera(const std::string& s, int n = 1) {
    return pruebas::EsperaQue([&] { return Cuenta(s) >= n; }, 5000);
}
bool EsperaEmpieza(const std::string& s, int n = 1) {
    return pruebas::EsperaQue([&] { return CuentaEmpiezan(s) >= n; }, 5000);
}
bool EnLog(const std::string& s) {
    std::lock_guard<std::mutex> l(gMutex);
    for (const auto& e : gLog)
        if (e.find(s) != std::string::npos) return true;
    return false;
}
// The last recorded line that starts so, or "".
std::string Ultimo(const std::string& prefijo) {
    std::lock_guard<std::mutex> l(gMutex);
    for (auto it = gSucesos.rbegin(); it != gSucesos.rend(); ++it)
        if (it->compare(0, prefijo.size(), prefijo) == 0) return *it;
    return "";
}
// The id the last recorded line "prefix <id> ..." carries.
int IdUltimo(const std::string& prefijo) { return std::atoi(Ultimo(prefijo).c_str() + prefijo.size()); }
// The id a recorded line "prefix <id> ..." carries.
int IdDe(const std::string& prefijo) {
    std::lock_guard<std::mutex> l(gMutex);
    for (const auto& e : gSucesos)
        if (e.compare(0, prefijo.size(), prefijo) == 0) return std::atoi(e.c_str() + prefijo.size());
    return -1;
}

// The SIP side as the supervisor sees it.
class CPasaGusPrueba : public CPasaGus {
public:
    int AltaRecurso(CRecursoSip*, const char*, int, int iRegistro, const char* szClave) override {
        Anota("AltaRecurso " + std::to_string(iRegistro) + " " + (szClave ? szClave : "(null)"));
        return 3;
    }
    int BajaRecurso(CRecursoSip*) override { return 0; }
    int RechazaLlamada(int, int cid, int m) override { return Anota("RechazaLlamada " + std::to_string(cid) + " " + std::to_string(m)), 0; }
    int RechazaSustitucion(int, int cid) override { return Anota("RechazaSustitucion " + std::to_string(cid)), 0; }
    int EnviaRinging(int, int cid) override { return Anota("EnviaRinging " + std::to_string(cid)), 0; }
    int EnviaSessionProgress(int, int cid) override { return Anota("EnviaSessionProgress " + std::to_string(cid)), 0; }
    int AceptaLlamada(int, int cid, int p) override {
        return Anota("AceptaLlamada " + std::to_string(cid) + " " + std::to_string(p)), 0;
    }
    int AceptaLlamadaConModo(int, int cid, int p, int ptt) override {
        return Anota("AceptaLlamadaConModo " + std::to_string(cid) + " " + std::to_string(p) + " " + std::to_string(ptt)), 0;
    }
    int LanzaLlamadaSip(int, DatosLlamadaGestor* p, int* puerto) override {
        {
            std::lock_guard<std::mutex> l(gMutex);
            sUltimaLanzada = *p;
        }
        Anota(std::string("LanzaLlamadaSip ") + p->NumDestino);
        *puerto = 41000;
        return iSiguienteCid++;
    }
    int DevuelveLocalPort(int, int cid, int p) override {
        return Anota("DevuelveLocalPort " + std::to_string(cid) + " " + std::to_string(p)), 0;
    }
    int NotificaKeyIn(int) override { return Anota("NotificaKeyIn"), 0; }
    int NotificaRefer(int, int d, const char* t) override { return Anota("NotificaRefer " + std::to_string(d) + " " + t), 0; }
    int EnviaInfo(int, int cid, int t, const char* x) override {
        return Anota("EnviaInfo " + std::to_string(cid) + " " + std::to_string(t) + " " + (x ? x : "")), 0;
    }
    int ActualizaEstadoUsuario(int, int r, const NotificacionEstado* e) override {
        return Anota("Estado " + std::to_string(r) + " " + std::to_string(e->ucEstado)), 0;
    }
    std::atomic<int> iSiguienteCid{500};
    DatosLlamadaGestor sUltimaLanzada{};  // under gMutex
};

// Routing mode's call manager: each call gets the next SIP id, or fails when told to.
class CGestorPrueba : public CGestorLlamada {
public:
    int EncaminaLlamada(int, DatosLlamadaGestor* p, int* puerto) override {
        // Routing-mode collateral calls name their target by user id.
        Anota(std::string("EncaminaLlamada ") + (p->NumDestino[0] ? p->NumDestino : p->UsuDestino));
        if (bFalla) return -1;
        *puerto = 42000 + iSiguienteCid % 100;
        return iSiguienteCid++;
    }
    int ProgresionLlamada(int, int cid, int, int*) override { return Anota("ProgresionLlamada " + std::to_string(cid)), -1; }
    int FinEncaminaLlamada(int, int cid) override { return Anota("FinEncaminaLlamada " + std::to_string(cid)), 0; }
    std::atomic<int> iSiguienteCid{300};
    std::atomic<bool> bFalla{false};
};

// The rest of the core as the supervisors tell it: the SNMP agent's records.
class CEventosPrueba : public CSupervisorRecurso::CEventos {
public:
    void EvtSupervisionOptions(int r, int v, const char* uri) override {
        Anota("Options " + std::to_string(r) + " " + std::to_string(v) + " " + uri);
    }
    void EvtPublicaEmplazamiento(int r, const char*, int e, const int a[4], int tx, int rx) override {
        char ac[96];
        std::snprintf(ac, sizeof ac, "N09 %d %d %d,%d,%d,%d %d %d", r, e, a[0], a[1], a[2], a[3], tx, rx);
        Anota(ac);
    }
    void EvtPublicaSesiones(int r, const char*, const SesionPublicada as[4]) override {
        std::string t = "N10 " + std::to_string(r);
        for (int i = 0; i < 4; ++i) t += " " + std::to_string(as[i].iActivo) + ":" + as[i].acUri;
        Anota(t);
    }
    void EvtPublicaEstado(int r, const char*, int est, int ses, int sup, const char* uri) override {
        Anota("N08 " + std::to_string(r) + " " + std::to_string(est) + " " + std::to_string(ses) + " " +
              std::to_string(sup) + " " + uri);
    }
};
CEventosPrueba& gEventos = *new CEventosPrueba;

CPasaGusPrueba& gPasaGus = *new CPasaGusPrueba;
CGestorPrueba& gGestor = *new CGestorPrueba;
pruebas::CTemporizadorManual* gpTemporizador = nullptr;

// The resource process's end of the channel: it records what the core sends.
void HijoLlamadaSaliente(int32_t, int32_t id, DatosLlamada* d) {
    {
        std::lock_guard<std::mutex> l(gMutex);
        gUltimaLlamada = *d;
    }
    Anota("hijo LlamadaSaliente " + std::to_string(id));
}
void HijoNuevaSesion(int32_t, int32_t id, DireccionSesion* d) {
    {
        std::lock_guard<std::mutex> l(gMutex);
        gUltimaSesion = *d;
    }
    Anota("hijo NuevaSesion " + std::to_string(id));
}
void HijoModificaSesion(int32_t, int32_t id, DireccionSesion* d) {
    Anota("hijo ModificaSesion " + std::to_string(id) + " " + std::to_string(d->iPayloadForzado) + " " +
          std::to_string(d->iPayload) + " " + std::to_string(d->iStandby));
}
void HijoFinSesion(int32_t, int32_t id, int32_t) { Anota("hijo FinSesion " + std::to_string(id)); }
void HijoFinLlamada(int32_t, int32_t id, int32_t c) { Anota("hijo FinLlamada " + std::to_string(id) + " " + std::to_string(c)); }
void HijoRechazaLlamada(int32_t, int32_t id, int32_t m) {
    Anota("hijo RechazaLlamada " + std::to_string(id) + " " + std::to_string(m));
}
void HijoAceptaLlamada(int32_t, int32_t id, int32_t v) { Anota("hijo AceptaLlamada " + std::to_string(id) + " " + std::to_string(v)); }
void HijoRinging(int32_t, int32_t id, int32_t m) { Anota("hijo Ringing " + std::to_string(id) + " " + std::to_string(m)); }
void HijoDebug(int32_t, int32_t v) {
    uint8_t b[4];
    std::memcpy(b, &v, sizeof b);
    Anota("hijo Debug " + std::to_string(b[0]) + " " + std::to_string(b[1]));
}

void Escribe(const char* szRuta, const std::string& texto) { std::ofstream(szRuta) << texto; }

// A supervisor whose child is the test: configured, main board, its channel on queue 1.
struct Linea : pruebas::HijoFalso {
    int iRec = -1;
    CSupervisorRecurso& Sup() { return aoSupervisorRecurso[iRec]; }
    // What starting the resource prepares (options file, PTT-id table, collateral targets),
    // without the supervisor's thread going to running: the test is the child.
    void Prepara() {
        Sup().poOpcionesRadio->Lee();
        Sup().oTablaPttId.FijaTamano(Sup().poOpcionesRadio->DameMaxSessions());
        Sup().poColateral->Arranca();
    }
    void Conecta() {
        HijoFalso::Conecta(Sup(), 70000 + iRec, [](Cola& h) {
            h.RegistraEvtLlamadaSaliente(HijoLlamadaSaliente);
            h.RegistraEvtNuevaSesion(HijoNuevaSesion);
            h.RegistraEvtModificaSesion(HijoModificaSesion);
            h.RegistraEvtFinSesion(HijoFinSesion);
            h.RegistraEvtFinLlamada(HijoFinLlamada);
            h.RegistraEvtRechazaLlamada(HijoRechazaLlamada);
            h.RegistraEvtAceptaLlamada(HijoAceptaLlamada);
            h.RegistraEvtRinging(HijoRinging);
            h.RegistraDebug(HijoDebug);
        });
    }
};

class SupervisorLlamadas : public ::testing::Test {
protected:
    void SetUp() override {
        {
            std::lock_guard<std::mutex> l(gMutex);
            gSucesos.clear();
            gLog.clear();
        }
        NLOG::FijaCaptura(Captura);
        superecFijaConfig(&oConfigPasarela);
        superecFijaEspera([](uint32_t us) { std::this_thread::sleep_for(std::chrono::microseconds(us / 50)); });
        IpcVortik::Inicia();
        if (gpTemporizador == nullptr) gpTemporizador = new pruebas::CTemporizadorManual;
    }
    // A configured resource of that type at position rec, its supervisor started, stopped; its
    // line in service unless told otherwise.
    Linea Recurso(int rec, int tipoIf, int tipoRadio = -1, bool bCanal = true, bool bEnServicio = true) {
        {
            cfgCerrojo c(&oConfigPasarela.tMutex);
            cfgConfigRecurso& r = oConfigPasarela.asRecursos[rec];
            std::snprintf(r.nombre, sizeof r.nombre, "REC%02d", rec);
            r.iTipoIf = tipoIf;
            if (tipoRadio >= 0) r.uParam.radio.iTipoRadio = tipoRadio;
        }
        Linea l;
        l.iRec = rec;
        EXPECT_EQ(l.Sup().Inicia(rec, &gPasaGus, &gGestor), 0);
        l.Sup().iHijoConfigurado = 1;
        l.Sup().iIdUsuarioSip = 3;
        l.Sup().PasoaPrincipal();
        if (bCanal) l.Conecta();
        if (bEnServicio) EnServicio(l, 0);
        return l;
    }
    // The line tells its state, as its process does.
    static void EnServicio(Linea& l, uint8_t ucEstado) {
        NotificacionEstado e{};
        e.ucEstado = ucEstado;
        l.Sup().EvtNotificaEstadoRecurso(&e);
    }
    static DatosEventoSip Sesion(int cid, const char* origen, const char* destino) {
        DatosEventoSip e{};
        e.cid = cid;
        std::snprintf(e.acRemoto, sizeof e.acRemoto, "%s", origen);
        std::snprintf(e.acLocal, sizeof e.acLocal, "%s", destino);
        std::snprintf(e.acDirRemota, sizeof e.acDirRemota, "10.0.0.2");
        e.iPuertoLocal = 40000;
        e.iPuertoRemoto = 5004;
        e.iPayload = 8;
        return e;
    }
    static DatosEventoSip SesionRadio(int cid, const char* origen) {
        DatosEventoSip e = Sesion(cid, origen, "sip:RADIO@10.0.0.1");
        std::snprintf(e.acSubject, sizeof e.acSubject, "radio");
        e.incomming_priority = 3;
        e.rtphe = 1;
        return e;
    }
    void TearDown() override {
        if (!HasFailure()) return;
        std::lock_guard<std::mutex> l(gMutex);
        for (const auto& s : gSucesos) std::printf("suceso: %s\n", s.c_str());
        for (const auto& s : gLog) std::printf("log: %s\n", s.c_str());
    }
};

TEST(CausaFallo, SipStatusGivesTheLineMotivoAndTheProgressionOnBothMaps) {
    struct Caso {
        int iEstado;
        int iMotivo, iProgresion;  // generic map
        int iQ850;                 // QSIG lines, progression always 6
    };
    const Caso casos[] = {
        {400, 210, 6, 41},  {401, 210, 6, 21},  {403, 210, 6, 21},  {407, 210, 6, 79},  {413, 210, 6, 127},
        {481, 210, 6, 41},  {482, 210, 6, 25},  {483, 210, 6, 25},  {491, 210, 6, 41},  {493, 210, 6, 41},
        {404, 205, 2, 1},   {405, 205, 2, 63},  {406, 205, 2, 79},  {410, 205, 2, 22},  {415, 205, 2, 79},
        {484, 205, 2, 28},  {485, 205, 2, 1},   {488, 205, 2, 65},  {501, 205, 2, 79},  {604, 205, 2, 1},
        {606, 205, 2, 65},  {408, 204, 7, 102}, {487, 204, 7, 16},  {480, 202, 3, 18},  {486, 202, 3, 17},
        {600, 202, 3, 17},  {603, 202, 3, 21},  {503, 206, 5, 41},  {302, 203, 4, 41},  {699, 203, 4, 41},
        {500, 203, 4, 41},  {502, 203, 4, 38},  {504, 203, 4, 102}, {505, 203, 4, 127}, {513, 203, 4, 127},
    };
    for (const Caso& c : casos) {
        const auto g = CSupervisorRecurso::CausaFalloSip(c.iEstado);
        EXPECT_EQ(g.iMotivo, c.iMotivo) << c.iEstado;
        EXPECT_EQ(g.iProgresion, c.iProgresion) << c.iEstado;
        const auto q = CSupervisorRecurso::CausaFalloSipQsig(c.iEstado);
        EXPECT_EQ(q.iMotivo, c.iQ850) << c.iEstado;
        EXPECT_EQ(q.iProgresion, 6) << c.iEstado;
    }
}

TEST_F(SupervisorLlamadas, SipCallReachesTheLineIsAnsweredOnceAndEndsFromTheLine) {
    Linea l = Recurso(1, TIPOIF_BC);
    DatosEventoSip e = Sesion(7, "sip:300101@10.0.0.2", "sip:200202@10.0.0.1");
    l.Sup().Traplic_Invite(&e);
    ASSERT_TRUE(EsperaEmpieza("hijo LlamadaSaliente "));
    const int idllam = IdDe("hijo LlamadaSaliente ");
    {
        std::lock_guard<std::mutex> g(gMutex);
        EXPECT_STREQ(gUltimaLlamada.acOrigen, "300101");
        EXPECT_STREQ(gUltimaLlamada.acDestino, "200202");
        EXPECT_EQ(gUltimaLlamada.ucPrioridad, 2) << "no priority in the INVITE: 2";
        EXPECT_EQ(gUltimaLlamada.iTipoLlamada, 2);
    }
    // The line takes the call: 180 to the caller.
    l.poHijo->EnviaDiagnostico(5, idllam, 0);
    ASSERT_TRUE(Espera("EnviaRinging 7"));
    // The line answers: the session goes to the resource process.
    l.poHijo->EnviaAceptaLlamada(idllam);
    ASSERT_TRUE(EsperaEmpieza("hijo NuevaSesion "));
    const int idsesion = IdDe("hijo NuevaSesion ");
    {
        std::lock_guard<std::mutex> g(gMutex);
        const DireccionSesion& d = gUltimaSesion;
        EXPECT_EQ(d.iPayloadForzado, 8);
        EXPECT_EQ(d.iPayload, 8);
        EXPECT_EQ(d.iPuertoLocal, 40000);
        EXPECT_EQ(d.uiDirRemota, 0x0A000002u);
        EXPECT_STREQ(d.acDirRemota, "10.0.0.2");
        EXPECT_EQ(d.iPuertoRemoto, 5004);
        EXPECT_EQ(d.idllam, idllam);
        EXPECT_EQ(d.iRtpHe, 1);
        EXPECT_EQ(d.iStandby, 0);
        EXPECT_EQ(d.iIndiceColateral, -1);
    }
    // Confirmed twice: the INVITE is answered once.
    l.poHijo->EnviaDiagnostico(15, idsesion, 0);
    ASSERT_TRUE(Espera("AceptaLlamada 7 40000"));
    l.poHijo->EnviaDiagnostico(15, idsesion, 0);
    // The line hangs up: the session ends on both sides and the record is free.
    l.poHijo->EnviaFinLlamadaCausa(idllam, 0);
    ASSERT_TRUE(Espera("hijo FinSesion " + std::to_string(idsesion)));
    EXPECT_EQ(Cuenta("AceptaLlamada 7 40000"), 1);
    EXPECT_TRUE(pruebas::EsperaQue([&] { return l.Sup().CuentaInfoSesionesOcupadas() == 0; }, 2000));
    EXPECT_EQ(Cuenta("DevuelveLocalPort 7 40000"), 1);
}

TEST_F(SupervisorLlamadas, ReinviteModifiesTheSessionAndReplacesMovesTheCallToTheNewDialog) {
    Linea l = Recurso(0, TIPOIF_BC);
    DatosEventoSip e = Sesion(40, "sip:300101@10.0.0.2", "sip:200202@10.0.0.1");
    l.Sup().Traplic_Invite(&e);
    ASSERT_TRUE(EsperaEmpieza("hijo LlamadaSaliente "));
    const int idllam = IdDe("hijo LlamadaSaliente ");
    l.poHijo->EnviaDiagnostico(5, idllam, 0);
    l.poHijo->EnviaAceptaLlamada(idllam);
    ASSERT_TRUE(EsperaEmpieza("hijo NuevaSesion "));
    const int id1 = IdDe("hijo NuevaSesion ");
    l.poHijo->EnviaDiagnostico(15, id1, 0);
    ASSERT_TRUE(Espera("AceptaLlamada 40 40000"));
    // Receive-only offer on hold: payload -1, the offered one as override, standby.
    DatosEventoSip r = e;
    r.iDirRemota = 2;
    r.iPayload = 0;
    r.iTipoSesion = 3;
    l.Sup().Traplic_Reinvite(&r);
    ASSERT_TRUE(Espera("hijo ModificaSesion " + std::to_string(id1) + " 0 -1 1"));
    // A new dialog replaces the call: the old session ends, the new one carries the same call.
    DatosEventoSip n = Sesion(41, "sip:300101@10.0.0.3", "sip:200202@10.0.0.1");
    n.iPuertoLocal = 40002;
    l.Sup().Traplic_Replaces(40, &n);
    ASSERT_TRUE(Espera("hijo FinSesion " + std::to_string(id1)));
    ASSERT_TRUE(EsperaEmpieza("hijo NuevaSesion ", 2));
    {
        std::lock_guard<std::mutex> g(gMutex);
        EXPECT_EQ(gUltimaSesion.idllam, idllam);
        EXPECT_EQ(gUltimaSesion.iPuertoLocal, 40002);
    }
    EXPECT_TRUE(EnLog("CSUPEREC[0]: CierraSesionCompleta cid=40 causa=0"));
    EXPECT_EQ(Cuenta("hijo FinLlamada " + std::to_string(idllam) + " 0"), 0) << "the call goes on";
    EXPECT_EQ(l.Sup().CuentaInfoSesionPorIdLlamada(idllam), 1);
}

// A Replaces of a call the resource does not hold is answered: an unanswered INVITE would keep
// its SIP session for good.
TEST_F(SupervisorLlamadas, ReplacesOfACallTheResourceDoesNotHoldIsRefused) {
    Linea l = Recurso(0, TIPOIF_BC);
    DatosEventoSip n = Sesion(41, "sip:300101@10.0.0.3", "sip:200202@10.0.0.1");
    l.Sup().Traplic_Replaces(40, &n);
    EXPECT_EQ(Cuenta("RechazaSustitucion 41"), 1);
    EXPECT_EQ(l.Sup().CuentaInfoSesionesOcupadas(), 0);
}

TEST_F(SupervisorLlamadas, LineThatNeverConfirmsTheCallIsClosedByItsGuardWithItsCause) {
    Linea l = Recurso(2, TIPOIF_BC);
    DatosEventoSip e = Sesion(8, "sip:300101@10.0.0.2", "sip:200202@10.0.0.1");
    l.Sup().Traplic_Invite(&e);
    ASSERT_TRUE(EsperaEmpieza("hijo LlamadaSaliente "));
    const int idllam = IdDe("hijo LlamadaSaliente ");
    gpTemporizador->Avanza(149);
    EXPECT_EQ(Cuenta("RechazaLlamada 8 204"), 0);
    gpTemporizador->Avanza(2);
    EXPECT_EQ(Cuenta("RechazaLlamada 8 204"), 1);
    ASSERT_TRUE(Espera("hijo FinLlamada " + std::to_string(idllam) + " 0"));
    EXPECT_EQ(l.Sup().CuentaInfoSesionesOcupadas(), 0);
    // A late confirmation finds nothing to answer.
    l.poHijo->EnviaDiagnostico(5, idllam, 0);
    l.poHijo->EnviaRinging(idllam);
    usleep(100000);
    EXPECT_EQ(Cuenta("EnviaRinging 8"), 0);
}

std::atomic<int> giAjenoVencido{0};
uintptr_t VenceAjeno(uintptr_t, uintptr_t, uintptr_t) { return ++giAjenoVencido, 0; }

// A guard's slot, once free, may be taken by another owner at once: a guard cancelled when its
// call is released, or one that fired (its expiry stopped at the record look-up while the
// slot is taken), must leave that owner's timer alone.
TEST_F(SupervisorLlamadas, CancelledOrFiredGuardNeverCancelsTheNextOwnersTimer) {
    enum Caso { CANCELADA, VENCE_LLAMADA, VENCE_SESION };
    for (Caso c : {CANCELADA, VENCE_LLAMADA, VENCE_SESION}) {
        giAjenoVencido = 0;
        Linea l = Recurso(8 + c, TIPOIF_BC);
        const int cid = 9 + 10 * c;
        DatosEventoSip e = Sesion(cid, "sip:300101@10.0.0.2", "sip:200202@10.0.0.1");
        l.Sup().Traplic_Invite(&e);
        ASSERT_TRUE(EsperaEmpieza("hijo LlamadaSaliente ", c + 1));
        const int idllam = IdUltimo("hijo LlamadaSaliente ");
        int ajeno = -1;
        if (c == CANCELADA) {
            l.poHijo->EnviaDiagnostico(5, idllam, 0);
            ASSERT_TRUE(Espera("EnviaRinging " + std::to_string(cid)));
            ajeno = gpTemporizador->Objeto().Arma(5, VenceAjeno, 0, 0, 0);
            ASSERT_GE(ajeno, 0);
            l.poHijo->EnviaRechazaLlamada(idllam, 17);
            ASSERT_TRUE(Espera("RechazaLlamada " + std::to_string(cid) + " 17"));
            ASSERT_TRUE(pruebas::EsperaQue([&] { return l.Sup().CuentaInfoSesionesOcupadas() == 0; }, 2000));
        } else {
            if (c == VENCE_SESION) {
                l.poHijo->EnviaDiagnostico(5, idllam, 0);
                l.poHijo->EnviaAceptaLlamada(idllam);
                ASSERT_TRUE(EsperaEmpieza("hijo NuevaSesion "));
            }
            InfoSesion* s = l.Sup().oSesiones.BuscaPorCid(cid);
            ASSERT_NE(s, nullptr);
            const int slot = c == VENCE_LLAMADA ? s->iTempLlamada : s->iTempSesion;
            ASSERT_GE(slot, 0);
            gpTemporizador->Avanza(150);
            {
                std::lock_guard<std::mutex> g(gMutex);
                gLog.clear();
            }
            std::thread hilo;
            bool bVencida;
            {
                cfgCerrojo bloqueo(l.Sup().oSesiones.Mutex());
                hilo = std::thread([] { gpTemporizador->Avanza(1); });
                bVencida = pruebas::EsperaQue([&] { return EnLog("Vence temp espera diagnostico"); }, 5000);
                ajeno = gpTemporizador->Objeto().Arma(5, VenceAjeno, 0, 0, 0);
            }
            hilo.join();
            ASSERT_TRUE(bVencida);
            ASSERT_EQ(ajeno, slot) << "the fired guard's slot, taken again";
            EXPECT_EQ(l.Sup().CuentaInfoSesionesOcupadas(), 0) << "the guard ended its call";
        }
        gpTemporizador->Avanza(6);
        EXPECT_EQ(giAjenoVencido, 1) << c << ": the guard cancelled a timer it no longer owned";
    }
}

TEST_F(SupervisorLlamadas, LineCallFromSipCarriesTheForwardsLevelAndTheQsigNumberingWord) {
    const struct {
        int iTipoIf, iPrioridad, iMaxForwards, iCanal;
        int32_t iNivel, iNumeracion;
    } kCasos[] = {
        {TIPOIF_ATSQSIG, 1, 20, 3, 0, 3},   // priority 1 on QSIG: the channel to interrupt
        {TIPOIF_ATSQSIG, 3, 17, 3, 1, 17},  // otherwise the session's own word
        {TIPOIF_ATSQSIG, 2, 12, -1, 2, 12},
        {TIPOIF_BC, 1, 10, 3, 3, 10},       // priority 1 on another line: no channel either
        {TIPOIF_BC, 3, 6, -1, 4, 6},
        {TIPOIF_BC, 3, 70, -1, 0, 70},
    };
    Linea qsig = Recurso(5, TIPOIF_ATSQSIG);
    Linea bc = Recurso(1, TIPOIF_BC);
    int cid = 600;
    for (const auto& k : kCasos) {
        Linea& l = k.iTipoIf == TIPOIF_BC ? bc : qsig;
        DatosEventoSip e = Sesion(++cid, "sip:300101@10.0.0.2", "sip:200202@10.0.0.1");
        e.incomming_priority = static_cast<uint8_t>(k.iPrioridad);
        e.iMaxForwards = k.iMaxForwards;
        e.canal = k.iCanal;
        const int antes = CuentaEmpiezan("hijo LlamadaSaliente ");
        l.Sup().Traplic_Invite(&e);
        ASSERT_TRUE(EsperaEmpieza("hijo LlamadaSaliente ", antes + 1)) << cid;
        std::lock_guard<std::mutex> g(gMutex);
        EXPECT_EQ(gUltimaLlamada.iTipoSip, k.iNivel) << cid;
        EXPECT_EQ(gUltimaLlamada.iNumeracionQsig, k.iNumeracion) << cid;
    }
}

TEST_F(SupervisorLlamadas, DirectModeLineCallGoesToTheCollateralsHostAndUser) {
    const struct {
        const char* szUriRemota;
        const char* szDestino;
        const char* szUsuario;
    } kCasos[] = {
        {"<sip:PAR-7@10.0.0.7>", "sip:123456@10.0.0.7", "PAR-7"},
        {"sip:PAR-8@10.0.0.8:5060;user=phone", "sip:123456@10.0.0.8:5060;user=phone", "PAR-8"},
        {"sip:10.0.0.9", "123456", ""},  // no host part: the number as it came
    };
    ModoSistemaLocal = 1;
    Linea l = Recurso(3, TIPOIF_BC);
    l.Prepara();
    int idllam = 1000;
    for (const auto& k : kCasos) {
        {
            cfgCerrojo c(&oConfigPasarela.tMutex);
            std::snprintf(oConfigPasarela.asRecursos[3].sColateral.szUriRemota, 81, "%s", k.szUriRemota);
        }
        DatosLlamada d{};
        for (int i = 0; i < 6; ++i) d.acOrigen[i] = d.acDestino[i] = static_cast<char>(i + 1);
        d.ucPrioridad = 2;
        l.Sup().EvtLlamadaEntrante(++idllam, &d);
        ASSERT_TRUE(Espera(std::string("LanzaLlamadaSip ") + k.szDestino)) << k.szUriRemota;
        std::lock_guard<std::mutex> g(gMutex);
        EXPECT_STREQ(gPasaGus.sUltimaLanzada.UsuDestino, k.szUsuario) << k.szUriRemota;
    }
    ModoSistemaLocal = 0;
}

TEST_F(SupervisorLlamadas, FirstAnswerOfForkedLegsEndsTheOther) {
    ASSERT_EQ(ModoSistemaLocal, 0);
    Linea l = Recurso(3, TIPOIF_BC);
    {
        cfgCerrojo c(&oConfigPasarela.tMutex);
        cfgConfigRecurso& r = oConfigPasarela.asRecursos[3];
        r.size_aListaEnlacesExternos = 2;
        std::snprintf(r.aListaEnlacesExternos[0], 65, "OPERADOR-A");
        std::snprintf(r.aListaEnlacesExternos[1], 65, "OPERADOR-B");
    }
    gGestor.iSiguienteCid = 300;
    DatosLlamada d{};  // no destination: the call goes to the collateral targets
    d.ucPrioridad = 2;
    l.Sup().EvtLlamadaEntrante(1234, &d);
    EXPECT_EQ(Cuenta("EncaminaLlamada OPERADOR-A"), 1);
    EXPECT_EQ(Cuenta("EncaminaLlamada OPERADOR-B"), 1);
    EXPECT_EQ(l.Sup().CuentaInfoSesionPorIdLlamada(1234), 2);
    DatosEventoSip a = Sesion(301, "", "");
    l.Sup().Traplic_Call_Answer(&a);
    EXPECT_EQ(Cuenta("DevuelveLocalPort 300 42000"), 1) << "the other leg is released";
    EXPECT_EQ(Cuenta("FinEncaminaLlamada 300"), 1);
    EXPECT_EQ(l.Sup().CuentaInfoSesionPorIdLlamada(1234), 1);
    ASSERT_TRUE(EsperaEmpieza("hijo NuevaSesion "));
    std::lock_guard<std::mutex> g(gMutex);
    EXPECT_EQ(gUltimaSesion.idllam, 1234);
}

TEST_F(SupervisorLlamadas, ThreeRadioCollateralSessionsSurviveOneAnswer) {
    Linea l = Recurso(4, TIPOIF_RADIO, 3);
    {
        cfgCerrojo c(&oConfigPasarela.tMutex);
        cfgConfigRecurso& r = oConfigPasarela.asRecursos[4];
        r.size_aListaEnlacesExternos = 3;
        for (int i = 0; i < 3; ++i) std::snprintf(r.aListaEnlacesExternos[i], 65, "EQUIPO-%d", i);
    }
    gGestor.iSiguienteCid = 400;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(l.Sup().poColateral->IniciaLlamadaColateral(-2, i, 0), 400 + i);
    EXPECT_EQ(l.Sup().CuentaInfoSesionesOcupadas(), 3);
    DatosEventoSip a = Sesion(400, "", "");
    l.Sup().Traplic_Call_Answer(&a);
    ASSERT_TRUE(EsperaEmpieza("hijo NuevaSesion "));
    EXPECT_EQ(l.Sup().CuentaInfoSesionesOcupadas(), 3);
    EXPECT_EQ(CuentaEmpiezan("DevuelveLocalPort "), 0);
    {
        std::lock_guard<std::mutex> g(gMutex);
        EXPECT_EQ(gUltimaSesion.idllam, -1) << "the marker is no line call";
        EXPECT_EQ(gUltimaSesion.iIndiceColateral, 0);
    }
    // The far end closes the answered one: its session ends, the others stay, no call ends.
    const int idsesion = IdDe("hijo NuevaSesion ");
    l.Sup().Traplic_Closed(&a);
    ASSERT_TRUE(Espera("hijo FinSesion " + std::to_string(idsesion)));
    EXPECT_EQ(l.Sup().CuentaInfoSesionesOcupadas(), 2);
    EXPECT_EQ(CuentaEmpiezan("hijo FinLlamada "), 0);
}

TEST_F(SupervisorLlamadas, ReferSucceedsWhenTheNewLegAnswersAndFailsWithoutSleeping) {
    Linea l = Recurso(5, TIPOIF_BC);
    gGestor.iSiguienteCid = 600;
    DatosLlamada d{};
    const uint8_t origen[6] = {3, 0, 0, 1, 0, 1}, destino[6] = {2, 0, 0, 2, 0, 2};
    std::memcpy(d.acOrigen, origen, 6);
    std::memcpy(d.acDestino, destino, 6);
    l.Sup().EvtLlamadaEntrante(2222, &d);
    ASSERT_EQ(Cuenta("EncaminaLlamada 200202"), 1);

    // Transfer to another party: the new leg answers, the REFER is told 200 and the old leg goes.
    DatosEventoSip r = Sesion(600, "sip:300101@10.0.0.2", "");
    r.did = 55;
    std::snprintf(r.acReferTo, sizeof r.acReferTo, "sip:400@10.0.0.9");
    l.Sup().Traplic_Refer(&r);
    ASSERT_EQ(Cuenta("EncaminaLlamada sip:400@10.0.0.9"), 1);
    DatosEventoSip a = Sesion(601, "", "");
    l.Sup().Traplic_Call_Answer(&a);
    EXPECT_EQ(Cuenta("NotificaRefer 55 SIP/2.0 200 Ok"), 1);
    EXPECT_EQ(Cuenta("FinEncaminaLlamada 600"), 1);
    EXPECT_EQ(Cuenta("DevuelveLocalPort 600 42000"), 1) << "the transferred leg's port goes back";
    EXPECT_EQ(l.Sup().CuentaInfoSesionPorIdLlamada(2222), 1);

    // A transfer that cannot be placed: declined a second later, from the timer.
    gGestor.bFalla = true;
    r.cid = 601;
    r.did = 56;
    const auto t0 = std::chrono::steady_clock::now();
    l.Sup().Traplic_Refer(&r);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    gGestor.bFalla = false;
    EXPECT_LT(ms, 500) << "the SIP event thread slept";
    EXPECT_EQ(Cuenta("NotificaRefer 56 SIP/2.0 603 Declined"), 0);
    gpTemporizador->Avanza(11);
    EXPECT_EQ(Cuenta("NotificaRefer 56 SIP/2.0 603 Declined"), 1);
    EXPECT_EQ(l.Sup().CuentaInfoSesionPorIdLlamada(2222), 1) << "the call stays as it was";
}

TEST_F(SupervisorLlamadas, StandbyClosesRealSessionsWith229AndRefusesLaterInvites) {
    Linea l = Recurso(6, TIPOIF_RADIO, 4);
    DatosEventoSip a = SesionRadio(20, "sip:scv1@10.1.1.1");
    DatosEventoSip b = SesionRadio(21, "sip:scv2@10.1.2.1");
    l.Sup().Traplic_Invite(&a);
    l.Sup().Traplic_Invite(&b);
    ASSERT_TRUE(EsperaEmpieza("hijo NuevaSesion ", 2));
    l.Sup().PasoaReserva();
    ASSERT_TRUE(EsperaEmpieza("hijo FinSesion ", 2));
    EXPECT_TRUE(EnLog("CSUPEREC[6]: CierraSesionCompleta cid=20 causa=229"));
    EXPECT_TRUE(EnLog("CSUPEREC[6]: CierraSesionCompleta cid=21 causa=229"));
    EXPECT_TRUE(Espera("hijo Debug 8 1"));
    EXPECT_EQ(l.Sup().CuentaInfoSesionesOcupadas(), 0);
    DatosEventoSip c = SesionRadio(22, "sip:scv3@10.1.3.1");
    l.Sup().Traplic_Invite(&c);
    EXPECT_EQ(Cuenta("RechazaLlamada 22 229"), 1);
}

TEST_F(SupervisorLlamadas, RefusedRadioCallsGiveTheirPttIdBack) {
    Linea l = Recurso(7, TIPOIF_RADIO, 4, false);
    // No resource process to take the sessions: twenty callers refused.
    for (int i = 0; i < 20; ++i) {
        const std::string uri = "sip:scv" + std::to_string(i) + "@10.2." + std::to_string(i) + ".1";
        DatosEventoSip e = SesionRadio(100 + i, uri.c_str());
        l.Sup().Traplic_Invite(&e);
        EXPECT_EQ(Cuenta("RechazaLlamada " + std::to_string(100 + i) + " 203"), 1) << i;
    }
    char lista[2000];
    ASSERT_EQ(l.Sup().DameListaPttId(lista, sizeof lista), 2);
    EXPECT_STREQ(lista, "\r\n");
    l.Conecta();
    DatosEventoSip e = SesionRadio(200, "sip:otro@10.3.0.1");
    l.Sup().Traplic_Invite(&e);
    ASSERT_TRUE(EsperaEmpieza("hijo NuevaSesion "));
    {
        std::lock_guard<std::mutex> g(gMutex);
        EXPECT_EQ(gUltimaSesion.iPttId, 1);
    }
    ASSERT_GT(l.Sup().DameListaPttId(lista, sizeof lista), 0);
    EXPECT_STREQ(lista, "1,sip:otro@10.3.0.1\r\n");
    // A session the bridge aborts gives its id back too.
    DatosEventoSip f = SesionRadio(201, "sip:tercero@10.5.0.1");
    l.Sup().Traplic_Invite(&f);
    ASSERT_TRUE(EsperaEmpieza("hijo NuevaSesion ", 2));
    l.Sup().Abortallamada(201);
    ASSERT_GT(l.Sup().DameListaPttId(lista, sizeof lista), 0);
    EXPECT_STREQ(lista, "1,sip:otro@10.3.0.1\r\n");
    // The list is a copy: a later change of the table does not reach it.
    l.Sup().PasoaReserva();
    EXPECT_STREQ(lista, "1,sip:otro@10.3.0.1\r\n");
    EXPECT_EQ(l.Sup().DameListaPttId(lista, 3), 2);
    EXPECT_EQ(l.Sup().DameListaPttId(lista, 2), -1) << "a buffer too small gets nothing";
}

TEST_F(SupervisorLlamadas, AgentOrdersReachTheSupervisors) {
    mkdir("/home/rk82qln", 0755);
    const int rec = 8;
    Linea l = Recurso(rec, TIPOIF_RADIO, 1);
    {
        cfgCerrojo c(&oConfigPasarela.tMutex);
        oConfigPasarela.iNumRecursos = 1;
        oConfigPasarela.LocalizadorRecurso[0] = {rec / 4, rec % 4};
        cfgConfigRecurso& r = oConfigPasarela.asRecursos[rec];
        std::snprintf(r.nombre, sizeof r.nombre, "RD-08");
        std::snprintf(r.szUriLocal, sizeof r.szUriLocal, "sip:RD-08@10.0.0.1");
        cfgEmplazamiento& e = r.uParam.radio.asEmplazamiento[0];
        std::snprintf(e.UriTxA, sizeof e.UriTxA, "sip:txa@10.9.0.1");
        std::snprintf(e.UriTxB, sizeof e.UriTxB, "sip:txb@10.9.0.2");
        r.uParam.radio.iNumPaquetesSqOff = 0;
    }
    l.Prepara();
    // Switch-over to equipment B of TX: refused while B has no session, done once it has one.
    EvtRxMant(18, "A,T01,RD-08,0,TX,2");
    EXPECT_TRUE(EnLog("EvtRxMant: Fallo conmuta Fallo Sesion"));
    EXPECT_EQ(l.Sup().poColateral->aucEqActivoTXRX[0], 0);
    InfoSesion* s;
    {
        cfgCerrojo c(l.Sup().oSesiones.Mutex());
        s = l.Sup().oSesiones.Asigna();
    }
    s->cid = 900;
    s->idsesion = 10002;
    s->iIndiceColateral = 1;
    s->iReposo = 1;
    EvtRxMant(18, "A,T01,RD-08,0,TX,2");
    EXPECT_EQ(l.Sup().poColateral->aucEqActivoTXRX[0], 1);
    // What a reconfiguration loads is the switch-over file's: TX B recorded, RX never set.
    l.Sup().poColateral->aucEqActivoTXRX[0] = 0;
    l.Sup().poColateral->aucEqActivoTXRX[1] = 1;
    l.Sup().ReconfiguraRecurso();
    EXPECT_EQ(l.Sup().poColateral->aucEqActivoTXRX[0], 1);
    EXPECT_EQ(l.Sup().poColateral->aucEqActivoTXRX[1], 0);
    l.Sup().iHijoConfigurado = 0;  // the released record sends nothing to a child being set up
    l.Sup().LiberaInfoSesion(s);
    l.Sup().iHijoConfigurado = 1;

    // Radio mode and loop test.
    const std::string sRec = std::to_string(rec);
    EvtRxMant(9, ("A,T03," + sRec + ",1").c_str());
    ASSERT_TRUE(Espera("hijo Debug 14 1"));
    EXPECT_EQ(l.Sup().poColateral->iModoMantenimiento, 1);
    EvtRxMant(11, ("A,T04," + sRec + ",2,1").c_str());
    EXPECT_EQ(l.Sup().poColateral->iBuclePendiente, 1);
    EXPECT_EQ(l.Sup().poColateral->iTipoBucle, 2);
    EXPECT_EQ(l.Sup().poColateral->iEmplazamientoBucle, 1);
    EvtRxMant(11, ("A,T04," + sRec + ",1,0").c_str());
    EXPECT_TRUE(EnLog("CSUPEREC[8]: ActivaBucleRadio: bucle en proceso"));
    EvtRxMant(9, ("A,T03," + sRec + ",0").c_str());
    EXPECT_TRUE(EnLog("CSUPEREC[8]: NO Cambia modo Radio Normal. Bucle activo "));
    EXPECT_EQ(l.Sup().poColateral->iModoMantenimiento, 1);
}

TEST_F(SupervisorLlamadas, LineCallGoesOutThroughTheBridgeAndItsAnswerOrFailureReachesTheLine) {
    Linea l = Recurso(15, TIPOIF_BC);
    gGestor.iSiguienteCid = 800;
    DatosLlamada d{};
    const uint8_t origen[6] = {3, 10, 10, 1, 10, 1}, destino[6] = {2, 10, 10, 2, 10, 2};  // 10 is the digit 0
    std::memcpy(d.acOrigen, origen, 6);
    std::memcpy(d.acDestino, destino, 6);
    d.ucPrioridad = 3;
    int32_t idllam = -1;
    ASSERT_GE(l.poHijo->EnviaLlamadaEntranteId(&d, &idllam), 0);
    ASSERT_TRUE(Espera("EncaminaLlamada 200202"));
    DatosEventoSip e = Sesion(800, "", "");
    l.Sup().Traplic_Ringing(&e);
    ASSERT_TRUE(Espera("hijo Ringing " + std::to_string(idllam) + " 0"));
    l.Sup().Traplic_Call_Answer(&e);
    ASSERT_TRUE(EsperaEmpieza("hijo NuevaSesion "));
    l.poHijo->EnviaDiagnostico(15, IdDe("hijo NuevaSesion "), 0);
    ASSERT_TRUE(Espera("hijo AceptaLlamada " + std::to_string(idllam) + " 0"));
    EXPECT_EQ(CuentaEmpiezan("AceptaLlamada"), 0) << "the SIP side answered, not the line";

    // A second line call refused by the far end: the line hears the mapped motivo.
    int32_t idllam2 = -1;
    ASSERT_GE(l.poHijo->EnviaLlamadaEntranteId(&d, &idllam2), 0);
    ASSERT_TRUE(Espera("EncaminaLlamada 200202", 2));
    DatosEventoSip f = Sesion(801, "", "");
    f.iCodigo = 486;
    l.Sup().Traplic_Request_Failure(&f);
    ASSERT_TRUE(Espera("hijo RechazaLlamada " + std::to_string(idllam2) + " 202"));
    EXPECT_EQ(l.Sup().CuentaInfoSesionPorIdLlamada(idllam2), 0);
}

TEST_F(SupervisorLlamadas, OptionsSupervisionFollowsThePeerAndClosesSessionsWhenItFalls) {
    superecFijaEventos(&gEventos);
    Linea l = Recurso(11, TIPOIF_LCEN, -1, true, false);
    {
        cfgCerrojo c(&oConfigPasarela.tMutex);
        cfgConfigRecurso& r = oConfigPasarela.asRecursos[11];
        std::snprintf(r.szUriLocal, sizeof r.szUriLocal, "sip:LC11@10.0.0.1");
        std::snprintf(r.sColateral.szUriRemota, sizeof r.sColateral.szUriRemota, "sip:LC@10.0.0.7");
        r.sColateral.isuperv_options = 1;
        r.sColateral.itm_superv_options = 30;
    }
    l.Sup().poColateral->EnviaOptionsColateral();
    l.Sup().Traplic_Respuesta_for_Options();
    EXPECT_EQ(l.Sup().poColateral->iEstadoColateral, 1);
    EXPECT_TRUE(Espera("hijo Debug 13 1"));
    EXPECT_EQ(Cuenta("Options 11 255 sip:LC@10.0.0.7"), 1);
    l.Sup().poColateral->PublicaColaterales();
    EXPECT_EQ(Cuenta("N08 11 2 0 1 "), 1) << "no state from the line yet, supervision up, no session";
    EnServicio(l, 0);
    // A session, then the peer stops answering: the session is closed and the line told.
    DatosEventoSip e = Sesion(60, "sip:LC@10.0.0.7", "sip:200202@10.0.0.1");  // only the peer may call
    l.Sup().Traplic_Invite(&e);
    ASSERT_TRUE(EsperaEmpieza("hijo LlamadaSaliente "));
    l.Sup().poColateral->EnviaOptionsColateral();
    gpTemporizador->Avanza(51);
    EXPECT_EQ(l.Sup().poColateral->iEstadoColateral, 0);
    EXPECT_TRUE(Espera("hijo Debug 13 0"));
    EXPECT_EQ(Cuenta("Options 11 0 sip:LC@10.0.0.7"), 1);
    EXPECT_TRUE(EnLog("CSUPEREC[11]: CierraSesionCompleta cid=60 causa=0"));
    EXPECT_EQ(l.Sup().CuentaInfoSesionesOcupadas(), 0);
    // An answer that comes after its timer changes nothing more.
    gpTemporizador->Avanza(60);
    EXPECT_EQ(Cuenta("Options 11 0 sip:LC@10.0.0.7"), 1);
}

TEST_F(SupervisorLlamadas, RadioCallWithoutRoomWaitsForPreemptionAndTakesTheFreedSession) {
    Escribe("/mnt/ramfs/FAArec12.ini", "[RADIO]\nMaxSessions=1\nPreemption=1\n");
    Linea l = Recurso(12, TIPOIF_RADIO, 4);
    l.Prepara();
    DatosEventoSip a = SesionRadio(70, "sip:scv1@10.4.1.1");
    l.Sup().Traplic_Invite(&a);
    ASSERT_TRUE(EsperaEmpieza("hijo NuevaSesion "));
    const int id1 = IdDe("hijo NuevaSesion ");
    l.poHijo->EnviaDiagnostico(15, id1, 0);
    ASSERT_TRUE(Espera("AceptaLlamadaConModo 70 40000 1"));
    DatosEventoSip b = SesionRadio(71, "sip:scv2@10.4.2.1");
    b.incomming_priority = 1;
    std::snprintf(b.acSubject, sizeof b.acSubject, "radio");
    l.Sup().Traplic_Invite(&b);
    EXPECT_EQ(CuentaEmpiezan("RechazaLlamada 71"), 0) << "waits instead";
    // The resource process frees the first session by preemption: the waiting call takes it.
    l.poHijo->EnviaFinSesionValor(id1, 220);
    ASSERT_TRUE(EsperaEmpieza("hijo NuevaSesion ", 2));
    std::lock_guard<std::mutex> g(gMutex);
    EXPECT_EQ(gUltimaSesion.iPttId, 1) << "the freed PTT id";
    EXPECT_EQ(gUltimaSesion.iPrioridad, 1);
}

TEST_F(SupervisorLlamadas, EmplacementStatesArePublishedWhenTheyChange) {
    superecFijaEventos(&gEventos);
    Linea l = Recurso(13, TIPOIF_RADIO, 3, true, false);
    {
        cfgCerrojo c(&oConfigPasarela.tMutex);
        cfgConfigRecurso& r = oConfigPasarela.asRecursos[13];
        cfgEmplazamiento& e = r.uParam.radio.asEmplazamiento[1];
        std::snprintf(e.UriTxA, sizeof e.UriTxA, "sip:txa@10.9.0.1");
        std::snprintf(e.UriRxA, sizeof e.UriRxA, "sip:txa@10.9.0.1");
        std::snprintf(e.UriTxB, sizeof e.UriTxB, "sip:txb@10.9.0.2");
    }
    l.Prepara();
    l.Sup().poColateral->PublicaColaterales();
    EXPECT_EQ(CuentaEmpiezan("N09 "), 0) << "nothing changed";
    InfoSesion* s;
    {
        cfgCerrojo c(l.Sup().oSesiones.Mutex());
        s = l.Sup().oSesiones.Asigna();
    }
    s->cid = 77;
    s->idsesion = 10004;
    s->iIndiceColateral = 4;  // emplacement 1, TX A
    s->iReposo = 0;
    l.Sup().poColateral->MarcaCambioEmplazamiento(4);
    l.Sup().poColateral->PublicaColaterales();
    EXPECT_EQ(Cuenta("N09 13 1 1,8,2,9 1 1"), 1);
    EXPECT_EQ(CuentaEmpiezan("N09 "), 1) << "only the changed emplacement";
}

TEST_F(SupervisorLlamadas, StandbyEquipmentSessionGoesIdleAndAPendingLoopTestIsSentWithItsGuard) {
    Linea l = Recurso(5, TIPOIF_RADIO, 3);
    {
        cfgCerrojo c(&oConfigPasarela.tMutex);
        cfgConfigRecurso& r = oConfigPasarela.asRecursos[5];
        r.size_aListaEnlacesExternos = 2;
        std::snprintf(r.aListaEnlacesExternos[0], 65, "EQ-A");
        std::snprintf(r.aListaEnlacesExternos[1], 65, "EQ-B");
    }
    l.Prepara();
    // Equipment B of emplacement 0 TX holds an active session while A is the active one.
    InfoSesion* s;
    {
        cfgCerrojo c(l.Sup().oSesiones.Mutex());
        s = l.Sup().oSesiones.Asigna();
    }
    s->idllam = -2;
    std::snprintf(s->acDestino, sizeof s->acDestino, "EQ-B");
    s->idsesion = 10002;
    s->iIndiceColateral = 1;
    s->iReposo = 0;
    s->cid = 900;
    gGestor.iSiguienteCid = 910;
    l.Sup().poColateral->SupervisaColateralDatRadPP(-2);
    EXPECT_EQ(Cuenta("EncaminaLlamada EQ-A"), 1) << "the missing target is called";
    EXPECT_EQ(Cuenta("EncaminaLlamada EQ-B"), 0) << "the existing one is kept";
    EXPECT_EQ(CuentaEmpiezan("hijo ModificaSesion "), 0) << "B stays active while A has no session";
    // A's session is up: B goes idle (the session type change fails without SIP, the resource
    // process is told all the same).
    InfoSesion* a = l.Sup().oSesiones.BuscaPorColateral(0);
    ASSERT_NE(a, nullptr);
    a->idsesion = 10004;
    l.Sup().poColateral->SupervisaColateralDatRadPP(-2);
    ASSERT_TRUE(EsperaEmpieza("hijo ModificaSesion 10002 "));
    EXPECT_EQ(Cuenta("hijo ModificaSesion 10002 0 0 1"), 1) << "told to go idle";
    EXPECT_EQ(CuentaEmpiezan("hijo ModificaSesion 10004 "), 0);

    // Maintenance with a loop test pending: the next pass sends it and arms its 16 s guard.
    l.Sup().TomaModoRadio(1);
    l.Sup().ActivaBucleRadio(2, 1);
    l.Sup().poColateral->SupervisaColateralDatRadPP(-2);
    ASSERT_TRUE(Espera("hijo Debug 15 33"));
    EXPECT_EQ(l.Sup().poColateral->iBuclePendiente, 0);
    EXPECT_NE(l.Sup().poColateral->iTempBucle, -1);
    gpTemporizador->Avanza(161);
    EXPECT_EQ(l.Sup().poColateral->iTempBucle, -1);
    EXPECT_EQ(l.Sup().poColateral->iTipoBucle, 0) << "the answer never came: the loop test is over";
}

TEST_F(SupervisorLlamadas, TrunkRangesHoldBothBoundsAndOtherLinesHaveNone) {
    Linea l = Recurso(14, TIPOIF_ATSR2, -1, false);
    {
        cfgCerrojo c(&oConfigPasarela.tMutex);
        cfgParamR2N5& t = oConfigPasarela.asRecursos[14].uParam.r2n5;
        std::memset(t.asRangosDst, 0, sizeof t.asRangosDst);
        std::memset(t.asRangosOrg, 0, sizeof t.asRangosOrg);
        std::memcpy(t.asRangosDst[0].desde, "300100", 6);
        std::memcpy(t.asRangosDst[0].hasta, "300199", 6);
        std::memcpy(t.asRangosOrg[1].desde, "400000", 6);
        std::memcpy(t.asRangosOrg[1].hasta, "400009", 6);
    }
    struct Caso {
        const char* szNumero;
        int iOperador, iPrivilegiado;
    };
    const Caso casos[] = {
        {"300100", 0, -1}, {"300199", 0, -1}, {"300200", -1, -1}, {"400009", -1, 0}, {"0", 0, 0},
    };
    for (const Caso& c : casos) {
        EXPECT_EQ(l.Sup().EnRangosOperador(c.szNumero), c.iOperador) << c.szNumero;
        EXPECT_EQ(l.Sup().EnRangosPrivilegiados(c.szNumero), c.iPrivilegiado) << c.szNumero;
    }
    {
        cfgCerrojo c(&oConfigPasarela.tMutex);
        oConfigPasarela.asRecursos[14].iTipoIf = TIPOIF_BC;
        oConfigPasarela.asRecursos[14].uParam.radio.iMetodoBss = 2;  // bytes of the type part, no radio
    }
    EXPECT_EQ(l.Sup().EnRangosOperador("300150"), -1);
    EXPECT_EQ(l.Sup().DameParamRadio(), -1);
}

// The real telephone program on the simulated board: the SIP call's line call reaches it, and
// its answer comes back to the SIP side. The line is available only between its first state
// and its end.
TEST_F(SupervisorLlamadas, SipCallReachesTheRealResourceProcess) {
    auto placa = simboard::CSimBoard::Arranca();
    ASSERT_TRUE(placa);
    pruebas::ConfiguraLogs();
    pruebas::InstalaProgramas();
    superecFijaEventos(&oEventosSuperec);
    const int rec = 9;
    {
        cfgCerrojo c(&oConfigPasarela.tMutex);
        oConfigPasarela.iNivelConsola = 0x3E;
        cfgConfigRecurso& r = oConfigPasarela.asRecursos[rec];
        std::snprintf(r.nombre, sizeof r.nombre, "TLF09");
        r.iTipoIf = TIPOIF_BC;
        std::memcpy(r.szClave, "T12-clave-99", sizeof r.szClave);  // all 12 bytes, no end
    }
    CSupervisorRecurso& sup = aoSupervisorRecurso[rec];
    ASSERT_EQ(sup.Inicia(rec, &gPasaGus, &gGestor), 0);
    ASSERT_EQ(sup.ArrancaRecurso(), 0);
    ASSERT_TRUE(pruebas::EsperaQue([&] { return sup.HijoConfigurado() == 1; }, 20000));
    EXPECT_EQ(sup.Traplic_Options(), -1) << "not available before the line has told its state";
    ASSERT_TRUE(pruebas::EsperaQue([&] { return sup.Traplic_Options() == 0; }, 20000)) << pruebas::LogRecurso(rec);
    sup.PasoaPrincipal();
    EXPECT_EQ(pruebas::LineaDeOrdenes(sup.DamePidHijo()).compare(0, 8, "fonmira "), 0);
    EXPECT_EQ(Cuenta("AltaRecurso 0 T12-clave-99"), 1) << "the configured password goes with the SIP user";
    DatosEventoSip e = Sesion(31, "sip:300101@10.0.0.2", "sip:200202@10.0.0.1");
    sup.Traplic_Invite(&e);
    // The telephone line takes the call and rings: the ringing reaches the caller.
    ASSERT_TRUE(EsperaEmpieza("EnviaRinging 31")) << pruebas::LogRecurso(rec);
    EXPECT_EQ(Cuenta("RechazaLlamada 31 "), 0);
    EXPECT_EQ(sup.CuentaInfoSesionesOcupadas(), 1);
    // The caller gives up before the answer: the call ends on both sides, the entry is freed
    // and the line process stays.
    sup.Traplic_Closed(&e);
    EXPECT_TRUE(pruebas::EsperaQue([&] { return sup.CuentaInfoSesionesOcupadas() == 0; }, 5000));
    EXPECT_EQ(kill(sup.DamePidHijo(), 0), 0);
    // The process dies and the resource stops: unavailable again, nothing reaches the line.
    kill(sup.DamePidHijo(), SIGKILL);
    sup.DetieneRecurso();
    ASSERT_TRUE(pruebas::EsperaQue([&] { return sup.DameEstado() == CSupervisorRecurso::ESTADO_PARADO; }, 20000));
    EXPECT_EQ(sup.Traplic_Options(), -1);
    EXPECT_EQ(Ultimo("Estado 9 "), "Estado 9 10") << "the publication follows";
}

// A line that cannot take calls (its process has told no state yet, or out of service, or is not
// configured) refuses them with 207, 503 on the SIP side and never the 500 of 203, whatever its
// type, and reads unavailable to OPTIONS.
TEST_F(SupervisorLlamadas, LineNotInServiceRefusesWith207AndIsUnavailableToOptions) {
    const struct {
        int iTipoIf, iConfigurado;
        int iEstado;  // -1: nothing told yet
        bool bALaLinea;
        int iOptions;
    } casos[] = {
        {TIPOIF_BC, 1, -1, false, -1}, {TIPOIF_LCEN, 1, -1, false, -1}, {TIPOIF_LCEN, 1, 10, false, -1},
        {TIPOIF_ATSR2, 1, 10, false, -1}, {TIPOIF_LCEN, 0, 0, false, 0}, {TIPOIF_LCEN, 1, 0, true, 0},
    };
    for (int i = 0; i < 6; ++i) {
        Linea l = Recurso(i, casos[i].iTipoIf, -1, true, false);
        l.Sup().iHijoConfigurado = casos[i].iConfigurado;
        if (casos[i].iEstado >= 0) EnServicio(l, static_cast<uint8_t>(casos[i].iEstado));
        EXPECT_EQ(l.Sup().Traplic_Options(), casos[i].iOptions) << i;
        DatosEventoSip e = Sesion(90 + i, "sip:300101@10.0.0.2", "sip:200202@10.0.0.1");
        l.Sup().Traplic_Invite(&e);
        EXPECT_EQ(Cuenta("RechazaLlamada " + std::to_string(90 + i) + " 207"), casos[i].bALaLinea ? 0 : 1) << i;
        if (casos[i].bALaLinea) {
            EXPECT_TRUE(EsperaEmpieza("hijo LlamadaSaliente ")) << i;
        }
    }
}

// A call the SIP side offered to the line ends when its caller gives up (released by a CANCEL)
// or its dialog fails: the ringing line is released, the routing and the port go back, and no
// other destination is tried.
TEST_F(SupervisorLlamadas, IncomingCallEndedOnTheSipSideReleasesTheLineAndTriesNothingElse) {
    using Evento = void (CSupervisorRecurso::*)(DatosEventoSip*);
    const struct {
        Evento pEvento;
        int iEstado;
    } casos[] = {{&CSupervisorRecurso::Traplic_Released, 487}, {&CSupervisorRecurso::Traplic_Request_Failure, 408},
                 {&CSupervisorRecurso::Traplic_Server_Failure, 503}, {&CSupervisorRecurso::Traplic_Global_Failure, 603}};
    Linea l = Recurso(1, TIPOIF_BC);
    int n = 0;
    for (const auto& c : casos) {
        const std::string cid = std::to_string(120 + n);
        DatosEventoSip e = Sesion(120 + n, "sip:300101@10.0.0.2", "sip:200202@10.0.0.1");
        l.Sup().Traplic_Invite(&e);
        ASSERT_TRUE(EsperaEmpieza("hijo LlamadaSaliente ", ++n));
        const std::string idllam = std::to_string(IdUltimo("hijo LlamadaSaliente "));
        l.poHijo->EnviaDiagnostico(5, std::stoi(idllam), 0);
        ASSERT_TRUE(Espera("EnviaRinging " + cid));
        e.iCodigo = c.iEstado;
        (l.Sup().*c.pEvento)(&e);
        EXPECT_TRUE(Espera("hijo FinLlamada " + idllam + " 0")) << c.iEstado;
        EXPECT_EQ(Cuenta("FinEncaminaLlamada " + cid), 1) << c.iEstado;
        EXPECT_EQ(Cuenta("DevuelveLocalPort " + cid + " 40000"), 1) << c.iEstado;
    }
    EXPECT_EQ(CuentaEmpiezan("ProgresionLlamada "), 0) << "no new call placed";
    EXPECT_EQ(CuentaEmpiezan("hijo RechazaLlamada "), 0) << "the line placed no call to be refused";
    EXPECT_EQ(l.Sup().CuentaInfoSesionesOcupadas(), 0);
}

// The intrusion INFO names the intruding resource of an ATS number also in direct mode, where
// no call manager runs: the look-up reads the plan's SIP table.
TEST_F(SupervisorLlamadas, IntrusionInfoNamesTheIntrudersResourceWithoutACallManager) {
    {
        cfgCerrojo c(&oConfigPasarela.tMutex);
        DireccionSip& d = oConfigPasarela.asDireccionamientoSip[0];
        std::snprintf(d.idusuario, sizeof d.idusuario, "OPERADOR-7");
        d.abonados[0].iPrefijo = 3;  // ATS
        std::snprintf(d.abonados[0].szNumero, sizeof d.abonados[0].szNumero, "300007");
        d.abonados[1].iPrefijo = CFG_FIN_ABONADOS;
    }
    sipFijaConfig(&oConfigPasarela);
    Linea l = Recurso(2, TIPOIF_ATSR2);
    l.Sup().poGestorLlamada = nullptr;
    InfoSesion *s, *intruso;
    {
        cfgCerrojo c(l.Sup().oSesiones.Mutex());
        s = l.Sup().oSesiones.Asigna();
        intruso = l.Sup().oSesiones.Asigna();
    }
    s->cid = 50;
    s->idllam = 1000;
    intruso->cid = 51;
    intruso->idllam = 1001;
    std::snprintf(intruso->Origen, sizeof intruso->Origen, "sip:300007@10.0.0.9");
    l.Sup().EvtInfoLlamada(1000, 1, 1001);
    EXPECT_EQ(Cuenta("EnviaInfo 50 10 OPERADOR-7"), 1);
    sipFijaConfig(nullptr);
}

// With every timer taken, no call is kept that its guard would not end: each guarded step
// refuses or ends its call instead, says why in the log, and holds no record.
TEST_F(SupervisorLlamadas, WithoutAFreeTimerNoCallIsKeptUnguarded) {
    Linea l = Recurso(3, TIPOIF_LCEN);
    Linea r = Recurso(4, TIPOIF_RADIO, 4);
    {
        cfgCerrojo c(&oConfigPasarela.tMutex);
        cfgConfigRecurso& rc = oConfigPasarela.asRecursos[3];
        std::snprintf(rc.szUriLocal, sizeof rc.szUriLocal, "sip:LC03@10.0.0.1");
        std::snprintf(rc.sColateral.szUriRemota, sizeof rc.sColateral.szUriRemota, "sip:LC@10.0.0.7");
    }
    gGestor.iSiguienteCid = 700;
    DatosLlamada d{};
    const uint8_t destino[6] = {2, 10, 10, 2, 10, 2};
    std::memcpy(d.acDestino, destino, 6);
    DatosEventoSip sonando = Sesion(701, "", "");
    DatosEventoSip radio = SesionRadio(72, "sip:scv@10.1.1.1");
    DatosEventoSip primera = SesionRadio(73, "sip:scv1@10.1.2.1"), espera = SesionRadio(74, "sip:scv2@10.1.3.1");
    DatosEventoSip linea = Sesion(71, "sip:LC@10.0.0.7", "sip:200202@10.0.0.1");
    const struct {
        std::function<void()> fAntes, fSinTemporizador;
        std::vector<std::string> vVistos;
        int iRegistros;  // records in use afterwards
    } casos[] = {
        {[] {}, [&] { l.Sup().Traplic_Invite(&linea); }, {"RechazaLlamada 71 203", "hijo FinLlamada "}, 0},
        {[] {}, [&] { r.Sup().Traplic_Invite(&radio); }, {"RechazaLlamada 72 203", "hijo FinSesion "}, 0},
        {[] {}, [&] { l.Sup().EvtLlamadaEntrante(3333, &d); }, {"hijo RechazaLlamada 3333 41", "FinEncaminaLlamada 700"}, 0},
        {[&] {
             l.Sup().EvtLlamadaEntrante(4444, &d);
             l.Sup().Traplic_Call_Proceeding(&sonando);
         },
         [&] { l.Sup().Traplic_Ringing(&sonando); }, {"hijo FinLlamada 4444 0", "FinEncaminaLlamada 701"}, 0},
        {[] {}, [&] { l.Sup().poColateral->EnviaOptionsColateral(); }, {}, 0},
        // A radio call that would wait for a session to be freed by preemption.
        {[&] {
             Escribe("/mnt/ramfs/FAArec04.ini", "[RADIO]\nMaxSessions=1\nPreemption=1\n");
             r.Prepara();
             r.Sup().Traplic_Invite(&primera);
         },
         [&] { r.Sup().Traplic_Invite(&espera); }, {"RechazaLlamada 74 201"}, 1},
    };
    int n = 0;
    for (const auto& c : casos) {
        c.fAntes();
        std::vector<int> ocupadas;
        for (int t; (t = gpTemporizador->Objeto().Arma(10000, VenceAjeno, 0, 0, 0)) >= 0;) ocupadas.push_back(t);
        {
            std::lock_guard<std::mutex> g(gMutex);
            gLog.clear();
        }
        c.fSinTemporizador();
        for (int t : ocupadas) gpTemporizador->Objeto().Cancela(t);
        EXPECT_TRUE(EnLog("sin temporizador para la guarda")) << n;
        for (const auto& v : c.vVistos) EXPECT_TRUE(EsperaEmpieza(v)) << n << " " << v;
        EXPECT_EQ(l.Sup().CuentaInfoSesionesOcupadas() + r.Sup().CuentaInfoSesionesOcupadas(), c.iRegistros) << n;
        ++n;
    }
    EXPECT_EQ(l.Sup().poColateral->aiColateralTemp[0], -1) << "no probe without its answer guard";
}

// An unanswered OPTIONS probe is timed out 5 s after it went, whatever the probing period:
// a period under 5 s must not push its guard on at every probe.
TEST_F(SupervisorLlamadas, UnansweredOptionsTimeOutWhateverTheProbePeriod) {
    for (int periodo : {30, 2, 1}) {
        const int rec = 5 + periodo % 3;
        Linea l = Recurso(rec, TIPOIF_LCEN);
        {
            cfgCerrojo c(&oConfigPasarela.tMutex);
            cfgConfigRecurso& r = oConfigPasarela.asRecursos[rec];
            std::snprintf(r.szUriLocal, sizeof r.szUriLocal, "sip:LC@10.0.0.1");
            std::snprintf(r.sColateral.szUriRemota, sizeof r.sColateral.szUriRemota, "sip:LC@10.0.0.7");
            r.sColateral.isuperv_options = 1;
            r.sColateral.itm_superv_options = periodo;
        }
        l.Sup().poColateral->EnviaOptionsColateral();
        l.Sup().Traplic_Respuesta_for_Options();
        ASSERT_EQ(l.Sup().poColateral->iEstadoColateral, 1);
        for (int t = 0; t < 60; t += 10) {
            if (t % (periodo * 10) == 0) l.Sup().poColateral->EnviaOptionsColateral();
            gpTemporizador->Avanza(10);
        }
        EXPECT_EQ(l.Sup().poColateral->iEstadoColateral, 0) << "period " << periodo;
    }
}

// The screening of radio calls: each refusal with its reason, and the calls it lets through.
TEST_F(SupervisorLlamadas, RadioScreeningRefusesEachCaseWithItsReason) {
    Linea l = Recurso(6, TIPOIF_RADIO, 4);
    l.Prepara();
    const struct {
        int iRestriccion;
        const char* szLista;  // the first entry of the black (1) or white (2) list
        const char* szOpciones;
        const char* szFidCfg;
        int iTipoRecurso;
        const char* szSubject;
        int iPrio, iTipoSesion;
        const char* szModo;
        const char* szFid;
        const char* szOrigen;
        int iMotivo;  // 0: let through
    } casos[] = {
        {0, "", "", "", 2, "DA/IDA call", 3, 0, "", "", "sip:a@10.8.1.1", 227},
        {0, "", "", "", 2, "radio", 2, 0, "", "", "sip:a@10.8.1.1", 227},
        {0, "", "", "", 2, "radio", 3, 1, "TxRx", "", "sip:a@10.8.1.1", 226},
        {0, "", "", "", 1, "radio", 3, 1, "Rx", "", "sip:a@10.8.1.1", 226},
        {1, "sip:negro@10.8.2.1", "", "", 2, "radio", 3, 0, "", "", "sip:negro@10.8.2.1", 214},
        {2, "sip:blanco@10.8.3.1", "", "", 2, "radio", 3, 0, "", "", "sip:otro@10.8.4.1", 214},
        {2, "sip:blanco@10.8.3.1", "", "", 2, "radio", 3, 0, "", "", "sip:blanco@10.8.3.1", 0},
        {0, "", "MultipleStreamsBlocked=1\n", "", 2, "radio", 3, 0, "", "", "sip:vecino@10.8.3.9", 228},
        {0, "", "", "FREQ-1", 2, "radio", 3, 0, "", "FREQ-2", "sip:b@10.8.5.1", 222},
        {0, "", "", "FREQ-1", 2, "radio", 3, 0, "", "FREQ-1", "sip:b@10.8.5.1", 0},
        {0, "", "", "PAIRED-1", 2, "radio", 3, 0, "", "FREQ-9", "sip:c@10.8.6.1", 0},
        {0, "", "", "", 2, "radio", 3, 2, "", "", "sip:d@10.8.7.1", 0},
        {0, "", "", "", 2, "radio", 3, 2, "", "", "sip:e@10.8.8.1", 225},
    };
    int aceptadas = 0, n = 0;
    for (const auto& c : casos) {
        Escribe("/mnt/ramfs/FAArec06.ini", std::string("[RADIO]\nMaxSessions=12\n") + c.szOpciones);
        {
            cfgCerrojo g(&oConfigPasarela.tMutex);
            cfgConfigRecurso& r = oConfigPasarela.asRecursos[6];
            r.iRestriccion = c.iRestriccion;
            std::snprintf(r.listanegra[0], sizeof r.listanegra[0], "%s", c.iRestriccion == 1 ? c.szLista : "");
            std::snprintf(r.listablanca[0], sizeof r.listablanca[0], "%s", c.iRestriccion == 2 ? c.szLista : "");
            std::snprintf(r.szDestino, sizeof r.szDestino, "%s", c.szFidCfg);
            r.iTipo = c.iTipoRecurso;
        }
        const int cid = 300 + n++;
        DatosEventoSip e = SesionRadio(cid, c.szOrigen);
        std::snprintf(e.acSubject, sizeof e.acSubject, "%s", c.szSubject);
        e.incomming_priority = static_cast<uint8_t>(c.iPrio);
        e.iTipoSesion = c.iTipoSesion;
        std::snprintf(e.txrxmode, sizeof e.txrxmode, "%s", c.szModo);
        std::snprintf(e.fid, sizeof e.fid, "%s", c.szFid);
        l.Sup().Traplic_Invite(&e);
        const std::string sRechazo = "RechazaLlamada " + std::to_string(cid) + " ";
        if (c.iMotivo != 0)
            EXPECT_EQ(Cuenta(sRechazo + std::to_string(c.iMotivo)), 1) << n;
        else
            EXPECT_TRUE(EsperaEmpieza("hijo NuevaSesion ", ++aceptadas)) << n;
        EXPECT_EQ(CuentaEmpiezan(sRechazo), c.iMotivo != 0 ? 1 : 0) << n;
        EXPECT_EQ(l.Sup().CuentaInfoSesionesOcupadas(), aceptadas) << n;
    }
}

}  // namespace
