// Gateway configuration: the shared-memory image layout, the live structure built on it,
// and its defaults, setters and plan look-ups.
//
// The image is 871,920 bytes, integers in native order. Every record below is laid out at the
// image's own offsets; the static_asserts at the end pin them down. Texts may arrive without a
// terminator: read them bounded by their field's width.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

// Process-wide system mode: iCfgModoSistema when 0 or 1, else 0. Set with the image taken over,
// read by every thread.
extern std::atomic<int> ModoSistemaLocal;

constexpr int CFG_NUM_RECURSOS = 16;
constexpr std::size_t CFG_TAM_IMAGEN = 871920;
constexpr std::size_t CFG_TAM_RECURSO = 5244;
constexpr std::size_t CFG_TAM_PARTE_TIPO = 1444;
constexpr std::size_t CFG_OFS_RECURSOS = 744;

// Interface types (iTipoIf); 15 and 16 appear only in images.
enum { TIPOIF_RADIO = 0, TIPOIF_LCEN, TIPOIF_BC, TIPOIF_BL, TIPOIF_AB, TIPOIF_ATSR2, TIPOIF_ATSN5,
       TIPOIF_ATSQSIG, TIPOIF_2BD, TIPOIF_30BD, TIPOIF_IO, TIPOIF_DATOS, TIPOIF_RRC, TIPOIF_EYM_PP,
       TIPOIF_EYM_MARC, TIPOIF_BL_EYM_AUTO, TIPOIF_BL_EYM };

// {from, to} pair of numbers.
struct cfgParRango {
    int32_t iDesde;
    int32_t iHasta;
};

// A 6-digit text range without terminators; an entry whose first byte is 0 is unused.
struct cfgRangoTexto {
    char desde[6];
    char hasta[6];
};

// ---- Resource record -------------------------------------------------------------------------

struct cfgEmplazamiento {
    char UriTxA[81];
    char UriTxB[81];
    char ActivoTx;
    char UriRxA[81];
    char UriRxB[81];
    char ActivoRx;
};

struct cfgParamRadio {
    int32_t iTipoRadio;  // 4 RemTxRx, 5 RemTx, 6 RemRx
    char cTipoPtt;
    char cTipoSq;
    uint8_t iEyM;
    uint8_t ucRelleno1;
    int32_t iUmbralDetSq;
    int32_t iNivelTonoPtt;
    int32_t iMetodoBss;
    int32_t iNtz;
    int32_t TiempoMaxPtt;
    int32_t iSpvPortadoraTx;
    int32_t iSpvModuladoraTx;
    int32_t iModoConfPtt;
    int32_t iPeriodoRtpSqBss;
    int32_t iNumPaquetesSqOff;
    int32_t iPttTimeOut;
    int32_t iNumFlujosMezcla;
    int32_t KeepAlivePeriod;
    int32_t KeepAliveMultiplier;
    int32_t iSessionPrio;
    int32_t iPttPrio;
    int32_t iPrecisionAudio;
    int32_t iTiempoPttBloqueado;
    int32_t iRetrasoPttOff;
    int32_t iRetrasoSqOff;
    int32_t iTiempo_VentanaRx;
    int32_t iClimaxDelay;
    int32_t iTmRetardoFijo;
    int32_t iReservado;
    int32_t iBssRtp;
    char cTipoConmutacion;  // 'A' or 'M'
    uint8_t aucRelleno2[3];
    int32_t iEvtPTT;
    int32_t iTjbd;
    int32_t iTGRSid;
    cfgEmplazamiento asEmplazamiento[4];
    uint8_t aucLibre[16];
};

struct cfgParamLcen {
    int32_t iUmbralRxTonoLcen, iNivelTxTonoLcen, iPeriodoRefrescoEstado, iTimeoutEstado, iLongRafagas;
    int32_t iT1, iT1Max, iT2, iT2Max, iT3, iT4, iT4Max, iT5, iT5Max, iT6, iT6Max;
    int32_t iT8, iT8Max, iT9, iT9Max, iT10, iT10Max, iT11, iT11Max, iT12, iT_Release;
};

struct cfgParamTlf {
    int32_t iPatronRing, iPeriodoRing, iUmbralAltoPeriodoRing, iUmbralBajoPeriodoRing, iVRing, iVBat;
    int32_t eTypeEyM, iModoEyM, iLadoEyM, iDetectVox, iUmbralVox, iTmInactividad;
    char szIdRed[33];
};

constexpr int CFG_MAX_RANGOS_OPERADOR = 16;
constexpr int CFG_MAX_RANGOS_PRIVILEGIADOS = 8;
constexpr int CFG_MAX_RANGOS_DIRECTOS_OPE = 16;
// What is left of the type-specific part after its fixed fields.
constexpr int CFG_MAX_RANGOS_DIRECTOS_PRIV = 90;

struct cfgParamR2N5 {
    int32_t iLado;  // 0 side A, 1 side B
    int32_t aiTiempos[50];
    int32_t iT_Release;
    int32_t iT_Int_Warning;
    char ntest_local[6];
    char ntest_remoto[6];
    cfgRangoTexto asRangosDst[4];
    cfgRangoTexto asRangosOrg[4];
    char szIdTroncal[33];
    char szIdRed[33];
    uint8_t aucRelleno[2];
    int32_t iNumRangosOperador;
    int32_t iNumRangosPrivilegiados;
    cfgParRango asMisRangosOperador[CFG_MAX_RANGOS_OPERADOR];
    cfgParRango asMisRangosPrivilegiados[CFG_MAX_RANGOS_PRIVILEGIADOS];
    int32_t iNumRangosDirectosOpe;
    int32_t iNumRangosDirectosPriv;
    cfgParRango asRangosDirectosOpe[CFG_MAX_RANGOS_DIRECTOS_OPE];
    cfgParRango asRangosDirectosPriv[CFG_MAX_RANGOS_DIRECTOS_PRIV];
};

struct cfgParamQsig {
    int32_t aiParam[2];
};

union cfgParamTipo {
    cfgParamRadio radio;
    cfgParamLcen lcen;
    cfgParamTlf tlf;
    cfgParamR2N5 r2n5;
    cfgParamQsig qsig;
    uint8_t aucBytes[CFG_TAM_PARTE_TIPO];
};

struct cfgColateral {
    int32_t iRespuestaAutomatica;
    char szUriRemota[84];
    int32_t isuperv_options;
    int32_t itm_superv_options;
    int32_t iColateralSCV;
};

constexpr int CFG_MAX_ENLACES_EXTERNOS = 32;

// The 5,244-byte record of one resource; also the payload a resource process receives.
struct cfgConfigRecurso {
    char nombre[68];
    int32_t iTipo;
    int32_t iTipoIf;
    int32_t iSlot;
    int32_t iDispositivo;
    char szDestino[68];
    int32_t iCfgModoSistema;
    int32_t iFlgUsarDiffServ;
    int32_t iSnmpPuertoRemoto;
    int32_t iRecPuertoRemoto;
    int32_t iRecPuertoBase;
    int32_t iEnableGI;
    char szUriLocal[84];
    int32_t iLLamadaAutomatica;
    int32_t iRestriccion;
    char listablanca[8][81];
    char listanegra[8][81];
    int32_t iEnableRegistro;
    char szClave[12];
    cfgColateral sColateral;
    int32_t size_aListaEnlacesExternos;
    char aListaEnlacesExternos[CFG_MAX_ENLACES_EXTERNOS][65];
    // Audio block; for data resources (iTipo 4-6) the first word is the data rate.
    int32_t iSelGananciaAgcTx;
    int32_t iGananciaAgcTx;
    int32_t iSelGananciaAgcRx;
    int32_t iGananciaAgcRx;
    int32_t iHaySupresionSilencio;
    int32_t iTamanoRtp;
    int32_t iCodecPreferido;
    int32_t iBufferJitterMin;
    int32_t iBufferJitterMax;
    cfgParamTipo uParam;

    cfgConfigRecurso();  // record defaults

    void PonTipo(int iValor);
    void PonTipoIf(int iValor);
    void PonSlot(int iValor);
    void PonDispositivo(int iValor);
    void PonTipoPtt(char cValor);
    void PonTipoSq(char cValor);
    void PonModoConfPtt(int iValor);
    void PonNumFlujosMezcla(int iValor);
    int32_t* BloqueAudio() { return &iSelGananciaAgcTx; }
    const int32_t* BloqueAudio() const { return &iSelGananciaAgcTx; }
};

// Common defaults of a record; cfgDefectoRecurso adds the audio and radio defaults.
void cfgDefectoGeneralRecurso(cfgConfigRecurso* pRec);
void cfgDefectoRecurso(cfgConfigRecurso* pRec);
void cfgDefectoAudio(cfgConfigRecurso* pRec);
// Writes the defaults of the type-specific part of interface type iTipoIf (cleared first for the
// types that have a layout of their own; 10-12 leave it as it is).
void cfgDefectoParteTipo(cfgConfigRecurso* pRec, int iTipoIf);

// ---- Plans -----------------------------------------------------------------------------------

struct Abonado {
    uint32_t iPrefijo;
    char szNumero[20];
};

struct Rango {
    char desde[6];
    char hasta[6];
    Abonado abonado;
};

constexpr uint8_t CFG_FIN_RUTAS = 255;
struct Ruta {
    uint8_t tipo;  // 255 ends the list; 0 is searched for trunks
    char troncales[8][64];
};

constexpr uint8_t CFG_CENTRAL_AJENA = 0;
constexpr uint8_t CFG_CENTRAL_PROPIA = 1;
constexpr uint8_t CFG_FIN_PLAN_ATS = 2;
struct Central {
    uint8_t centralpropia;
    uint8_t throwswitching;
    char no_test[6];
    Rango asRangosOpe[16];
    Rango asRangosPriv[8];
    Ruta asRutas[32];
};

struct DireccionIp {
    char idhost[64];
    char dirip1[64];
    char dirip2[64];
    uint8_t tipo;
};

struct Miembro {
    uint8_t tipo;
    char id[64];
};

struct Troncal {
    char idtroncal[64];
    char no_test[6];
    Miembro miembros[8];
};

constexpr int32_t CFG_FIN_PLAN_REDES = 255;
struct Red {
    char idred[64];
    int32_t prefijo;
    Miembro miembros[128];
};

struct AsignacionUsuario {
    char idusuario[64];
    char idhost[64];
};

struct AsignacionRecurso {
    char idrecurso[64];
    char idhost[64];
};

constexpr uint32_t CFG_FIN_ABONADOS = 255;
struct DireccionSip {
    char idusuario[64];
    Abonado abonados[32];
};

struct cfgLocalizador {
    int32_t iSlot;
    int32_t iDispositivo;
};

constexpr int CFG_NUM_CENTRALES = 8;
constexpr int CFG_NUM_DIRECCIONES_IP = 320;
constexpr int CFG_NUM_TRONCALES = 128;
constexpr int CFG_NUM_REDES = 16;
constexpr int CFG_NUM_ASIGNACIONES_USUARIO = 256;
constexpr int CFG_NUM_ASIGNACIONES_RECURSO = 1024;
constexpr int CFG_NUM_DIRECCIONES_SIP = 256;

// 1 when one of the route's 8 trunk identifiers is the identifier (same length, 64 characters).
int cfgRutaContiene(const Ruta* pRuta, const char* pId);
// 1 when a route of tipo 0 before the end of the routes contains the trunk identifier.
int cfgCentralTieneTroncal(const Central* pCentral, const char* pIdTroncal);
// 1 when one of the trunk's members (up to the first empty one) is the identifier.
int cfgTroncalContiene(const Troncal* pTroncal, const char* pId);
// The 6-digit texts of a range as numbers.
void cfgLeeRango(const Rango* pRango, cfgParRango* pPar);
// A 6-character digit field (no terminator) as a decimal number.
int cfgLeeNumero6(const char* pTexto);

// ---- The image -------------------------------------------------------------------------------

struct cfgImagenPasarela {
    uint8_t acRanuraMutex[24];  // the image's mutex slot; never read nor copied
    char acIdSistema[51];
    char szNombre[65];
    char szDirCPU0[65];
    char szDirCPU1[65];
    char szDirVirtual[65];
    char szDirSrvConfig[65];
    int32_t iCfgModoSistema;
    int32_t iNivelConsola;
    int32_t iPuertoConsola;
    int32_t iNivelIncidencias;
    int32_t iDual;
    char acIdConfig[168];
    int32_t iModoSincronizacion;
    int32_t iSipPuertoLocal;
    int32_t iSipPeriodoSuperv;
    int32_t iSnmpPuertoRemoto;
    int32_t iRecPuertoRemoto;
    int32_t iNumRecursos;
    uint8_t acTipoSlot[4];
    cfgLocalizador LocalizadorRecurso[CFG_NUM_RECURSOS];
    cfgConfigRecurso asRecursos[CFG_NUM_RECURSOS];  // indexed by position = slot x 4 + device
    char szDirSipRegistrar[3][64];
    char szDirSipProxy[3][64];
    char szDirSrvNtp[3][64];
    char acGrupoMulticast[68];
    uint32_t uiPuertoMulticast;
    Central asPlanAts[CFG_NUM_CENTRALES];
    DireccionIp asDireccionamientoIp[CFG_NUM_DIRECCIONES_IP];
    Troncal asTroncales[CFG_NUM_TRONCALES];
    Red asRedes[CFG_NUM_REDES];
    AsignacionUsuario asAsignacionUsuarios[CFG_NUM_ASIGNACIONES_USUARIO];
    AsignacionRecurso asAsignacionRecursos[CFG_NUM_ASIGNACIONES_RECURSO];
    DireccionSip asDireccionamientoSip[CFG_NUM_DIRECCIONES_SIP];
};

// Position of channel n (entry n of LocalizadorRecurso), or -1 when its slot or device is out of
// 0-3. Logs the rejected entry.
int cfgPosicionCanal(const cfgImagenPasarela* pImg, int iCanal);
// iNumRecursos bounded to 0-16.
int cfgNumCanales(const cfgImagenPasarela* pImg);
// Per position: 1 when one of the valid channels designates it.
void cfgMarcaPosiciones(const cfgImagenPasarela* pImg, uint8_t aucFlg[CFG_NUM_RECURSOS]);
// Record normalisation of an image taken over (CopiaImagen step 3), with the given system mode.
void cfgNormalizaImagen(cfgImagenPasarela* pImg, int iModoSistemaLocal);
// iCfgModoSistema reduced to 0 or 1.
int cfgModoSistemaDe(const cfgImagenPasarela* pImg);

// ---- The live structure ----------------------------------------------------------------------

// The image followed by the real mutex (a pthread mutex does not fit in the image's 24-byte slot).
// tMutex is recursive: a holder may call the plan look-ups, which lock it themselves.
class cfgConfigPasarela : public cfgImagenPasarela {
public:
    pthread_mutex_t tMutex;  // guards the whole structure when shared between threads

    cfgConfigPasarela();
    ~cfgConfigPasarela();
    cfgConfigPasarela(const cfgConfigPasarela&) = delete;
    cfgConfigPasarela& operator=(const cfgConfigPasarela&) = delete;

    void PonDefecto(int soloIds);
    // Takes an image (CFG_TAM_IMAGEN bytes) over and normalises it; the caller holds tMutex.
    void CopiaImagen(const void* pImagen);
    void CopiaDirVirtual(char* pDestino) const;  // at most 64 characters and a NUL
    void PonNombre(const char* pNombre);
    void PonModoSincronizacion(int iModo);
    int BuscaRecurso(const char* pNombre) const;

    // Plan look-ups, each under tMutex. Test numbers come out as 6 digits and a NUL.
    int cfgBuscaNoTestTroncal(const char* pIdMiembro, char* pNoTestPropio, char* pNoTestTroncal);
    void cfgRangosCentralTroncal(const char* pIdMiembro, cfgParRango* pOpe, int* piNumOpe,
                                 cfgParRango* pPriv, int* piNumPriv);
    void cfgRangosCentralPropia(cfgParRango* pOpe, int* piNumOpe, cfgParRango* pPriv, int* piNumPriv);
};

// Holds a pthread mutex (a structure's tMutex, for one) for the life of a scope.
class cfgCerrojo {
public:
    explicit cfgCerrojo(pthread_mutex_t* pMutex) : pMutex_(pMutex) { pthread_mutex_lock(pMutex_); }
    ~cfgCerrojo() { pthread_mutex_unlock(pMutex_); }
    cfgCerrojo(const cfgCerrojo&) = delete;
    cfgCerrojo& operator=(const cfgCerrojo&) = delete;

private:
    pthread_mutex_t* pMutex_;
};

// ---- Layout ----------------------------------------------------------------------------------

static_assert(sizeof(cfgParRango) == 8);
static_assert(sizeof(cfgRangoTexto) == 12);
static_assert(sizeof(cfgEmplazamiento) == 326);
static_assert(offsetof(cfgEmplazamiento, ActivoTx) == 162 && offsetof(cfgEmplazamiento, UriRxA) == 163 &&
              offsetof(cfgEmplazamiento, UriRxB) == 244 && offsetof(cfgEmplazamiento, ActivoRx) == 325);
static_assert(offsetof(cfgParamRadio, cTipoPtt) == 4 && offsetof(cfgParamRadio, iEyM) == 6);
static_assert(offsetof(cfgParamRadio, iUmbralDetSq) == 8 && offsetof(cfgParamRadio, iPttTimeOut) == 48);
static_assert(offsetof(cfgParamRadio, iTiempo_VentanaRx) == 88 && offsetof(cfgParamRadio, iBssRtp) == 104);
static_assert(offsetof(cfgParamRadio, cTipoConmutacion) == 108 && offsetof(cfgParamRadio, iEvtPTT) == 112);
static_assert(offsetof(cfgParamRadio, iTGRSid) == 120 && offsetof(cfgParamRadio, asEmplazamiento) == 124);
static_assert(offsetof(cfgParamRadio, aucLibre) == 1428 && sizeof(cfgParamRadio) == CFG_TAM_PARTE_TIPO);
static_assert(sizeof(cfgParamLcen) == 104 && offsetof(cfgParamLcen, iT8) == 64);
static_assert(offsetof(cfgParamTlf, szIdRed) == 48);
static_assert(offsetof(cfgParamR2N5, iT_Release) == 204 && offsetof(cfgParamR2N5, ntest_local) == 212);
static_assert(offsetof(cfgParamR2N5, ntest_remoto) == 218 && offsetof(cfgParamR2N5, asRangosDst) == 224);
static_assert(offsetof(cfgParamR2N5, asRangosOrg) == 272 && offsetof(cfgParamR2N5, szIdTroncal) == 320);
static_assert(offsetof(cfgParamR2N5, szIdRed) == 353 && offsetof(cfgParamR2N5, iNumRangosOperador) == 388);
static_assert(offsetof(cfgParamR2N5, asMisRangosOperador) == 396);
static_assert(offsetof(cfgParamR2N5, asMisRangosPrivilegiados) == 524);
static_assert(offsetof(cfgParamR2N5, iNumRangosDirectosOpe) == 588);
static_assert(offsetof(cfgParamR2N5, asRangosDirectosOpe) == 596);
static_assert(offsetof(cfgParamR2N5, asRangosDirectosPriv) == 724);
static_assert(sizeof(cfgParamR2N5) == CFG_TAM_PARTE_TIPO && sizeof(cfgParamTipo) == CFG_TAM_PARTE_TIPO);
static_assert(sizeof(cfgColateral) == 100);
static_assert(offsetof(cfgConfigRecurso, iTipo) == 68 && offsetof(cfgConfigRecurso, iSlot) == 76);
static_assert(offsetof(cfgConfigRecurso, szDestino) == 84 && offsetof(cfgConfigRecurso, iCfgModoSistema) == 152);
static_assert(offsetof(cfgConfigRecurso, iEnableGI) == 172 && offsetof(cfgConfigRecurso, szUriLocal) == 176);
static_assert(offsetof(cfgConfigRecurso, iLLamadaAutomatica) == 260);
static_assert(offsetof(cfgConfigRecurso, listablanca) == 268 && offsetof(cfgConfigRecurso, listanegra) == 916);
static_assert(offsetof(cfgConfigRecurso, iEnableRegistro) == 1564 && offsetof(cfgConfigRecurso, szClave) == 1568);
static_assert(offsetof(cfgConfigRecurso, sColateral) == 1580);
static_assert(offsetof(cfgConfigRecurso, sColateral) + offsetof(cfgColateral, szUriRemota) == 1584);
static_assert(offsetof(cfgConfigRecurso, sColateral) + offsetof(cfgColateral, iColateralSCV) == 1676);
static_assert(offsetof(cfgConfigRecurso, size_aListaEnlacesExternos) == 1680);
static_assert(offsetof(cfgConfigRecurso, aListaEnlacesExternos) == 1684);
static_assert(offsetof(cfgConfigRecurso, iSelGananciaAgcTx) == 3764);
static_assert(offsetof(cfgConfigRecurso, iBufferJitterMax) == 3796);
static_assert(offsetof(cfgConfigRecurso, uParam) == 3800 && sizeof(cfgConfigRecurso) == CFG_TAM_RECURSO);
static_assert(sizeof(Abonado) == 24 && sizeof(Rango) == 36 && offsetof(Rango, abonado) == 12);
static_assert(sizeof(Ruta) == 513);
static_assert(offsetof(Central, asRangosOpe) == 8 && offsetof(Central, asRangosPriv) == 584);
static_assert(offsetof(Central, asRutas) == 872 && sizeof(Central) == 17288);
static_assert(sizeof(DireccionIp) == 193 && offsetof(DireccionIp, tipo) == 192);
static_assert(sizeof(Miembro) == 65 && sizeof(Troncal) == 590 && offsetof(Troncal, miembros) == 70);
static_assert(offsetof(Red, prefijo) == 64 && offsetof(Red, miembros) == 68 && sizeof(Red) == 8388);
static_assert(sizeof(AsignacionUsuario) == 128 && sizeof(AsignacionRecurso) == 128);
static_assert(sizeof(DireccionSip) == 832);
static_assert(offsetof(cfgImagenPasarela, acIdSistema) == 24 && offsetof(cfgImagenPasarela, szNombre) == 75);
static_assert(offsetof(cfgImagenPasarela, szDirCPU0) == 140 && offsetof(cfgImagenPasarela, szDirCPU1) == 205);
static_assert(offsetof(cfgImagenPasarela, szDirVirtual) == 270);
static_assert(offsetof(cfgImagenPasarela, szDirSrvConfig) == 335);
static_assert(offsetof(cfgImagenPasarela, iCfgModoSistema) == 400);
static_assert(offsetof(cfgImagenPasarela, iDual) == 416 && offsetof(cfgImagenPasarela, acIdConfig) == 420);
static_assert(offsetof(cfgImagenPasarela, iModoSincronizacion) == 588);
static_assert(offsetof(cfgImagenPasarela, iRecPuertoRemoto) == 604);
static_assert(offsetof(cfgImagenPasarela, iNumRecursos) == 608 && offsetof(cfgImagenPasarela, acTipoSlot) == 612);
static_assert(offsetof(cfgImagenPasarela, LocalizadorRecurso) == 616);
static_assert(offsetof(cfgImagenPasarela, asRecursos) == CFG_OFS_RECURSOS);
static_assert(offsetof(cfgImagenPasarela, szDirSipRegistrar) == 84648);
static_assert(offsetof(cfgImagenPasarela, szDirSipProxy) == 84840);
static_assert(offsetof(cfgImagenPasarela, szDirSrvNtp) == 85032);
static_assert(offsetof(cfgImagenPasarela, acGrupoMulticast) == 85224);
static_assert(offsetof(cfgImagenPasarela, uiPuertoMulticast) == 85292);
static_assert(offsetof(cfgImagenPasarela, asPlanAts) == 85296);
static_assert(offsetof(cfgImagenPasarela, asDireccionamientoIp) == 223600);
static_assert(offsetof(cfgImagenPasarela, asTroncales) == 285360);
static_assert(offsetof(cfgImagenPasarela, asRedes) == 360880);
static_assert(offsetof(cfgImagenPasarela, asAsignacionUsuarios) == 495088);
static_assert(offsetof(cfgImagenPasarela, asAsignacionRecursos) == 527856);
static_assert(offsetof(cfgImagenPasarela, asDireccionamientoSip) == 658928);
static_assert(sizeof(cfgImagenPasarela) == CFG_TAM_IMAGEN);
