#include "mantenimiento.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "comun/cdireccionip.h"
#include "cfg/cfgpasarela.h"
#include "csuperec.h"
#include "comun/interfazred.h"
#include "ccolateral.h"
#include "cconfig.h"
#include "cgest.h"
#include "comun/nlog.h"

// Never destroyed: its thread and the core's other threads use it until the process ends.
HistClient& oHistClient = *new HistClient(true);

namespace {
std::atomic<FnMant> gfRefresco{nullptr};
std::atomic<FnMant> gfEstado{nullptr};
char gacDirPropia[16];
char gacDirPareja[80];
std::atomic<bool> gbClienteArrancado{false};

int ConmutaSupervisor(int n, int e, int iSentido, int iEquipo) {
    if (n < 0 || n >= CFG_NUM_RECURSOS) return -1;
    return aoSupervisorRecurso[n].FijaEquipoActivo(e, iSentido, iEquipo);
}
void ModoRadioSupervisor(int n, int iModo) { aoSupervisorRecurso[n].TomaModoRadio(iModo); }
void BucleSupervisor(int n, int iTipo, int e) { aoSupervisorRecurso[n].ActivaBucleRadio(iTipo, e); }
std::atomic<int (*)(int, int, int, int)> gfConmuta{ConmutaSupervisor};
std::atomic<void (*)(int, int)> gfModoRadio{ModoRadioSupervisor};
std::atomic<void (*)(int, int, int)> gfBucleRadio{BucleSupervisor};

// Formats into a 1,024-byte record (cut, never overrun) and sends it.
int Envia(const char* szFormato, ...) __attribute__((format(printf, 1, 2)));
int Envia(const char* szFormato, ...) {
    char ac[1024];
    va_list ap;
    va_start(ap, szFormato);
    int n = std::vsnprintf(ac, sizeof ac, szFormato, ap);
    va_end(ap);
    if (n < 0) return 0;
    if (n >= static_cast<int>(sizeof ac)) n = sizeof ac - 1;
    return mantEnvia(ac, n);
}

// At most 50 characters of the URI, with every ':' made '.' (the record's separator).
std::string UriHistorico(const char* szUri) {
    std::string s(szUri ? szUri : "");
    if (s.size() > 50) s.resize(50);
    for (char& c : s)
        if (c == ':') c = '.';
    return s;
}

// A whole decimal number without sign that fits an int, from b up to e.
bool LeeNatural(const char* b, const char* e, int* piValor) {
    if (b == e) return false;
    long long ll = 0;
    for (const char* p = b; p < e; p++) {
        if (*p < '0' || *p > '9') return false;
        ll = ll * 10 + (*p - '0');
        if (ll > INT_MAX) return false;
    }
    *piValor = static_cast<int>(ll);
    return true;
}

// "A,T01,": name, emplacement, TX/RX, action, every field whole (an order that is carried out
// half-read switches the wrong equipment). 0, or -1 on a format error.
int Parsea_CmdPR(const char* szArgs, char* szNombre, int* piEmp, int* piEquipo, int* piAccion) {
    const char* c1 = std::strchr(szArgs, ',');
    if (c1 == nullptr || c1 == szArgs || c1 - szArgs > 64) return -1;
    std::snprintf(szNombre, 65, "%.*s", static_cast<int>(c1 - szArgs), szArgs);
    std::printf("pe=%s\n", c1 + 1);
    const char* c2 = std::strchr(c1 + 1, ',');
    if (c2 == nullptr || !LeeNatural(c1 + 1, c2, piEmp)) return -1;
    // Without the action field the order is incomplete: refused rather than guessed.
    const char* c3 = std::strchr(c2 + 1, ',');
    if (c3 == nullptr) return -1;
    const std::string sEquipo(c2 + 1, c3);
    if (sEquipo == "TX")
        *piEquipo = 0;
    else if (sEquipo == "RX")
        *piEquipo = 1;
    else
        return -1;
    // The agent numbers the equipment as its records do: 1 is A, 2 is B; nothing may follow.
    if (std::strcmp(c3 + 1, "1") == 0)
        *piAccion = 0;
    else if (std::strcmp(c3 + 1, "2") == 0)
        *piAccion = 1;
    else
        return -1;
    std::printf(" idrec =%s, *emp=%i, equipo=%i act=%i\n", szNombre, *piEmp, *piEquipo, *piAccion);
    return 0;
}

int AveriguaRecurso(const char* szNombre) {
    cfgCerrojo cerrojo(&oConfigPasarela.tMutex);
    const int iNum = cfgNumCanales(&oConfigPasarela);
    for (int i = 0; i < iNum; i++) {
        const int p = cfgPosicionCanal(&oConfigPasarela, i);
        std::printf("i=%i pos=%i\n", i, p);
        if (p < 0) continue;
        const cfgConfigRecurso& r = oConfigPasarela.asRecursos[p];
        if (r.iTipoIf == TIPOIF_RADIO && std::strncmp(r.nombre, szNombre, sizeof r.nombre) == 0) return p;
    }
    return -1;
}

int ConmutaTxRx(int n, int iEmp, int iEquipo, int iAccion) {
    std::printf("ConmutaTxRx(rec %i emp %i, tipoequipo %i, act %i)\n", n, iEmp, iEquipo, iAccion);
    const int r = gfConmuta.load()(n, iEmp, iEquipo, iAccion);
    if (r != 0) return r;
    CColateral::FijaEquipoActivo(n, iEmp * 4 + (iEquipo == 0 ? 0 : 2) + (iAccion != 0 ? 1 : 0));
    return 0;
}

void Trataconmuta(const char* szArgs) {
    NLOG::Log(NLOG::INFO, "EvtRxMant: mensaje Conmuta");
    std::printf("Trataconmuta : %s\n", szArgs);
    char acNombre[65];
    int iEmp = 0, iEquipo = 0, iAccion = 0;
    if (Parsea_CmdPR(szArgs, acNombre, &iEmp, &iEquipo, &iAccion) != 0) {
        NLOG::Log(NLOG::ERROR, "EvtRxMant: Parsea_CmdPR");
        mantEnviaR01(2, "Formato parametros no valido");
        return;
    }
    const int n = AveriguaRecurso(acNombre);
    if (n < 0) {
        NLOG::Log(NLOG::ERROR, "EvtRxMant: AveriguaRecurso");
        mantEnviaR01(2, "Recurso no encontrado");
        return;
    }
    const int r = ConmutaTxRx(n, iEmp, iEquipo, iAccion);
    std::printf("Conmuta resultado %i\n", r);
    if (r == 0) {
        mantEnviaR01(1, "Conmutacion Realizada");
    } else if (r == -2) {
        NLOG::Log(NLOG::ERROR, "EvtRxMant: Fallo conmuta Fallo Sesion");
        mantEnviaR01(2, "Fallo sesion");
    } else {
        NLOG::Log(NLOG::ERROR, "EvtRxMant: Fallo conmuta Error Parametros");
        mantEnviaR01(2, "Error Parametros");
    }
}

void TrataModoOperacion(const char* szArgs) {
    int ai[2];
    mantParseaEnteros(szArgs, 2, ai);
    NLOG::Log(NLOG::INFO, "EvtRxMant: mensaje ModoOperacion rec=%i modo=%i", ai[0], ai[1]);
    if (ai[0] >= 0 && ai[0] < CFG_NUM_RECURSOS) gfModoRadio.load()(ai[0], ai[1]);
}

void TrataBucle(const char* szArgs) {
    int ai[3];
    mantParseaEnteros(szArgs, 3, ai);
    NLOG::Log(NLOG::INFO, "EvtRxMant: mensaje Bucle rec=%i tipobucle=%i, emplaz=%i", ai[0], ai[1], ai[2]);
    if (ai[0] >= 0 && ai[0] < CFG_NUM_RECURSOS) gfBucleRadio.load()(ai[0], ai[1], ai[1] == 1 ? 0 : ai[2]);
}
}  // namespace

void mantFijaOperaciones(const OperacionesMant* psOps) {
    if (psOps == nullptr) {
        gfConmuta = ConmutaSupervisor;
        gfModoRadio = ModoRadioSupervisor;
        gfBucleRadio = BucleSupervisor;
        return;
    }
    if (psOps->fConmuta) gfConmuta = psOps->fConmuta;
    if (psOps->fModoRadio) gfModoRadio = psOps->fModoRadio;
    if (psOps->fBucleRadio) gfBucleRadio = psOps->fBucleRadio;
}

int mantEnvia(const char* szTexto, int iLong) {
    NLOG::Log(NLOG::INFO, "mantEnvia: %.*s", iLong, szTexto);
    int iPuerto;
    {
        cfgCerrojo cerrojo(&oConfigPasarela.tMutex);
        iPuerto = oConfigPasarela.iSnmpPuertoRemoto;
    }
    if (iPuerto <= 0 || iPuerto > 65535) iPuerto = HistClient::PUERTO_AGENTE;
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        NLOG::Log(NLOG::ERROR, "mantEnvia: socket %d", errno);
        return 0;
    }
    sockaddr_in d{};
    d.sin_family = AF_INET;
    d.sin_port = htons(static_cast<uint16_t>(iPuerto));
    d.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (sendto(s, szTexto, static_cast<size_t>(iLong), 0, reinterpret_cast<sockaddr*>(&d), sizeof d) < 0)
        NLOG::Log(NLOG::ERROR, "mantEnvia: sendto %d", errno);
    close(s);
    return 0;
}

int mantInicia(FnMant fRefresco, FnMant fEstado) {
    gfRefresco = fRefresco;
    gfEstado = fEstado;
    CDireccionIp oDir;
    oDir.TomaValor(ntohl(DameIpInterfaz("eth0")));
    std::snprintf(gacDirPropia, sizeof gacDirPropia, "%s", oDir.texto);
    {
        cfgCerrojo cerrojo(&oConfigPasarela.tMutex);
        if (std::strncmp(gacDirPropia, oConfigPasarela.szDirCPU0, 64) == 0)
            std::snprintf(gacDirPareja, sizeof gacDirPareja, "%.64s", oConfigPasarela.szDirCPU1);
        else if (std::strncmp(gacDirPropia, oConfigPasarela.szDirCPU1, 64) == 0)
            std::snprintf(gacDirPareja, sizeof gacDirPareja, "%.64s", oConfigPasarela.szDirCPU0);
        else
            gacDirPareja[0] = '\0';
    }
    mantEnviaN01();
    oCgest.Inicia();
    oHistClient.TomaCallbackRx(EvtRxMant);
    if (!gbClienteArrancado.exchange(true)) oHistClient.Start(1);
    return 0;
}

void mantParseaEnteros(const char* szTexto, int iNum, int* aiValores) {
    for (int i = 0; i < iNum; i++) aiValores[i] = 0;
    const char* p = szTexto;
    int i = 0;
    while (i < iNum) {
        const char* c = std::strchr(p, ',');
        if (c == nullptr) {
            aiValores[i] = std::atoi(p);
            break;
        }
        aiValores[i++] = std::atoi(std::string(p, c).c_str());
        p = c + 1;
    }
}

void EvtRxMant(int iLong, const char* szTexto) {
    char acTexto[HistClient::MAX_COMANDO + 1];
    if (iLong < 0) iLong = 0;
    if (iLong > HistClient::MAX_COMANDO) iLong = HistClient::MAX_COMANDO;
    std::memcpy(acTexto, szTexto, static_cast<size_t>(iLong));
    acTexto[iLong] = '\0';
    NLOG::Log(NLOG::INFO, "EvtRxMant: Recibe mensaje %s\n", acTexto);
    const char* p;
    if (std::strstr(acTexto, "A,T00") || std::strstr(acTexto, "C,T00")) {
        if (FnMant f = gfEstado.load()) f();
    } else if ((p = std::strstr(acTexto, "A,T01,")) != nullptr) {
        Trataconmuta(p + 6);
    } else if ((p = std::strstr(acTexto, "A,T03,")) != nullptr) {
        TrataModoOperacion(p + 6);
    } else if ((p = std::strstr(acTexto, "A,T04,")) != nullptr) {
        TrataBucle(p + 6);
    } else if (std::strstr(acTexto, "A,T10")) {
        if (FnMant f = gfRefresco.load()) f();
    }
}

// ---- Records ----------------------------------------------------------------------------------

int mantEnviaR01(int iCodigo, const char* szTexto) { return Envia("V,R01,%d,%s", iCodigo, szTexto); }

int mantEnviaN01() {
    char ac[64];
    int n;
    {
        cfgCerrojo cerrojo(&oConfigPasarela.tMutex);
        n = std::snprintf(ac, sizeof ac, "V,N01,%.167s,%.64s,%s,%s", oConfigPasarela.acIdConfig,
                          oConfigPasarela.szNombre, gacDirPropia, gacDirPareja);
    }
    if (n < 0) return 0;
    return mantEnvia(ac, n >= static_cast<int>(sizeof ac) ? static_cast<int>(sizeof ac) - 1 : n);
}

int mantEnviaN02(int iEstadoLan) { return Envia("V,N02,%i,%i", iEstadoLan & 1, (iEstadoLan >> 1) & 1); }
int mantEnviaN03(int iValor) { return Envia("V,N03,%i,1", iValor); }
int mantEnviaN04(int iPrimero, int iSegundo) { return Envia("V,N04,%i,%i", iPrimero, iSegundo); }
int mantEnviaN05(int iEstado) { return Envia("V,N05,%i", iEstado); }
int mantEnviaN06(int iSlot, int iUno, int iPresencia, int iV0, int iV1, int iV2, int iV3) {
    return Envia("V,N06,%i,%i,%i,%i,%i,%i,%i", iSlot, iUno, iPresencia, iV0 & 0xFF, iV1 & 0xFF, iV2 & 0xFF,
                 iV3 & 0xFF);
}
int mantEnviaN07(int iRecurso) { return Envia("V,N07,%i,-,9,0,0,0,0,-", iRecurso); }

int mantEnviaN08(int iRecurso, const char* szNombre, int iEstado, int iSesion, int iSupervision, const char* szUri) {
    return Envia("V,N08,%i,%.64s,%i,%i,%i,%s", iRecurso, szNombre, iEstado, iSesion, iSupervision, szUri ? szUri : "");
}

int mantEnviaN09(int iRecurso, const char* szNombre, int iEmplazamiento, int iTxA, int iRxA, int iTxB, int iRxB,
                 int iRespaldoTx, int iRespaldoRx) {
    int iFlagRx = 0;
    if (iRxA == 8) {
        iRxA = 9;
        iFlagRx = 1;
    }
    if (iRxB == 8) {
        iRxB = 9;
        iFlagRx = 1;
    }
    auto Resumen = [](int a, int b, int iRespaldo) {
        if (a == 9 || b == 9) return 9;
        if (a == 1) return 1;
        if (b == 1) return 2;
        return iRespaldo;
    };
    return Envia("V,N09,%i,%.64s,%i,%i,%i,%i,%i,%i,%i,%i", iRecurso, szNombre, iEmplazamiento, iFlagRx, iTxA, iTxB,
                 iRxA, iRxB, Resumen(iTxA, iTxB, iRespaldoTx), Resumen(iRxA, iRxB, iRespaldoRx));
}

int mantEnviaN10(int iRecurso, const char* szNombre, const GrupoSesionMant asGrupos[4]) {
    auto Uri = [&](int i) { return asGrupos[i].szUri ? asGrupos[i].szUri : ""; };
    auto Prio = [&](int i) { return asGrupos[i].iPrioridad == 1 ? 1 : 0; };
    return Envia("V,N10,%i,%.64s,%i,%.80s,%i,%i,%.80s,%i,%i,%.80s,%i,%i,%.80s,%i", iRecurso, szNombre,
                 asGrupos[0].iActivo, Uri(0), Prio(0), asGrupos[1].iActivo, Uri(1), Prio(1), asGrupos[2].iActivo,
                 Uri(2), Prio(2), asGrupos[3].iActivo, Uri(3), Prio(3));
}

int EnviaEstadoMant(const int32_t* aiEstado) {
    EstadoSupervision e;
    std::memcpy(&e, aiEstado, sizeof e);
    const bool bLan1 = (e.iEstadoLan & 1) != 0, bLan2 = (e.iEstadoLan & 2) != 0;
    std::string s = "V,R00,Estado: ";
    s += bLan1 && e.iEstadoFA == 0 && e.iEstadoNtp == 1 ? "Correcto" : "Degradado";
    s += "\nEstado dual: ";
    s += e.iReserva ? "RESERVA" : "PRINCIPAL";
    s += "\nEstado LAN1: ";
    s += bLan1 ? "Conectado" : "Desconectado";
    s += "\nEstado LAN2: ";
    s += bLan2 ? "Conectado" : "Desconectado";
    s += "\nEstado Alimentacion: ";
    s += e.iEstadoFA == 0 ? "OK" : "NO OK";
    s += "\nEstado NTP: ";
    s += e.iEstadoNtp == 1 ? "Sincronizado\n" : e.iEstadoNtp == 2 ? "No sincronizado\n" : "No configurado\n";
    if (!e.iReserva) {
        s += "Slots: ";
        char ac[32];
        for (int i = 0; i < 4; i++) {
            std::snprintf(ac, sizeof ac, e.aiPresenciaModulo[i] == 1 ? "(%d) Pres. " : "(%d) No Pres. ", i);
            s += ac;
        }
    }
    s += "\n";
    NLOG::Log(NLOG::INFO, "EvtRxMant: Envia resultado test (len %d): %s", static_cast<int>(s.size()), s.c_str());
    return mantEnvia(s.data(), static_cast<int>(s.size()));
}

void mantHistorico(int iEvento, const char* szTexto) { oHistClient.AnadeHistorico(iEvento, szTexto, "", "", ""); }

void mantHistoricoSesion(const char* szNombre, int iOn, const char* szUri, int iReposo) {
    char ac[120];
    std::snprintf(ac, sizeof ac, "%s:%s:%s:%s", szNombre, iOn ? "ON" : "OFF", UriHistorico(szUri).c_str(),
                  iReposo ? "Idle" : "Activa");
    mantHistorico(2101, ac);
}

void mantHistoricoOptions(const cfgConfigRecurso* psRec, int iRecurso, int iFlag, const char* szUri) {
    int iEvento;
    switch (psRec ? psRec->iTipoIf : -1) {
    case TIPOIF_LCEN: iEvento = iFlag ? 2011 : 2202; break;
    case TIPOIF_ATSR2: iEvento = iFlag ? 2012 : 2205; break;
    case TIPOIF_ATSN5: iEvento = iFlag ? 2013 : 2208; break;
    default:
        // No event number exists for the other interface types.
        NLOG::Log(NLOG::DEBUG, "mantHistoricoOptions: recurso %i sin evento", iRecurso);
        return;
    }
    mantHistorico(iEvento, UriHistorico(szUri).c_str());
}
