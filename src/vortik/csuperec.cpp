#include "csuperec.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "comun/hilo.h"
#include "ccolateral.h"
#include "cconfig.h"
#include "sip/cgestorllamada.h"
#include "ipc/cola.h"
#include "copcionesradio.h"
#include "comun/ctemporizador.h"
#include "sip/cpasagus.h"
#include "comun/gestormutex.h"
#include "hardware/hardware.h"
#include "temporizadorvortik.h"
#include "comun/nlog.h"
#include "procesohijo.h"
#include "red/tcpcons.h"
#include "comun/trazapid.h"
#include "comun/vigilanciahilos.h"

CSupervisorRecurso (&aoSupervisorRecurso)[CFG_NUM_RECURSOS] = *new CSupervisorRecurso[1][CFG_NUM_RECURSOS];

namespace {
CCONFIG* gpoCfg = nullptr;
std::atomic<FnEspera> gpfEspera{nullptr};

class CEventosNulos : public CSupervisorRecurso::CEventos {};
CEventosNulos& goEventosNulos = *new CEventosNulos;
std::atomic<CSupervisorRecurso::CEventos*> gpoEventos{&goEventosNulos};
CSupervisorRecurso::CEventos& Eventos() { return *gpoEventos.load(); }

enum { C_SEGUNDO = 0, C_MODO1, C_PASADA, C_OPTIONS, C_PUBLICA, C_PARADO };
constexpr uint32_t US_SEGUNDO = 1000000;
constexpr uint32_t US_MINIMO_PASADA = 20000;
// When the core ends, the time a process has to put its line at rest once told, and to answer
// the BYEs of its calls meanwhile.
constexpr uint32_t US_GRACIA_FIN = 1000000;
constexpr int TICKS_SIN_VIGILAR = 5;
constexpr uint32_t MASCARA_TRAZA_RECURSOS = 0x3E;

// Programs by interface type: the /usr/bin path and the current-directory path.
const char* const kProgramas[17][2] = {
    {"/usr/bin/sopwent", "./sopwent"}, {"/usr/bin/kalvesk", "./kalvesk"}, {"/usr/bin/fonmira", "./fonmira"},
    {"/usr/bin/fonmira", "./fonmira"}, {"/usr/bin/fonmira", "./fonmira"}, {"/usr/bin/lintaro", "./lintaro"},
    {"/usr/bin/lintaro", "./lintaro"}, {"/usr/bin/norbeck", "./norbeck"}, {nullptr, nullptr},
    {nullptr, nullptr},                {nullptr, nullptr},                {"/usr/bin/plenwat", "./plenwat"},
    {"/usr/bin/tuskev", "./tuskev"},   {"/usr/bin/fonmira", "./fonmira"}, {"/usr/bin/fonmira", "./fonmira"},
    {nullptr, nullptr},                {nullptr, nullptr}};
const char* const kProgramaRrc[2] = {"/usr/bin/tuskev", "./tuskev"};

void DuermeUs(uint32_t us) {
    struct timespec t;
    t.tv_sec = us / US_SEGUNDO;
    t.tv_nsec = static_cast<long>(us % US_SEGUNDO) * 1000;
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}
}  // namespace

void superecFijaConfig(CCONFIG* poCfg) { gpoCfg = poCfg; }
CCONFIG* superecDameConfig() { return gpoCfg; }

int32_t superecNivelConsola() {
    if (!gpoCfg) return 0;
    cfgCerrojo c(&gpoCfg->tMutex);
    return gpoCfg->iNivelConsola;
}

void superecFijaEspera(FnEspera pfEspera) { gpfEspera = pfEspera; }

void superecFijaEventos(CSupervisorRecurso::CEventos* poEventos) {
    gpoEventos = poEventos ? poEventos : &goEventosNulos;
}

// ---- Object ------------------------------------------------------------------------------------

CSupervisorRecurso::CSupervisorRecurso()
    : iMiNumRecurso(-1), iPidHijo(-1), iEstado(ESTADO_NO_INICIADO), iHijoConfigurado(0), iIndiceWatchdog(-1),
      ucEstadoPublicado(10), psConfig(nullptr), poColateral(nullptr), iModoReserva(0), uiCalidadNtp(0), iPresenciaModulo(-1),
      iTipoIfAnterior(-1), poContadores(new TablaContadores), poCanalHijo(), tHilo(), iPeticionArranque(0),
      iPeticionParada(0), iHijoMuerto(0), iReconfigurar(0), uiInfoSlot(65535), iSlicOk(0), sEstadoRecurso{},
      uiTicksCanal(0), uiPasadas(0), iHijoTerminado(0), iTerminar(0) {
    sEstadoRecurso.ucEstado = RECURSO_NO_DISPONIBLE;
    CreaContadores(poContadores, NUM_CONTADORES);
}

CSupervisorRecurso::CSupervisorRecurso(int) : CSupervisorRecurso() {}

CSupervisorRecurso::~CSupervisorRecurso() {
    delete poColateral;
    LiberaContadores(poContadores);
    delete poContadores;
}

const char* CSupervisorRecurso::ProgramaDe(const cfgConfigRecurso* psRec, int iEnCurso) {
    int i = iEnCurso ? 1 : 0;
    if (psRec->iTipoIf == TIPOIF_RADIO && std::strncmp(psRec->nombre, "RRC", 3) == 0) return kProgramaRrc[i];
    if (psRec->iTipoIf < 0 || psRec->iTipoIf > 16) return nullptr;
    return kProgramas[psRec->iTipoIf][i];
}

void CSupervisorRecurso::Espera(uint32_t us) {
    FnEspera f = gpfEspera.load();
    if (f)
        f(us);
    else
        EsperaReal(us);
}

void CSupervisorRecurso::EsperaReal(uint32_t us) {
    std::unique_lock<std::mutex> l(tMutexEspera);
    tCondEspera.wait_for(l, std::chrono::microseconds(us), [this] { return iTerminar.load() != 0; });
}

void CSupervisorRecurso::Termina() {
    {
        std::lock_guard<std::mutex> l(tMutexEspera);
        iTerminar = 1;
    }
    tCondEspera.notify_all();
}

int CSupervisorRecurso::Inicia(int iRecurso, CPasaGus* poPasaGus, CGestorLlamada* poGestor) {
    if (iEstado != ESTADO_NO_INICIADO || poPasaGus == nullptr) return -1;
    if (gpoCfg == nullptr) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: sin configuracion", iRecurso);
        return -1;
    }
    if (ModoSistemaLocal == 0 && poGestor == nullptr) return -1;
    if (iRecurso < 0 || iRecurso >= CFG_NUM_RECURSOS) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]:iRecurso fuera de rango", iRecurso);
        return -1;
    }
    char nombre[LON_NOMBRE_MUTEX + 1];
    std::snprintf(nombre, sizeof nombre, "CSuperRec[%d].tMutexGlobal", iRecurso);
    CreaMutex(nombre, &tMutexGlobal, nullptr);
    oSesiones.Inicia(iRecurso);
    iMiNumRecurso = iRecurso;
    psConfig = &gpoCfg->asRecursos[iRecurso];
    IniciaSip(this, &oSesiones, iRecurso, gpoCfg, poPasaGus, poGestor);
    iModoReserva = 1;
    poColateral = new CColateral(gpoCfg, iRecurso, *this, oSesiones);
    iEstado = ESTADO_PARADO;
    if (pthread_create(&tHilo, nullptr, sSupervisor, this) != 0) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Error creando hilo", iRecurso);
        iEstado = ESTADO_NO_INICIADO;
        return -1;
    }
    return 0;
}

// ---- Requests ----------------------------------------------------------------------------------

int CSupervisorRecurso::ArrancaRecurso() {
    if (iEstado == ESTADO_NO_INICIADO) return -1;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d] ArrancaRecurso", iMiNumRecurso);
    int tipoIf;
    {
        cfgCerrojo c(&gpoCfg->tMutex);
        tipoIf = psConfig->iTipoIf;
    }
    poColateral->TomaCfg();
    {
        cfgCerrojo l(&tMutexGlobal);
        // Kept even while running: a stop not served yet is then followed by a restart.
        iPeticionArranque = 1;
    }
    poOpcionesRadio->Lee();
    oTablaPttId.FijaTamano(poOpcionesRadio->DameMaxSessions());
    poColateral->Arranca();
    poColateral->CargaEqActivo();
    // Remembered so that a later change of type restarts the child with the new program.
    iTipoIfAnterior = tipoIf;
    return 0;
}

int CSupervisorRecurso::DetieneRecurso() {
    if (iEstado == ESTADO_NO_INICIADO) return -1;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d] DetieneRecurso", iMiNumRecurso);
    {
        cfgCerrojo l(&tMutexGlobal);
        // Kept even while stopped or stopping, and it drops a start not served yet.
        iPeticionArranque = 0;
        iPeticionParada = 1;
    }
    iTipoIfAnterior = -1;
    return 0;
}

int CSupervisorRecurso::ReconfiguraRecurso() {
    if (iEstado == ESTADO_NO_INICIADO) return -1;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d] ReconfiguraRecurso", iMiNumRecurso);
    iReconfigurar = 1;
    poColateral->CargaEqActivo();
    bool restringida = false;
    {
        cfgCerrojo c(&gpoCfg->tMutex);
        int tipoIf = psConfig->iTipoIf;
        if (iTipoIfAnterior != -1 && iTipoIfAnterior != tipoIf) {
            NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: cambio de tipo de interfaz %d -> %d", iMiNumRecurso, iTipoIfAnterior,
                      tipoIf);
            iHijoMuerto = 1;
        }
        iTipoIfAnterior = tipoIf;
        if (tipoIf == TIPOIF_RADIO) {
            const cfgParamRadio& r = psConfig->uParam.radio;
            restringida = r.iTipoRadio >= 4 && r.iTipoRadio <= 6 && psConfig->iRestriccion != 0;
        }
    }
    poColateral->CompruebaCambioCfg();
    // Sessions of callers the new restriction lists refuse end now.
    if (restringida)
        for (auto& ses : oSesiones)
            if (ses.idsesion >= 0 && ses.cid >= 0 && CompruebaListaUri(ses.Origen) != 0) CierraSesionCompleta(&ses, 214);
    return 0;
}

int CSupervisorRecurso::ReconfiguraColaterales() {
    if (iEstado == ESTADO_NO_INICIADO) return -1;
    poColateral->iReconfigurarColaterales = 1;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d] Reconfigura colaterales", iMiNumRecurso);
    return 0;
}

bool CSupervisorRecurso::QuedaParado() {
    if (iEstado == ESTADO_NO_INICIADO) return false;
    cfgCerrojo l(&tMutexGlobal);
    return iPeticionArranque == 0 && (iEstado == ESTADO_PARADO || iPeticionParada != 0);
}

void CSupervisorRecurso::NotifHijoMuerto() {
    NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]::NotifHijoMuerto", iMiNumRecurso);
    iHijoMuerto = 1;
}

// ---- Supervisor thread -------------------------------------------------------------------------

void* CSupervisorRecurso::sSupervisor(void* p) {
    static_cast<CSupervisorRecurso*>(p)->Supervisor();
    return nullptr;
}

void CSupervisorRecurso::Supervisor() {
    FijaPrioridadHilo(1);
    TrazaPid("Supervisor proceso", iMiNumRecurso, "src/vortik/csuperec");
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d] PID=%d", iMiNumRecurso, static_cast<int>(getpid()));
    iIndiceWatchdog = RegistraHilo("Supervisor proceso", iMiNumRecurso, 2000, hwDameTiempo());
    {
        cfgCerrojo l(&tMutexGlobal);
        poContadores->contadores[C_SEGUNDO] = US_SEGUNDO;
        poContadores->contadores[C_MODO1] = 9 * US_SEGUNDO;
        poContadores->contadores[C_PASADA] = 300000;
    }
    uint32_t* c = poContadores->contadores;
    for (;;) {
        uint32_t us;
        {
            cfgCerrojo l(&tMutexGlobal);
            AvanzaContadores(poContadores);
            us = poContadores->minimo;
        }
        // The channel's clock: always real time, whatever the fixed waits do.
        EsperaReal(us < US_MINIMO_PASADA || us == UINT32_MAX ? US_MINIMO_PASADA : us);
        if (iTerminar) {
            FinHijo();
            return;
        }

        ++uiPasadas;
        if (c[C_SEGUNDO] == 0) PasoDeSegundo();
        if (c[C_PASADA] == 0) c[C_PASADA] = iHijoConfigurado == 1 ? 500000 : 300000;

        if (iEstado == ESTADO_PARADO)
            PasoParado();
        else if (iEstado == ESTADO_EN_MARCHA)
            PasoEnMarcha();
    }
}

void CSupervisorRecurso::PasoDeSegundo() {
    poContadores->contadores[C_SEGUNDO] = US_SEGUNDO;
    RefrescaHilo(iIndiceWatchdog, hwDameTiempo());
    std::shared_ptr<Cola> canal = CanalHijo();
    if (iPidHijo >= 0 && canal) {
        ++uiTicksCanal;
        canal->Temporiza(uiTicksCanal > TICKS_SIN_VIGILAR ? 1 : 0);
    }
}

// Launches staggered by position, so the children do not all start at once.
void CSupervisorRecurso::LanzaEscalonado() {
    Espera(static_cast<uint32_t>(iMiNumRecurso) * 250000 + 250000);
    if (iTerminar) return;
    LanzaHijo();
    Espera(static_cast<uint32_t>(iMiNumRecurso) * 25000 + 250000);
}

void CSupervisorRecurso::PasoParado() {
    uint32_t* c = poContadores->contadores;
    bool arrancar;
    {
        cfgCerrojo l(&tMutexGlobal);
        arrancar = iPeticionArranque != 0;
        // A stop pending here came before the start, or found the resource stopped.
        iPeticionArranque = 0;
        iPeticionParada = 0;
        if (arrancar) iEstado = ESTADO_EN_MARCHA;
    }
    if (!arrancar) {
        if (c[C_PARADO] == 0) {
            c[C_PARADO] = 5 * US_SEGUNDO;
            SupervisaSlic();
        }
        return;
    }
    if (iPidHijo < 0) LanzaEscalonado();
}

void CSupervisorRecurso::PasoEnMarcha() {
    if (iPidHijo < 0) LanzaEscalonado();
    if (iPidHijo > 0) {
        CompruebaHijoVivo();
        if (iHijoMuerto)
            Filicidio();
        else if (iReconfigurar == 1)
            ConfiguraHijo();
        else
            DeberesColaterales();
    }
    InfoHwSlot();
    bool parar;
    {
        cfgCerrojo l(&tMutexGlobal);
        parar = iPeticionParada != 0;
        iPeticionParada = 0;
        // A start pending without a stop found the resource running; after a stop it restarts.
        if (!parar) iPeticionArranque = 0;
    }
    if (parar) {
        Filicidio();
        cfgCerrojo l(&tMutexGlobal);
        iEstado = ESTADO_PARADO;
    }
}

void CSupervisorRecurso::DeberesColaterales() {
    uint32_t* c = poContadores->contadores;
    if (ModoSistemaLocal == 1 && c[C_MODO1] == 0) {
        c[C_MODO1] = 5 * US_SEGUNDO;
        poColateral->SupervisaColateralTipo();
    }
    if (c[C_PUBLICA] == 0) {
        c[C_PUBLICA] = US_SEGUNDO;
        poColateral->PublicaColaterales();
    }
    int superv = 0;
    {
        cfgCerrojo cc(&gpoCfg->tMutex);
        superv = psConfig->sColateral.isuperv_options;
    }
    if (superv && iModoReserva == 0 && iIdUsuarioSip >= 0 && c[C_OPTIONS] == 0) {
        int t = 5;
        if (poColateral->iEstadoColateral != 0) {
            cfgCerrojo cc(&gpoCfg->tMutex);
            t = psConfig->sColateral.itm_superv_options;
        }
        c[C_OPTIONS] = static_cast<uint32_t>(t > 0 ? t : 5) * US_SEGUNDO;
        poColateral->EnviaOptionsColateral();
    }
}

// A child that dies before its first heartbeat is never watched by its channel: the pass
// reaps it and treats it as silent, so it is relaunched and leaves no zombie.
void CSupervisorRecurso::CompruebaHijoVivo() {
    pid_t pid = iPidHijo;
    if (pid <= 0 || iHijoTerminado) return;
    if (phRecogeSiTermino(pid) == 1) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: proceso %d terminado", iMiNumRecurso, static_cast<int>(pid));
        iHijoTerminado = 1;
        iHijoMuerto = 1;
    }
}

int CSupervisorRecurso::LanzaHijo() {
    cfgConfigRecurso* r = psConfig;
    const char* rutas[2];
    {
        cfgCerrojo c(&gpoCfg->tMutex);
        rutas[0] = ProgramaDe(r, 0);
        rutas[1] = ProgramaDe(r, 1);
    }
    if (rutas[0] == nullptr) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: tipo de interfaz %d sin programa", iMiNumRecurso, r->iTipoIf);
        Espera(5 * US_SEGUNDO);
        return -1;
    }
    int32_t nivel = superecNivelConsola();
    int32_t propio = static_cast<int32_t>(getpid());
    char a1[16], a2[16], a3[16];
    std::snprintf(a1, sizeof a1, "%d", iMiNumRecurso);
    std::snprintf(a2, sizeof a2, "%d", nivel);
    std::snprintf(a3, sizeof a3, "%d", propio);
    const char* args[3] = {a1, a2, a3};
    NLOG::Log(NLOG::INFO, "Ejecutando %s %s %s %s", rutas[0], a1, a2, a3);

    iPidHijo = 0;
    iHijoTerminado = 0;
    ResultadoLanza res = phLanza(rutas, 2, args, 3);
    if (res.pid < 0) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Error %d en fork", iMiNumRecurso, errno);
        iPidHijo = -1;
        return -1;
    }
    bool consola = (nivel & 0xFFFF) != 0;
    if (res.aiErrno[0] != 0) {
        if (consola)
            TcpCons::Printf(" Error %d ejecutando %s. %s\n\r", res.aiErrno[0], rutas[0], std::strerror(res.aiErrno[0]));
        NLOG::Log(NLOG::INFO, "\nEjecutando en directorio en curso %s %s %s %s ", rutas[1], a1, a2, a3);
    }
    if (res.iEjecutada < 0 && consola)
        TcpCons::Printf(" Vuelve a dar Error %d ejecutando %s. %s\n\r", res.aiErrno[1], rutas[1],
                        std::strerror(res.aiErrno[1]));

    iPidHijo = res.pid;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Creado proceso %d", iMiNumRecurso, static_cast<int>(res.pid));
    auto canal = std::make_shared<Cola>(res.pid, COLA_PADRE, 0, propio);
    if (canal->DameCola() < 0) {
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Error creando objeto Def_Cola %i", iMiNumRecurso,
                  static_cast<int>(res.pid));
        iHijoMuerto = 1;
        return -1;
    }
    Eventos().EvtCanalHijo(canal.get());
    {
        cfgCerrojo l(&tMutexGlobal);
        poCanalHijo = canal;
    }
    Eventos().EvtHijoLanzado(iMiNumRecurso);
    hwCierraSlic(iMiNumRecurso);
    return 0;
}

void CSupervisorRecurso::ConfiguraHijo() {
    NLOG::Log(NLOG::DEBUG, "CSUPEREC[%d]ConfiguraHijo:Inicia", iMiNumRecurso);
    {
        std::shared_ptr<Cola> canal = CanalHijo();
        const int iPidDsp = Eventos().DamePidDsp();
        if (!canal)
            NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]ConfiguraHijo: canalhijo no encontrado", iMiNumRecurso);
        else if (canal->EnviaCreaCanalHermano(iPidDsp, 4) < 0)
            NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Error asignando PID %i de servicios DSP", iMiNumRecurso, iPidDsp);
    }
    NLOG::Log(NLOG::DEBUG, "CSUPEREC[%d]ConfiguraHijo:trz1", iMiNumRecurso);
    // The record and the general block are copied under the configuration mutex and sent outside
    // it: the configuration thread takes the supervisors' locks inside that mutex.
    static thread_local cfgConfigRecurso sRegistro;
    char bloque[TAM_BLOQUE_GENERAL];
    std::memset(bloque, 0, sizeof bloque);
    char nombre[sizeof psConfig->nombre];
    int tipoIf, registro, tipoIfRadio;
    char clave[sizeof psConfig->szClave + 1] = {};
    {
        cfgCerrojo c(&gpoCfg->tMutex);
        psConfig->iSlot = iMiNumRecurso / 4;
        psConfig->iDispositivo = iMiNumRecurso % 4;
        std::memcpy(&sRegistro, psConfig, sizeof sRegistro);
        gpoCfg->CopiaDirVirtual(bloque);
        std::memcpy(nombre, psConfig->nombre, sizeof nombre);
        nombre[sizeof nombre - 1] = '\0';
        tipoIf = psConfig->iTipoIf;
        registro = psConfig->iEnableRegistro;
        std::memcpy(clave, psConfig->szClave, sizeof psConfig->szClave);
        tipoIfRadio = tipoIf == TIPOIF_RADIO;
    }
    {
        std::shared_ptr<Cola> canal = CanalHijo();
        if (!canal)
            NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]:ConfiguraHijo: canalhijo no encontrado", iMiNumRecurso);
        else
            canal->EnviaTomaConfig(bloque, &sRegistro);
    }
    NLOG::Log(NLOG::DEBUG, "CSUPEREC[%d]ConfiguraHijo:trz2", iMiNumRecurso);
    iReconfigurar = 0;
    if (iIdUsuarioSip < 0) {
        NLOG::Log(NLOG::DEBUG, "CSUPEREC[%d]: alta en el subsistema SIP nombre nuevorec= %s\n", iMiNumRecurso, nombre);
        iIdUsuarioSip = poMiPasaGus->AltaRecurso(this, nombre, tipoIf, registro, clave);
        if (iIdUsuarioSip < 0)
            NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Error en poMiPasaGus->AltaRecurso()", iMiNumRecurso);
    }
    if (tipoIfRadio) EnviaCodigoDebug(17, static_cast<uint8_t>(uiCalidadNtp & 0xFF));
    if (iModoReserva == 0) EnviaCodigoDebug(8, 0);
    iHijoConfigurado = 1;
}

void CSupervisorRecurso::PierdeEstadoRecurso() {
    NotificacionEstado s{};
    s.ucEstado = RECURSO_NO_DISPONIBLE;
    {
        std::lock_guard<std::mutex> l(tMutexEstado);
        sEstadoRecurso = s;
    }
    ucEstadoPublicado = RECURSO_NO_DISPONIBLE;
    poColateral->iCambioColateral = 1;
    if (poMiPasaGus && iIdUsuarioSip >= 0) poMiPasaGus->ActualizaEstadoUsuario(iIdUsuarioSip, iMiNumRecurso, &s);
}

void CSupervisorRecurso::Filicidio() {
    pid_t pid = iPidHijo;
    NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]:Filicidio PID %d\n", iMiNumRecurso, static_cast<int>(pid));
    PierdeEstadoRecurso();
    CierraSesiones();
    if (std::shared_ptr<Cola> canal = CanalHijo()) canal->EnviaTermina();
    Espera(5 * US_SEGUNDO);
    poMiPasaGus->BajaRecurso(this);
    iIdUsuarioSip = -1;
    iHijoConfigurado = 0;
    std::shared_ptr<Cola> canal = MataHijo(pid);
    Espera(2 * US_SEGUNDO);
    Eventos().EvtHijoMatado(iMiNumRecurso);
    CierraCanal(std::move(canal));
    iHijoMuerto = 0;
    NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]:MATADO iMiNumRecurso\n", iMiNumRecurso);
}

void CSupervisorRecurso::FinHijo() {
    const pid_t pid = iPidHijo;
    NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Fin del nucleo, PID %d", iMiNumRecurso, static_cast<int>(pid));
    // From here on a call that comes in is refused, as to a resource not yet configured.
    iHijoConfigurado = 0;
    CierraSesiones();
    if (std::shared_ptr<Cola> canal = CanalHijo()) {
        canal->EnviaTermina();
        DuermeUs(US_GRACIA_FIN);
    }
    if (iIdUsuarioSip >= 0) poMiPasaGus->BajaRecurso(this);
    iIdUsuarioSip = -1;
    // Calls that were being set up while the others ended.
    CierraSesiones();
    CierraCanal(MataHijo(pid));
    cfgCerrojo l(&tMutexGlobal);
    iEstado = ESTADO_TERMINADO;
}

void CSupervisorRecurso::CierraSesiones() {
    for (auto& s : oSesiones) {
        if (s.cid == -1) continue;
        LiberaPttIdSesion(&s);
        CierraSesionCompleta(&s, 0);
    }
}

std::shared_ptr<Cola> CSupervisorRecurso::MataHijo(pid_t pid) {
    // Only this supervisor's own live child is killed and reaped: never a pid of 0 or -1 (a
    // stop while no child runs), never another supervisor's child.
    if (!iHijoTerminado && pid > 0) {
        int r = phMataYRecoge(pid);
        if (r == -2)
            NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Error en waitpid %d. ", iMiNumRecurso, errno);
        else if (r == -1)
            NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: PID %d no es un hijo vivo", iMiNumRecurso, static_cast<int>(pid));
    }
    iPidHijo = -1;
    iHijoTerminado = 0;
    std::shared_ptr<Cola> canal;
    {
        cfgCerrojo l(&tMutexGlobal);
        canal.swap(poCanalHijo);
    }
    return canal;
}

void CSupervisorRecurso::CierraCanal(std::shared_ptr<Cola> canal) {
    // Closed here, once no send holds it: closing joins the channel's receive thread, which a
    // handler sending on its own channel must never be the one to do.
    while (canal && canal.use_count() > 1) DuermeUs(1000);
}

// ---- Session records ---------------------------------------------------------------------------

void CSupervisorRecurso::LiberaInfoSesion(InfoSesion* s) {
    if (s == nullptr) return;
    // Whatever ends a radio session, its PTT id goes back (once: the id is cleared).
    LiberaPttIdSesion(s);
    if (s->iPuertoLocal != -1 && poMiPasaGus) poMiPasaGus->DevuelveLocalPort(iIdUsuarioSip, s->cid, s->iPuertoLocal);
    if (ModoSistemaLocal == 0 && s->cid != -1 && poGestorLlamada)
        poGestorLlamada->FinEncaminaLlamada(iIdUsuarioSip, s->cid);
    if (psConfig && s->cid != -1 && s->idsesion != -1 && s->iReposo != -1 && DameIdentidad().iTipoIf == TIPOIF_RADIO) {
        Eventos().EvtFinSesionRadio(DameIdentidad().acNombre, s->acDestino, s->iReposo);
        if (s->iIndiceColateral >= 0 && s->iIndiceColateral / 4 < 3)
            poColateral->aiCambioEmplazamiento[s->iIndiceColateral / 4] = 1;
        poColateral->iCambioColateral = 1;
    }
    // A guard left armed would fire for the next owner of the record.
    CancelaTemp(&s->iTempAux);
    CancelaTemp(&s->iTempSesion);
    CancelaTemp(&s->iTempLlamada);
    oSesiones.Vacia(s);
}



// ---- Guards ------------------------------------------------------------------------------------

int CSupervisorRecurso::ArmaGuarda(int32_t iTicks, int iCodigo, int32_t iId) {
    const int r = poTemporizador ? poTemporizador->Arma(iTicks, sVenceGuarda, reinterpret_cast<uintptr_t>(this),
                                                        static_cast<uintptr_t>(iCodigo),
                                                        static_cast<uintptr_t>(static_cast<intptr_t>(iId)))
                                 : -1;
    if (r < 0) NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: sin temporizador para la guarda %d de %d", iMiNumRecurso, iCodigo, iId);
    return r;
}

void CSupervisorRecurso::CancelaTemp(int32_t* piSlot) {
    const int32_t slot = __atomic_exchange_n(piSlot, -1, __ATOMIC_ACQ_REL);
    if (slot >= 0 && poTemporizador) poTemporizador->Cancela(slot);
}

// The slot of a fired guard is free already: its word is cleared before anything else, so no
// later cancel reaches the timer of whoever takes the slot next.
uintptr_t CSupervisorRecurso::sVenceGuarda(uintptr_t a1, uintptr_t a2, uintptr_t a3) {
    CSupervisorRecurso* p = reinterpret_cast<CSupervisorRecurso*>(a1);
    const int codigo = static_cast<int>(a2);
    const int32_t id = static_cast<int32_t>(static_cast<intptr_t>(a3));
    switch (codigo) {
    case GUARDA_SESION: {
        if (InfoSesion* s = p->oSesiones.BuscaPorIdSesion(id)) s->iTempSesion = -1;
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Vence temp espera diagnostico", p->iMiNumRecurso);
        p->EvtDiagnostico(GUARDA_SESION, id, 204);
        break;
    }
    case GUARDA_LLAMADA: {
        if (InfoSesion* s = p->oSesiones.BuscaPorIdLlamada(id)) s->iTempLlamada = -1;
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: Vence temp espera diagnostico", p->iMiNumRecurso);
        p->EvtDiagnostico(GUARDA_LLAMADA, id, 204);
        break;
    }
    case GUARDA_PREEMPTION:
        if (InfoSesion* s = p->oSesiones.BuscaPreemption()) s->iTempSesion = -1;
        p->VenceTemp_Preemption();
        break;
    case GUARDA_REFER:
        p->VenceRefer(id);
        break;
    default:
        p->VenceTemp_Respuesta(codigo, id);
        break;
    }
    return 0;
}

void CSupervisorRecurso::VenceTemp_Respuesta(int iCodigo, int cid) {
    switch (iCodigo) {
    case CColateral::GUARDA_OPTIONS: poColateral->VenceOptions(); return;
    case CColateral::GUARDA_BUCLE: poColateral->VenceBucle(); return;
    default: VenceRespuestaSip(iCodigo, cid); return;
    }
}

// ---- Maintenance operations --------------------------------------------------------------------

int CSupervisorRecurso::EnviaCodigoDebug(uint8_t ucSub, uint8_t ucValor) {
    // First byte the sub-command, second its value, in memory order.
    uint8_t b[4] = {ucSub, ucValor, 0, 0};
    int32_t palabra;
    std::memcpy(&palabra, b, sizeof palabra);
    std::shared_ptr<Cola> canal = CanalHijo();
    return canal ? canal->EnviaDebug(palabra) : -1;
}

void CSupervisorRecurso::TomaPidDsp(int iPid) {
    if (iEstado != ESTADO_EN_MARCHA) return;
    std::shared_ptr<Cola> canal = CanalHijo();
    if (!canal)
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]:poCanalHijo=NULL en CSupervisorRecurso::TomaPidDsp()", iMiNumRecurso);
    else if (canal->EnviaCreaCanalHermano(iPid, 4) < 0)
        NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]:Error asignando PID de servicios DSP", iMiNumRecurso);
    else
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Asignado PID de servicios DSP", iMiNumRecurso);
}

void CSupervisorRecurso::TomaNivelConsola(int iNivel) {
    if (iEstado != ESTADO_EN_MARCHA) return;
    std::shared_ptr<Cola> canal = CanalHijo();
    if (!canal)
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]: poCanalHijo=NULL en CSupervisorRecurso::TomaNivelConsola(%i)",
                  iMiNumRecurso, iNivel);
    else if (canal->EnviaNivelConsola(iNivel) < 0)
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Error asignando nivel de consola (%i)", iMiNumRecurso, iNivel);
    else
        NLOG::Log(NLOG::INFO, "CSUPEREC[%d]:Asignado nivel de consola a recurso (%i)", iMiNumRecurso, iNivel);
}

void CSupervisorRecurso::TomaCalidadNtp(uint32_t uiCalidad) {
    uiCalidadNtp = uiCalidad;
    if (psConfig && DameIdentidad().iTipoIf == TIPOIF_RADIO) EnviaCodigoDebug(17, static_cast<uint8_t>(uiCalidad & 0xFF));
}

void CSupervisorRecurso::PasoaReserva() {
    iModoReserva = 1;
    for (auto& s : oSesiones) {
        if (s.cid == -1 || s.cid == -2) continue;
        LiberaPttIdSesion(&s);
        CierraSesionCompleta(&s, 229);
    }
    EnviaCodigoDebug(8, 1);
}

void CSupervisorRecurso::PasoaPrincipal() {
    iModoReserva = 0;
    NLOG::Log(NLOG::INFO, "PasoaPrincipal");
    EnviaCodigoDebug(8, 0);
}

void CSupervisorRecurso::RefrescaEstado() {
    EnviaCodigoDebug(16, 1);
    int tipoIf = -1, tipoRadio = -1;
    if (psConfig && gpoCfg) {
        cfgCerrojo c(&gpoCfg->tMutex);
        tipoIf = psConfig->iTipoIf;
        if (tipoIf == TIPOIF_RADIO) tipoRadio = psConfig->uParam.radio.iTipoRadio;
    }
    if (poColateral == nullptr) return;
    if (tipoIf == TIPOIF_RADIO && tipoRadio < 4)
        poColateral->MarcaCambioEmplazamiento(17);
    else
        poColateral->iCambioColateral = 1;
}

void CSupervisorRecurso::SupervisaSlic() {
    if (iPidHijo >= 0 || iMiNumRecurso < 0) return;
    int p = hwDimePresenciaModulo(iMiNumRecurso / 4);
    if (p < 0) return;
    bool cambio = p != iPresenciaModulo;
    iPresenciaModulo = p;
    if (p == 0) return;
    if (cambio || hwCompruebaModoSlic(iMiNumRecurso) != 0) {
        if (hwIniciaSlic(iMiNumRecurso, 2, 0, 0, 0) < 0)
            NLOG::Log(NLOG::ERROR, "CSUPEREC[%d]: Error hwIniciaSlic(%d)", iMiNumRecurso, iMiNumRecurso);
        iSlicOk = 0;
    } else {
        iSlicOk = 1;
    }
}

// The slot identity matters only to QSIG lines, whose registration it updates once the board
// identifies itself (identity field 2).
void CSupervisorRecurso::InfoHwSlot() {
    int slot, tipoIf;
    {
        cfgCerrojo c(&gpoCfg->tMutex);
        slot = psConfig->iSlot;
        tipoIf = psConfig->iTipoIf;
    }
    auto idhw = [](uint32_t w) { return static_cast<int>((w >> 18) & 7); };
    if (tipoIf != TIPOIF_ATSQSIG || slot < 0 || idhw(uiInfoSlot) == 2) return;
    uint32_t w = 0;
    if (hwDimeIdHwSlot(slot, &w) < 0) return;
    int sw = static_cast<int>(w >> 28), revhw = static_cast<int>((w >> 16) & 3), revfw = static_cast<int>((w >> 21) & 0x7F);
    NLOG::Log(NLOG::INFO, "CSUPEREC-1[%d]: slot %i SW=%d  IDHW=%d  REVHW=%d  REVFW=%d", iMiNumRecurso, slot, sw, idhw(w),
              revhw, revfw);
    if (w == uiInfoSlot) return;
    uiInfoSlot = w;
    if (idhw(w) != 2) return;
    NLOG::Log(NLOG::INFO, "CSUPEREC-2[%d]:  SW=%d  IDHW=%d  REVHW=%d  REVFW=%d", iMiNumRecurso, sw, idhw(w), revhw, revfw);
    if (iIdUsuarioSip < 0) return;
    Identidad id = DameIdentidad();
    poMiPasaGus->ActualizaRecurso(this, id.acNombre, tipoIf, static_cast<int>((w >> 28) & 1));
}


int CSupervisorRecurso::PintaInfo(char* szBuf, int iTam) {
    if (szBuf == nullptr || iTam <= 0 || psConfig == nullptr) return 0;
    szBuf[0] = '\0';
    int total = 0;
    char tmp[512];
    // Appends one line; false (logged) when it overflows the scratch line or the caller's buffer.
    auto anade = [&](int estimado, const char* formato, auto... v) {
        if (estimado >= static_cast<int>(sizeof tmp)) {
            NLOG::Log(NLOG::ERROR, "CSUPEREC: PintaInfo Desborda tmp %d", estimado);
            return false;
        }
        int n = std::snprintf(tmp, sizeof tmp, formato, v...);
        if (n < 0 || n >= static_cast<int>(sizeof tmp)) {
            NLOG::Log(NLOG::ERROR, "CSUPEREC: PintaInfo Desborda tmp %d", n);
            return false;
        }
        if (total + n >= iTam) {
            NLOG::Log(NLOG::ERROR, "CSUPEREC: PintaInfo Desborda buff %d", total + n);
            return false;
        }
        std::memcpy(szBuf + total, tmp, static_cast<size_t>(n) + 1);
        total += n;
        return true;
    };
    Identidad id = DameIdentidad();
    const char* nombre = id.acNombre;
    const char* fid = id.acFid;
    int tipoIf = id.iTipoIf;
    if (!anade(0, "    Nombre=%s\n", nombre) || !anade(0, "    FID=%s\n", fid) ||
        !anade(0, "%s", "    modo funcionamiento: NORMAL\n"))
        return total;
    if (tipoIf != TIPOIF_RADIO) {
        if (!anade(0, "   Estado Colateral = %i\n", poColateral->iEstadoColateral)) return total;
    } else {
        char lista[LON_LISTA_PTT_ID];
        if (DameListaPttId(lista, sizeof lista) < 0) lista[0] = '\0';
        if (!anade(static_cast<int>(std::strlen(lista)) + 20, "    Lista PTT-IDs:\n%s\n", lista)) return total;
    }
    for (const auto& ses : oSesiones) {
        if (ses.idsesion == -1) continue;
        int est = std::snprintf(nullptr, 0, "  ids=%d  ", ses.idsesion) + 55 + static_cast<int>(std::strlen(ses.Origen)) +
                  static_cast<int>(std::strlen(ses.acDestino)) + 4 + 4 + 1;
        if (!anade(est, "  ids=%d  Origen= %s    Destino= %s    Plocal= %d  PRemoto= %d  Estado= %s\n", ses.idsesion,
                   ses.Origen, ses.acDestino, ses.iPuertoLocal, ses.iPuertoRemoto, ses.iReposo == 1 ? "I" : "A"))
            break;
    }
    return total;
}

void CSupervisorRecurso::PintaInfoConsola() {
    if (psConfig == nullptr) return;
    Identidad id = DameIdentidad();
    const char* nombre = id.acNombre;
    const char* fid = id.acFid;
    int tipoIf = id.iTipoIf;
    TcpCons::Printf("    Nombre=%s\n", nombre);
    TcpCons::Printf("    FID=%s\n", fid);
    TcpCons::Printf("    modo funcionamiento: NORMAL\n");
    if (poOpcionesRadio) {
        TcpCons::Printf("MaxSesiones:%i / ", poOpcionesRadio->DameMaxSessions());
        TcpCons::Printf(poOpcionesRadio->DamePreemption() ? "Preemption  / " : "NoPreemption  / ");
        TcpCons::Printf(poOpcionesRadio->DamePermissionsCheck() ? "PermissionCheck\n" : "NoPermissionCheck\n");
    }
    if (ModoSistemaLocal == 0) {
        cfgCerrojo c(&gpoCfg->tMutex);
        int n = psConfig->size_aListaEnlacesExternos;
        if (n < 0) n = 0;
        if (n > CFG_MAX_ENLACES_EXTERNOS) n = CFG_MAX_ENLACES_EXTERNOS;
        TcpCons::Printf("---------------------------\nLISTA DE ENLACES EXTERNOS = %i\n\t", n);
        for (int i = 0; i < n; ++i)
            TcpCons::Printf("\t%.*s\n", 64, psConfig->aListaEnlacesExternos[i]);
    }
    TcpCons::Printf("\n");
    if (tipoIf != TIPOIF_RADIO) {
        TcpCons::Printf("\nEstado Colateral = %i\n", poColateral->iEstadoColateral);
        TcpCons::Printf("---------------------------\n");
    } else {
        char lista[LON_LISTA_PTT_ID];
        if (DameListaPttId(lista, sizeof lista) < 0) lista[0] = '\0';
        TcpCons::Printf("---------------------------\nTotal de suscripciones a WG67 KEY-IN event package: %d\n",
                        poMiPasaGus ? poMiPasaGus->NumSuscriptores(iIdUsuarioSip) : 0);
        TcpCons::Printf("Lista PTT-IDs:\n%s\n---------------------------\n", lista);
    }
    TcpCons::Printf("---------------------------\nInfo local de sesiones:\n");
    for (const auto& ses : oSesiones)
        if (ses.idsesion != -1)
            TcpCons::Printf("  idsesion=%d  Origen= %s     Destino= %s\n", ses.idsesion, ses.Origen, ses.acDestino);
    TcpCons::Printf("---------------------------\n");
    if (std::shared_ptr<Cola> canal = CanalHijo()) canal->EnviaPintaEstadisticas();
}

void CSupervisorRecurso::SesionRadioActiva(const char* szNombre, const char* szUri, int iReposo) {
    Eventos().EvtSesionRadioActiva(szNombre, szUri, iReposo);
}

CSupervisorRecurso::CEventos& CSupervisorRecurso::Sumidero() { return Eventos(); }


void CSupervisorRecurso::FijaPeriodoOptions(uint32_t us) {
    cfgCerrojo l(&tMutexGlobal);
    poContadores->contadores[C_OPTIONS] = us;
}

void CSupervisorRecurso::TomaModoRadio(int iModo) {
    if (poColateral) poColateral->TomaModoRadio(iModo);
}

void CSupervisorRecurso::ActivaBucleRadio(int iTipo, int iEmplazamiento) {
    if (poColateral) poColateral->ActivaBucleRadio(iTipo, iEmplazamiento);
}

int CSupervisorRecurso::FijaEquipoActivo(int iEmplazamiento, int iSentido, int iEquipo) {
    if (poColateral) return poColateral->FijaEquipoActivoEmplazamiento(iEmplazamiento, iSentido, iEquipo);
    // Not started: no target of it is configured.
    const bool valida = iEmplazamiento >= 0 && iEmplazamiento < 3 && iSentido >= 0 && iSentido < 2 && (iEquipo == 0 || iEquipo == 1);
    return valida ? -2 : -1;
}

std::shared_ptr<Cola> CSupervisorRecurso::CanalHijo() {
    cfgCerrojo l(&tMutexGlobal);
    return poCanalHijo;
}


