// Hardware layer, line half: line modules (SLIC) on /dev/mtifm%d with their state
// supervision, and the audio devices /dev/pcm%d.
#include "hardware/hwlinea.h"

#include <fcntl.h>
#include <pthread.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

#include "comun/ctemporizador.h"
#include "comun/ganchosipc.h"
#include "hardware/ccomeventos.h"
#include "hardware/hardware.h"
#include "hardware/hwcodigos.h"
#include "hardware/hwinterno.h"
#include "comun/nlog.h"
#include "comun/hilo.h"
#include "comun/trazapid.h"

using namespace hwint;
using namespace hwcod;

namespace {

std::mutex tApertura;  // one open per module or channel when two threads race to open it

bool ModuloValido(int m) { return m >= 0 && m < NUM_MODULOS; }
bool CanalValido(int c) { return c >= 0 && c < NUM_CANALES_PCM; }

void RegistroCerrado(ModuloSlic& m) {
    m.iFd = -1;
    m.iModo = -1;
    m.iIniciado = 0;
    m.iEstado = 0;
    m.iCambios = 0;
    m.iTimeslot = -1;
    m.iGananciaTx = 0;
    m.iGananciaRx = 0;
    m.iCodec = 8;
    m.iFiltro = 2;
    m.iRanura = -1;
    m.iRxSilenciado = 0;
    m.pManejador = nullptr;
    m.pTemporizador = nullptr;
}

// Descriptor of an open module, opening it on first use; -1 when it cannot be opened.
// *pbNuevo tells a fresh open.
int AbreModulo(int iModulo, bool* pbNuevo = nullptr) {
    ModuloSlic& m = Hw().asModulos[iModulo];
    if (pbNuevo) *pbNuevo = false;
    int fd = m.iFd;
    if (fd >= 0) return fd;
    std::lock_guard<std::mutex> l(tApertura);
    if (m.iFd >= 0) return m.iFd;
    char acRuta[32];
    snprintf(acRuta, sizeof(acRuta), "/dev/mtifm%d", iModulo);
    fd = Disp().Abre(acRuta, O_RDWR);
    if (fd < 0) {
        IpcTraza(CLASE_TRAZA_DEBUG, "Error abre mtifm modulo %i error %i", iModulo, errno);
        return -1;
    }
    m.iFd = fd;
    if (pbNuevo) *pbNuevo = true;
    return fd;
}

int FdModulo(int iModulo) { return Hw().asModulos[iModulo].iFd; }

int EscribeM(int iModulo, uint32_t uiCodigo, int iValor) {
    return PideEscritura(FdModulo(iModulo), uiCodigo, static_cast<uint32_t>(iValor));
}

int LeeM(int iModulo, uint32_t uiCodigo) { return Pide(FdModulo(iModulo), uiCodigo); }

// Common entry of the module operations: -1 not initialised / bad module / cannot open.
bool Preparado(int iModulo) { return Iniciado() && ModuloValido(iModulo) && AbreModulo(iModulo) >= 0; }

// Mode value of mode 4 (E&M) from its parameters; -1 when they lie outside the table.
int ValorModo4(int p2, int p3, int p4) {
    if (p2 < 0 || p2 > 4 || p4 < 0 || p4 > 1) return -1;
    if (p4 == 0) return (p3 == 0 ? 10 : 15) + p2;
    return (p3 == 0 ? 21 : 26) + p2;
}

int ConfiguraSlic(int iModulo) {
    ModuloSlic& m = Hw().asModulos[iModulo];
    int iModo4 = 0;
    if (m.iModo == 4) {
        iModo4 = ValorModo4(m.p2, m.p3, m.p4);
        if (iModo4 < 0) return -6;
    }
    IpcTraza(CLASE_TRAZA_DEBUG, "\n\nHW CONFIG SLIC %i iGanTx %i iGanRx %i\n", iModulo, m.iGananciaTx.load(), m.iGananciaRx.load());
    EscribeM(iModulo, M19, 2);
    EscribeM(iModulo, M20_CODEC, 0);
    switch (m.iModo) {
        case 1:
        case 3:
            EscribeM(iModulo, M3_RING, 0);
            EscribeM(iModulo, M2_CONV, 0);
            EscribeM(iModulo, M1_MODO, 1);
            EscribeM(iModulo, M6, 0);
            m.iModoConfigurado = 1;
            break;
        case 2:
            EscribeM(iModulo, M3_RING, 0);
            EscribeM(iModulo, M1_MODO, 2);
            EscribeM(iModulo, M3_RING, 0);
            EscribeM(iModulo, M6, 0);
            m.iModoConfigurado = 2;
            break;
        case 4:
            EscribeM(iModulo, M10, 24700);
            EscribeM(iModulo, M5_LINEA, 0);
            EscribeM(iModulo, M1_MODO, iModo4);
            m.iModoConfigurado = iModo4;
            break;
        case 5:
            EscribeM(iModulo, M1_MODO, 9);
            m.iModoConfigurado = 9;
            break;
        default:
            EscribeM(iModulo, M1_MODO, 20);
            m.iModoConfigurado = 20;
            break;
    }
    if (m.iTimeslot > 0) {
        IpcTraza(CLASE_TRAZA_DEBUG, "\n\nHW CONFIG SLIC %i TS=%i  iGanTx %i iGanRx %i\n", iModulo, m.iTimeslot,
                 m.iGananciaTx.load(), m.iGananciaRx.load());
        EscribeM(iModulo, M21_TS_TX, m.iTimeslot);
        EscribeM(iModulo, M22_TS_RX, m.iTimeslot);
        EscribeM(iModulo, M25_GAN_TX, m.iGananciaTx);
        EscribeM(iModulo, M24_GAN_RX, m.iGananciaRx);
        EscribeM(iModulo, M20_CODEC, m.iCodec ? 0 : 2);
    }
    return EscribeM(iModulo, M23, 0);
}

}  // namespace

namespace hwint {
void ReiniciaTablasLinea() {
    EstadoHw& hw = Hw();
    for (auto& m : hw.asModulos) RegistroCerrado(m);
    hw.iModuloSupervisado = -1;
    for (auto& fd : hw.aiFdPcm) fd = -1;
}
}  // namespace hwint

// ---- Opening, start and configuration ----------------------------------------------------

int hwAbreSlic(int iModulo) {
    if (!Iniciado() || !ModuloValido(iModulo)) return -1;
    return AbreModulo(iModulo);
}

int hwCierraSlic(int iModulo) {
    if (!Iniciado() || !ModuloValido(iModulo)) return -1;
    ModuloSlic& m = Hw().asModulos[iModulo];
    std::lock_guard<std::mutex> l(tApertura);
    int fd = m.iFd;
    if (fd < 0) return -1;
    if (Disp().Cierra(fd) < 0) {
        IpcTraza(CLASE_TRAZA_DEBUG, "Error cierra mtifm modulo %i error %i", iModulo, errno);
        return -1;
    }
    EstadoHw& hw = Hw();
    pthread_mutex_lock(&hw.tMutex);
    if (m.iRanura >= 0 && m.pTemporizador) m.pTemporizador->Cancela(m.iRanura);
    RegistroCerrado(m);
    pthread_mutex_unlock(&hw.tMutex);
    return 0;
}

int hwIniciaSlic(int iModulo, int iModo, int p2, int p3, int p4) {
    if (!Iniciado()) return -1;
    if (!ModuloValido(iModulo)) return -2;
    if (iModo < 0 || iModo > 5) return -6;
    // Mode 4 parameters come from configuration and index the mode table.
    if (iModo == 4 && ValorModo4(p2, p3, p4) < 0) return -6;

    Pide(Hw().iFdDiscretas, S3_ACTIVA, static_cast<uint32_t>(160 + 4 * (iModulo / 4)));
    if (iModo >= 1 && iModo <= 3) Pide(Hw().iFdDiscretas, S4_DESACTIVA, static_cast<uint32_t>(64 + iModulo));
    int r = hwConectaSlot(iModulo);
    if (r < 0) return r;
    bool bNuevo = false;
    if (AbreModulo(iModulo, &bNuevo) < 0) return -7;
    if (bNuevo) Espera(static_cast<uint32_t>(iModulo) * 100);

    ModuloSlic& m = Hw().asModulos[iModulo];
    m.iIniciado = 0;
    NLOG::Log(NLOG::INFO, " Inicia slic espero que pase el reset modulo %i modo %i ", iModulo, iModo);
    IpcTraza(CLASE_TRAZA_DEBUG, " Inicia slic espero que pase el reset modulo %i \n", iModulo);
    EscribeM(iModulo, M26_RESET, 0);
    IpcTraza(CLASE_TRAZA_DEBUG, " Inicia slic contunuo despues del reset %i\n", iModulo);
    NLOG::Log(NLOG::INFO, " Inicia slic contunuo despues del reset %i", iModulo);

    int iVersion = LeeM(iModulo, M22_LEE_VERSION);
    m.iModo = iModo;
    m.p2 = p2;
    m.p3 = p3;
    m.p4 = p4;
    ConfiguraSlic(iModulo);
    if (iVersion != 15 && iVersion != 16) {
        NLOG::Log(NLOG::INFO, "OJO. Iniciado slic %i cuya version no es 0Fh ni 10h", iModulo);
        IpcTraza(CLASE_TRAZA_DEBUG, "\n  OJO. Iniciado slic %i cuya version %i no es 0Fh ni 10h\n\n", iModulo,
                 iVersion);
    } else {
        NLOG::Log(NLOG::INFO, "Iniciado slic %i", iModulo);
    }
    r = LeeM(iModulo, M23_LEE);
    m.iRxSilenciado = 0;
    m.iIniciado = 1;
    return r;
}

int hwConfiguraSlic(int iModulo) {
    if (!Preparado(iModulo)) return -1;
    return ConfiguraSlic(iModulo);
}

int hwCompruebaModoSlic(int iModulo) {
    if (!Preparado(iModulo) || !Hw().asModulos[iModulo].iIniciado) return -1;
    ModuloSlic& m = Hw().asModulos[iModulo];
    int r = 0;
    int iLeido = LeeM(iModulo, M2_LEE_MODO);
    if (iLeido != m.iModoConfigurado) {
        NLOG::Log(NLOG::ERROR, "HW COMPRUEBA SLIC %i  modo %i (%i) ", iModulo, iLeido, m.iModoConfigurado);
        r = -6;
    }
    LeeM(iModulo, M23_LEE);
    return r;
}

int hwCompruebaSlic(int iModulo) {
    if (!Preparado(iModulo) || !Hw().asModulos[iModulo].iIniciado) return -1;
    ModuloSlic& m = Hw().asModulos[iModulo];
    int r = 0;
    int v;
    if ((v = LeeM(iModulo, M2_LEE_MODO)) != m.iModoConfigurado) {
        NLOG::Log(NLOG::ERROR, "HW COMPRUEBA SLIC %i  modo %i (%i) ", iModulo, v, m.iModoConfigurado);
        r = -6;
    } else if ((v = LeeM(iModulo, M16_LEE_TS_TX)) != m.iTimeslot) {
        NLOG::Log(NLOG::ERROR, "HW COMPRUEBA SLIC %i  tstx %i (%i)", iModulo, v, m.iTimeslot);
        r = -6;
    } else if ((v = LeeM(iModulo, M17_LEE_TS_RX)) != m.iTimeslot) {
        NLOG::Log(NLOG::ERROR, "HW COMPRUEBA SLIC %i  tsrx %i (%i)", iModulo, v, m.iTimeslot);
        r = -6;
    } else if ((v = LeeM(iModulo, M20_LEE_GAN_TX) - OFFSET_GAN_TX) != m.iGananciaTx) {
        NLOG::Log(NLOG::ERROR, "HW COMPRUEBA SLIC %i tx %i (%i)", iModulo, v, m.iGananciaTx.load());
        r = -6;
    } else if (!m.iRxSilenciado && (v = LeeM(iModulo, M19_LEE_GAN_RX) - OFFSET_GAN_RX) != m.iGananciaRx) {
        NLOG::Log(NLOG::ERROR, "HW COMPRUEBA SLIC %i rx %i (%i)", iModulo, v, m.iGananciaRx.load());
        r = -6;
    }
    if (r == -6) ConfiguraSlic(iModulo);
    LeeM(iModulo, M23_LEE);
    return r;
}

int hwSupervisaSlic(int iModulo) {
    NLOG::Log(NLOG::INFO, "hwSupervisaSlic %i", iModulo);
    if (!Iniciado()) return -1;
    if (!ModuloValido(iModulo)) return -2;
    int r = hwConectaSlot(iModulo);
    if (r < 0) return r;
    if (AbreModulo(iModulo) < 0) return -7;
    Espera(static_cast<uint32_t>(iModulo) * 100);
    EscribeM(iModulo, M1_MODO, 2);
    LeeM(iModulo, M23_LEE);
    Espera(5000000);
    int iLeido = LeeM(iModulo, M2_LEE_MODO);
    printf("modoconfigurado (%i) =%i \n", iModulo, iLeido);
    if (iLeido == 2) return 0;
    NLOG::Log(NLOG::ERROR, "HW COMPRUEBA SLIC %i  modo %i (%i) ", iModulo, iLeido, 2);
    return -6;
}

// ---- Settings ----------------------------------------------------------------------------

int hwSlicTs(int iModulo, int iTs) {
    if (!Preparado(iModulo)) return -1;
    IpcTraza(CLASE_TRAZA_DEBUG, " hardware MTIFM_SEL_TIMESLOT_TX Mod=%i TS=%i\n", iModulo, iTs);
    Hw().asModulos[iModulo].iTimeslot = iTs;
    EscribeM(iModulo, M22_TS_RX, iTs);
    int r = EscribeM(iModulo, M21_TS_TX, iTs);
    if (r < 0) IpcTraza(CLASE_TRAZA_DEBUG, " hardware MTIFM_SEL_TIMESLOT_TX Error\n");
    int iLeido = LeeM(iModulo, M16_LEE_TS_TX);
    IpcTraza(CLASE_TRAZA_DEBUG, " hardware MTIFM_SEL_TIMESLOT_TX tsleido%i TS=%i\n", iLeido, iTs);
    if (iLeido != iTs) return EscribeM(iModulo, M21_TS_TX, iTs);
    return r;
}

int hwSlicGananciaTx(int iModulo, int iGanancia) {
    if (!Preparado(iModulo)) return -1;
    Hw().asModulos[iModulo].iGananciaTx = iGanancia;
    return EscribeM(iModulo, M25_GAN_TX, iGanancia);
}

int hwSlicGananciaRx(int iModulo, int iGanancia) {
    if (!Preparado(iModulo)) return -1;
    Hw().asModulos[iModulo].iGananciaRx = iGanancia;
    return EscribeM(iModulo, M24_GAN_RX, iGanancia);
}

int hwSlicCodec(int iModulo, int iCodec) {
    if (!Preparado(iModulo)) return -1;
    Hw().asModulos[iModulo].iCodec = iCodec;
    return EscribeM(iModulo, M20_CODEC, iCodec ? 0 : 2);
}

int hwSilenciaRxSlic(int iModulo) {
    if (!Preparado(iModulo)) return -1;
    Hw().asModulos[iModulo].iRxSilenciado = 1;
    return EscribeM(iModulo, M29_SILENCIO_RX, 0);
}

int hwRestauraRxSlic(int iModulo) {
    if (!Preparado(iModulo)) return -1;
    ModuloSlic& m = Hw().asModulos[iModulo];
    m.iRxSilenciado = 0;
    int r = EscribeM(iModulo, M24_GAN_RX, m.iGananciaRx);
    if (r < 0) IpcTraza(CLASE_TRAZA_DEBUG, " hardware MTIFM_TOMA_GANANCIA_RX Error\n");
    return r;
}

int hwEscribeM14(int iModulo, int iValor) { return Preparado(iModulo) ? EscribeM(iModulo, M14, iValor) : -1; }
int hwResetSlic(int iModulo) { return Preparado(iModulo) ? EscribeM(iModulo, M26_RESET, 0) : -1; }

// ---- Line control ------------------------------------------------------------------------

namespace {
// Sends the requests in order; the first refusal is the result, the rest are still sent.
int Secuencia(int iModulo, std::initializer_list<std::pair<uint32_t, int>> peticiones) {
    if (!Preparado(iModulo)) return -1;
    int r = 0;
    for (const auto& p : peticiones) {
        int e = EscribeM(iModulo, p.first, p.second);
        if (r == 0) r = e;
    }
    return r;
}
}  // namespace

int hwActivaLineaSlic(int iModulo) { return Secuencia(iModulo, {{M5_LINEA, 1}}); }
int hwDesactivaLineaSlic(int iModulo) { return Secuencia(iModulo, {{M5_LINEA, 0}}); }
int hwActivaRingSlic(int iModulo) { return Secuencia(iModulo, {{M3_RING, 1}}); }
int hwDesactivaRingSlic(int iModulo) { return Secuencia(iModulo, {{M3_RING, 0}}); }
int hwPasaAConvSlic(int iModulo) { return Secuencia(iModulo, {{M2_CONV, 1}}); }
int hwPasaAReposoSlic(int iModulo) { return Secuencia(iModulo, {{M2_CONV, 0}}); }

int hwArrancaRingSlic(int iModulo) {
    int r = Secuencia(iModulo, {{M1_MODO, 2}, {M10, 0}, {M3_RING, 1}});
    if (r != -1) Hw().asModulos[iModulo].iModoConfigurado = 2;
    return r;
}

int hwParaRingSlic(int iModulo) {
    int r = Secuencia(iModulo, {{M3_RING, 0}, {M1_MODO, 1}});
    if (r != -1) {
        EstadoHw& hw = Hw();
        hw.asModulos[iModulo].iModoConfigurado = 1;
        pthread_mutex_lock(&hw.tMutex);
        hw.asModulos[iModulo].iFiltro = 5;  // the line settles after ringing
        pthread_mutex_unlock(&hw.tMutex);
    }
    return r;
}

int hwModoNormalSlic(int iModulo) {
    int r = Secuencia(iModulo, {{M1_MODO, 1}});
    if (r != -1) Hw().asModulos[iModulo].iModoConfigurado = 1;
    return r;
}

int hwPasaAConvTipo2() { return 0; }
int hwPasaAConvTipo4() { return 0; }

// ---- State supervision -------------------------------------------------------------------

namespace {

void ProcesaPalabra(int iModulo, int iPalabra, int /*iExtra*/) {
    EstadoHw& hw = Hw();
    ModuloSlic& m = hw.asModulos[iModulo];
    if (!m.iIniciado) return;
    pthread_mutex_lock(&hw.tMutex);
    if (iPalabra != m.iEstado) {
        m.iCambios = m.iEstado ^ iPalabra;
        m.iEstado = iPalabra;
    }
    int iCambios = m.iCambios;
    CComeventos* p = m.pManejador;
    m.iCambios = 0;
    pthread_mutex_unlock(&hw.tMutex);
    if (!iCambios || !p) return;
    // Fixed order: failure, ring, loop, E&M (a word 0x0003 rings before it closes the loop).
    if ((iCambios & MTIFM_ERR_ACCESO_DISPOSITIVO) && (iPalabra & MTIFM_ERR_ACCESO_DISPOSITIVO))
        p->EvtFalloSlic(iModulo, iPalabra);
    if (iCambios & MTIFM_EST_RINGING) {
        if (iPalabra & MTIFM_EST_RINGING)
            p->EvtDetRing(iModulo);
        else
            p->EvtDetFinRing(iModulo);
    }
    if (iCambios & MTIFM_EST_BUCLE_CERRADO) {
        if (iPalabra & MTIFM_EST_BUCLE_CERRADO)
            p->EvtCierreBucle(iModulo);
        else
            p->EvtBucleAbierto(iModulo);
    }
    if (iCambios & MTIFM_EST_SIG_GROUND) {
        if (iPalabra & MTIFM_EST_SIG_GROUND)
            p->EvtDetLlamadaEyM(iModulo);
        else
            p->EvtDetFinLlamadaEyM(iModulo);
    }
}

uintptr_t FinFiltro(uintptr_t a1, uintptr_t a2, uintptr_t /*a3*/) {
    EstadoHw& hw = Hw();
    int iModulo = static_cast<int>(a1);
    pthread_mutex_lock(&hw.tMutex);
    hw.asModulos[iModulo].iRanura = -1;
    pthread_mutex_unlock(&hw.tMutex);
    ProcesaPalabra(iModulo, static_cast<int>(a2), 0);
    return 0;
}

void* hwSupervisorSlic(void*) {
    EstadoHw& hw = Hw();
    TrazaPid("Supervisor estado slic", 0, "src/hardware");
    FijaPrioridadHilo(1);
    Espera(20000000);
    uint32_t uiAnterior = hwDameTiempoMs();
    int iRapidas = 0;
    for (;;) {
        int iModulo = hw.iModuloSupervisado;
        if (iModulo < 0 || !hw.asModulos[iModulo].iIniciado) {
            Espera(2000000);
            continue;
        }
        int fd = hw.asModulos[iModulo].iFd;
        if (fd < 0) {
            fd = AbreModulo(iModulo);
            if (fd < 0) NLOG::Log(NLOG::ERROR, "Error abre SLIC %i", iModulo);
        }
        if (fd < 1) {
            NLOG::Log(NLOG::ERROR, "SLIC no abierto en supervision %i", iModulo);
            Espera(2000000);
            continue;
        }
        uint16_t auiPalabras[50];
        ssize_t n = Disp().Lee(fd, auiPalabras, sizeof(auiPalabras));
        if (n < 0) {
            Espera(2000000);  // a failing device is retried, never given up
            continue;
        }
        int iPalabras = static_cast<int>(n / 2);
        if (iPalabras > 0) {
            int iPalabra = auiPalabras[iPalabras - 1];
            ModuloSlic& m = hw.asModulos[iModulo];
            pthread_mutex_lock(&hw.tMutex);
            CTemporizador* pTemp = m.pTemporizador;
            if (pTemp) {
                if (m.iRanura >= 0) {
                    pTemp->Cancela(m.iRanura);
                    m.iRanura = -1;
                }
                if (m.iIniciado) {
                    m.iRanura = pTemp->Arma(m.iFiltro, FinFiltro, static_cast<uintptr_t>(iModulo),
                                            static_cast<uintptr_t>(iPalabra), 0);
                    if (m.iFiltro == 5) m.iFiltro = 2;
                }
            }
            pthread_mutex_unlock(&hw.tMutex);
            if (!pTemp) ProcesaPalabra(iModulo, iPalabra, 0);
            // Logged once the word is taken (timer armed or processed).
            NLOG::Log(NLOG::INFO, "Leo supervision Slic canal %x muestras=%x buf=%x", iModulo, iPalabras, iPalabra);
        }
        // A device that answers at once would make this loop spin.
        uint32_t uiAhora = hwDameTiempoMs();
        if (static_cast<int32_t>(uiAhora - uiAnterior) < 500) {
            if (++iRapidas > 500) {
                iRapidas = 0;
                NLOG::Log(NLOG::ERROR, "Hilo hwSupervisorSlic FALLA !!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!");
                printf("ERROR: Hilo hwSupervisorSlic FALLA !!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!\n");
                Espera(20000);
            }
        } else {
            iRapidas = 0;
        }
        uiAnterior = uiAhora;
    }
    return nullptr;
}

}  // namespace

int hwRegistraEventosSlic(int iModulo, CComeventos* pManejador, CTemporizador* pTemporizador) {
    if (!Iniciado()) return -1;
    if (!ModuloValido(iModulo)) return -2;
    EstadoHw& hw = Hw();
    pthread_mutex_lock(&hw.tMutex);
    if (!hw.bSupervisorSlic) {
        hw.bSupervisorSlic = true;
        pthread_t t;
        int e = pthread_create(&t, nullptr, hwSupervisorSlic, nullptr);
        if (e != 0) {
            NLOG::Log(NLOG::ERROR, "Error creando hilo supervisor SLIC %i", e);
            hw.bSupervisorSlic = false;
            pthread_mutex_unlock(&hw.tMutex);
            return -7;
        }
        pthread_detach(t);
    }
    hw.iModuloSupervisado = iModulo;
    hw.asModulos[iModulo].pManejador = pManejador;
    hw.asModulos[iModulo].pTemporizador = pTemporizador;
    pthread_mutex_unlock(&hw.tMutex);
    return 0;
}

void hwTrazaEstadoSlic(int iEstado) {
    static const struct {
        int iBit;
        const char* szNombre;
    } kBits[] = {{0x100, "MTIFM_ERR_ACCESO_DISPOSITIVO"}, {0x200, "MTIFM_ERR_RESET"},
                 {0x1, "MTIFM_EST_BUCLE_CERRADO"},       {0x2, "MTIFM_EST_RINGING"},
                 {0x4, "MTIFM_EST_INVERSION_POL"},       {0x8, "MTIFM_EST_SIG_GROUND"},
                 {0x80, "MTIFM_ERR_E_NORM_CURR_LOAD"},   {0x40, "MTIFM_ERR_E_REV_CURR_LOAD"},
                 {0x20, "MTIFM_ERR_M_NORM_CURR_LOAD"},   {0x10, "MTIFM_ERR_M_REV_CURR_LOAD"}};
    IpcTraza(CLASE_TRAZA_DEBUG, " >>>>>> Nuevo estado: ");
    if ((iEstado & 0xFFFF) == 0) IpcTraza(CLASE_TRAZA_DEBUG, "MTIFM_EST_REPOSO");
    for (const auto& b : kBits)
        if (iEstado & b.iBit) IpcTraza(CLASE_TRAZA_DEBUG, "%s ", b.szNombre);
    IpcTraza(CLASE_TRAZA_DEBUG, "\n");
}

// ---- Audio devices -----------------------------------------------------------------------

namespace {
// -1 not initialised, -2 bad channel, -3 not open; else the descriptor.
int FdPcm(int iCanal) {
    if (!Iniciado()) return -1;
    if (!CanalValido(iCanal)) return -2;
    int fd = Hw().aiFdPcm[iCanal];
    return fd < 0 ? -3 : fd;
}

int LeePcm(int iCanal, uint32_t uiCodigo) {
    int fd = FdPcm(iCanal);
    if (fd < 0) return fd;
    uint32_t uiRes = 0;
    if (PideR(fd, uiCodigo, 0, &uiRes) < 0) return -7;
    return static_cast<int>(uiRes);
}

int EscribePcm(int iCanal, uint32_t uiCodigo, int iValor) {
    int fd = FdPcm(iCanal);
    if (fd < 0) return fd;
    uint32_t uiRes = 0;
    if (PideR(fd, uiCodigo, static_cast<uint32_t>(iValor), &uiRes) < 0) return -7;
    return 0;
}
}  // namespace

int hwAbreTimeslot(int iCanal) {
    if (!Iniciado()) return -1;
    if (!CanalValido(iCanal)) return -2;
    std::lock_guard<std::mutex> l(tApertura);
    if (Hw().aiFdPcm[iCanal] >= 0) return 0;
    char acRuta[32];
    snprintf(acRuta, sizeof(acRuta), "/dev/pcm%d", iCanal);
    int fd = Disp().Abre(acRuta, O_RDWR);
    if (fd < 0) return -3;
    uint32_t uiRes = 0;
    if (PideR(fd, P5_ABRE, 1, &uiRes) < 0) {
        Disp().Cierra(fd);
        return -7;
    }
    Hw().aiFdPcm[iCanal] = fd;
    return 0;
}

int hwCierraTimeslot(int iCanal) {
    int fd = FdPcm(iCanal);
    if (fd < 0) return fd;
    std::lock_guard<std::mutex> l(tApertura);
    Hw().aiFdPcm[iCanal] = -1;
    Disp().Cierra(fd);
    return 0;
}

int hwEnviaMuestras(int iCanal, const uint8_t* pucDatos, int* piLongitud) {
    int fd = FdPcm(iCanal);
    if (fd < 0) return fd;
    if (!piLongitud || *piLongitud <= 0) return 0;
    ssize_t n = Disp().Escribe(fd, pucDatos, static_cast<size_t>(*piLongitud));
    *piLongitud = n < 0 ? 0 : static_cast<int>(n);
    return n < 0 ? -7 : 0;
}

int hwDameMuestras(int iCanal, uint8_t* pucDatos, int* piLongitud) {
    int fd = FdPcm(iCanal);
    if (fd < 0) return fd;
    if (!piLongitud || *piLongitud <= 0) return 0;
    ssize_t n = Disp().Lee(fd, pucDatos, static_cast<size_t>(*piLongitud));
    *piLongitud = n < 0 ? 0 : static_cast<int>(n);
    return n < 0 ? -7 : 0;
}

int hwEscribePcmP4(int iCanal, int iValor) { return EscribePcm(iCanal, P4, iValor); }
int hwLeePcmP10(int iCanal) { return LeePcm(iCanal, P10); }
int hwEscribePcmP1(int iCanal) { return EscribePcm(iCanal, P1, 0); }

int hwDameNumMuestras(int iCanal) {
    int r = LeePcm(iCanal, P6_MUESTRAS);
    return r < 0 ? 0 : r;
}

int hwLeeEstadoPcm(int iCanal) { return LeePcm(iCanal, P3_ESTADO); }
