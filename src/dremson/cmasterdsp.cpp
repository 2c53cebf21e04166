// The DSP master: device, boot and link supervision. The command and event catalogue is in
// cmasterdsp_mensajes.cpp.
#include "cmasterdsp.h"

#include <fcntl.h>

#include <cstdio>
#include <cstring>

#include "comun/hilo.h"
#include "hardware/cdispositivos.h"
#include "hardware/hardware.h"
#include "hardware/hwcodigos.h"
#include "comun/nlog.h"
#include "trazadsp.h"

namespace {
constexpr const char* DISPOSITIVO = "/dev/hpidsp";
constexpr int TAM_COLA_TX = 640;
constexpr unsigned int ESPERA_LECTURA_FASE_MS = 1;
constexpr unsigned int ESPERA_FASE_INESTABLE_MS = 100;
constexpr int LECTURAS_FASE = 3;
}  // namespace

CMasterDsp::CMasterDsp()
    : iDsp(-1), iFd(-1), iEnlace(0), iProximoHola(0), iEsperaRespuesta(0), iProximaSonda(0), iReintentos(0),
      pServicios(nullptr) {}

void CMasterDsp::Espera(unsigned int uiMs) { DuermeMs(uiMs); }

int CMasterDsp::Pide(uint32_t uiCodigo, uint32_t uiValor, uint32_t* puiRes) {
    return DameDispositivos().Peticion(iFd, uiCodigo, uiValor, puiRes);
}

uint32_t CMasterDsp::DameReloj() {
    uint32_t uiReloj = 0;
    if (Pide(hwcod::H1_RELOJ, 0, &uiReloj) != 0) {
        // Keep the link's time where it was rather than jump: log the first failure of a run.
        if (!bAvisoReloj.exchange(true)) NLOG::Log(NLOG::ERROR, "DREMSON[%d]: no se puede leer el reloj de %s", iDsp, DISPOSITIVO);
        return uiUltimoReloj;
    }
    bAvisoReloj = false;
    uiUltimoReloj = uiReloj;
    return uiReloj;
}

int CMasterDsp::Lee(int* piLong, uint8_t* pucBuffer) {
    std::memset(pucBuffer, 0, 4);
    *piLong = static_cast<int>(DameDispositivos().LeeMensaje(iFd, pucBuffer, TAM_RX));
    return 0;
}

int CMasterDsp::Escribe(int* piLong, const uint8_t* pucBuffer) {
    std::lock_guard<std::mutex> l(tMutexEscritura);
    // A failed write is not detected: the DSP's silence brings the link down instead.
    *piLong = static_cast<int>(DameDispositivos().EscribeMensaje(iFd, pucBuffer, static_cast<size_t>(*piLong)));
    return 0;
}

int CMasterDsp::EnviaHola(uint32_t uiAhora) {
    uint8_t acHola[dsp::LONG_CABECERA + dsp::EXTRA_ESCRITURA] = {0};
    dsp::Pon16(acHola, dsp::CMD_HOLA);
    dsp::Pon16(acHola + 2, dsp::CANAL_HOLA);
    return EnviaMensaje(acHola, sizeof(acHola), uiAhora);
}

int CMasterDsp::Arranca(int iNumDsp, CEventos* pReceptor) {
    int fd = DameDispositivos().Abre(DISPOSITIVO, O_RDWR);
    if (fd < 0) {
        NLOG::Log(NLOG::ERROR, "DREMSON[%d]: no se puede abrir %s", iNumDsp, DISPOSITIVO);
        return ERR_DISPOSITIVO;
    }
    iFd = fd;
    if (Inicia(PERIODO_LATIDO, TIMEOUT_ENLACE) != 0) return ERR_DISPOSITIVO;
    iEnlace = 0;
    iDsp = iNumDsp;
    pServicios = pReceptor;
    uint32_t uiAhora = DameReloj();
    EnviaHola(uiAhora);
    iProximoHola = uiAhora + PERIODO_HOLA;
    return 0;
}

int CMasterDsp::PreparaArranque() {
    if (!Arrancado()) return ERR_DISPOSITIVO;
    uint32_t uiRes;
    Pide(hwcod::H13_PREPARA, 0, &uiRes);
    return 0;
}

int CMasterDsp::Reinicia() {
    if (!Arrancado()) return ERR_DISPOSITIVO;
    uint32_t uiRes;
    Pide(hwcod::H9_PASO, 0, &uiRes);
    return 0;
}

bool CMasterDsp::HayEspacioTx(int n) {
    uint32_t uiNivel = 0;
    if (!Arrancado() || Pide(hwcod::H7_NIVEL_COLA, 0, &uiNivel) != 0) return false;
    return TAM_COLA_TX - static_cast<int>(uiNivel) >= n;
}

int CMasterDsp::LeeNivelCola() {
    uint32_t uiNivel = 0;
    if (!Arrancado() || Pide(hwcod::H7_NIVEL_COLA, 1, &uiNivel) != 0) return -1;
    return static_cast<int>(uiNivel);
}

void CMasterDsp::VuelcaHex(const uint8_t* pucBuffer, int n) {
    for (int i = 0; i < n; i++) TrazaDsp("%02x ", pucBuffer[i]);
    TrazaDsp("\n");
}

int CMasterDsp::LeeFaseDsp() {
    // A phase counts once three readings in a row agree with the first; three that differ
    // from it (in all) make it unstable. The first reading stays the reference.
    uint32_t uiReferencia = 0;
    if (Pide(hwcod::H8_FASE, 0, &uiReferencia) != 0) return -1;
    int iIguales = 0, iDistintas = 0;
    for (;;) {
        Espera(ESPERA_LECTURA_FASE_MS);
        uint32_t uiFase = 0;
        if (Pide(hwcod::H8_FASE, 0, &uiFase) == 0 && uiFase == uiReferencia) {
            if (++iIguales == LECTURAS_FASE) return static_cast<int>(uiReferencia);
        } else {
            iIguales = 0;
            if (++iDistintas == LECTURAS_FASE) return -1;
        }
    }
}

int CMasterDsp::CargaFicheroDsp(int iFase) {
    const char* szFichero;
    uint32_t uiDireccion;
    if (iFase == 1) {
        szFichero = FICHERO_FASE1;
        uiDireccion = DIRECCION_FASE1;
    } else if (iFase == 2) {
        szFichero = FICHERO_FASE2;
        uiDireccion = DIRECCION_FASE2;
    } else {
        NLOG::Log(NLOG::ERROR, "\n PUM!  No es ni fase 1 ni fase 2\n");
        return -1;
    }
    FILE* f = std::fopen(szFichero, "rb");
    if (!f) {
        // The boot step comes round every few milliseconds: one line until a load works.
        if (!bAvisoImagen) NLOG::Log(NLOG::ERROR, "\n PUM!  No se puede abrir fichero\n");
        bAvisoImagen = true;
        return -1;
    }
    CDispositivos& disp = DameDispositivos();
    std::lock_guard<std::mutex> l(tMutexEscritura);
    if (disp.FijaDireccion(iFd, uiDireccion) != 0) {
        if (!bAvisoImagen) NLOG::Log(NLOG::ERROR, "DREMSON[%d]: fallo fijando la direccion de %s", iDsp, szFichero);
        bAvisoImagen = true;
        std::fclose(f);
        return -1;
    }
    for (;;) {
        // Zeroed each time: the padding of a short last word is 0, never the previous block.
        uint8_t aucBloque[PALABRAS_BLOQUE * 4] = {0};
        size_t n = std::fread(aucBloque, 1, sizeof(aucBloque), f);
        bool bUltimo = n < sizeof(aucBloque);
        size_t iPalabras = (n + 3) / 4;
        // The DSP is little-endian: each word is the little-endian value of 4 file bytes.
        uint32_t auiPalabras[PALABRAS_BLOQUE];
        for (size_t i = 0; i < iPalabras; i++) {
            const uint8_t* p = aucBloque + 4 * i;
            auiPalabras[i] = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                             static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
        }
        if (disp.EscribePalabras(iFd, auiPalabras, iPalabras) != 0) {
            // A DSP started on half an image would only hang: stop here, the next step retries.
            if (!bAvisoImagen) NLOG::Log(NLOG::ERROR, "DREMSON[%d]: fallo escribiendo %s en el DSP", iDsp, szFichero);
            bAvisoImagen = true;
            std::fclose(f);
            return -1;
        }
        if (bUltimo) break;
    }
    if (iFase == 1) {
        const uint32_t uiPalabra = PALABRA_ARRANQUE;
        disp.FijaDireccion(iFd, DIRECCION_ARRANQUE);
        disp.EscribePalabras(iFd, &uiPalabra, 1);
        uint32_t uiFaseLeida = 0;
        if (Pide(hwcod::H8_FASE, 0, &uiFaseLeida) != 0 || uiFaseLeida != 2) {
            disp.FijaDireccion(iFd, DIRECCION_ARRANQUE);
            disp.EscribePalabras(iFd, &uiPalabra, 1);
        }
    }
    uint32_t uiRes;
    Pide(hwcod::H11_ARRANCA, 0, &uiRes);
    std::fclose(f);
    bAvisoImagen = false;
    return 0;
}

int CMasterDsp::ArrancaDsp() {
    if (!Arrancado()) return -1;
    uint32_t uiRes;
    Pide(hwcod::H9_PASO, 0, &uiRes);
    int iFase;
    while ((iFase = LeeFaseDsp()) == -1) Espera(ESPERA_FASE_INESTABLE_MS);
    if (iFase == 1) {
        CargaFicheroDsp(1);
        // A DSP that asks for its first image is no longer up.
        FuerzaCaida(DameReloj());
    } else if (iFase == 2) {
        Pide(hwcod::H12_FASE2, 0, &uiRes);
        CargaFicheroDsp(2);
    }
    return iFase;
}

int CMasterDsp::RecibeDsp() {
    if (!Arrancado()) return ERR_NO_ARRANCADO;
    return Recibe(DameReloj());
}

int CMasterDsp::SupervisaEnlace() {
    if (!Arrancado()) return ERR_NO_ARRANCADO;
    uint32_t uiAhora = DameReloj();
    RevisaTiempos(uiAhora);
    if (iEnlace == 0) {
        // A DSP that is not up is reset and greeted once a second; the boot thread loads its
        // images in between.
        if (DiferenciaReloj(iProximoHola, uiAhora) <= 0) {
            hwResetDsp();
            EnviaHola(uiAhora);
            iProximoHola = uiAhora + PERIODO_HOLA;
        }
    } else {
        SupervisaSonda(uiAhora);
    }
    return 0;
}

void CMasterDsp::SupervisaSonda(uint32_t uiAhora) {
    // The probe is a command on a channel the DSP does not have; its command-error event is
    // the answer (ProcesaMensaje).
    if (iProximaSonda != 0 && DiferenciaReloj(iProximaSonda, uiAhora) <= 0) {
        iProximaSonda = 0;
        iEsperaRespuesta = uiAhora + ESPERA_SONDA;
        uint8_t acSonda[dsp::LONG_CABECERA + dsp::EXTRA_ESCRITURA] = {0};
        dsp::Pon16(acSonda, dsp::CMD_DESCUELGA);
        dsp::Pon16(acSonda + 2, dsp::CANAL_SONDA);
        EnviaMensaje(acSonda, sizeof(acSonda), uiAhora);
    }
    if (iProximaSonda == 0 && iEsperaRespuesta == 0) {
        iProximaSonda = uiAhora + PERIODO_SONDA;
    } else if (iProximaSonda == 0 && DiferenciaReloj(iEsperaRespuesta, uiAhora) <= 0) {
        iEsperaRespuesta = 0;
        if (iReintentos <= MAX_REINTENTOS) {
            iReintentos++;
            iProximaSonda = uiAhora + PERIODO_SONDA;
        } else {
            hwResetDsp();
        }
    }
}

void CMasterDsp::EvtEnlaceOk(uint32_t /*uiAhora*/) {
    iEnlace = 1;
    // The keep-alive starts afresh: a probe left pending from before the fall must not
    // reset the DSP that has just come back.
    iProximaSonda = 0;
    iEsperaRespuesta = 0;
    iReintentos = 0;
    if (pServicios) pServicios->EvtDspOk(iDsp);
}

void CMasterDsp::EvtEnlaceCaido(uint32_t uiAhora) {
    iEnlace = 0;
    EnviaHola(uiAhora);
    iProximoHola = uiAhora + PERIODO_HOLA;
    if (pServicios) pServicios->EvtDspCaido(iDsp);
}
