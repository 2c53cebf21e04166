// DSP commands on behalf of the resource processes (and of the console): each wrapper finds
// the resource's channel, has the master send the command and, when the link is down, tells
// the owner that its channel is gone.
#include <cstdio>
#include <string>

#include "cserviciosdsp.h"
#include "ipc/cola.h"
#include "trazadsp.h"

template <typename F>
int CServiciosDsp::Ejecuta(int32_t idRecurso, const char* szNombre, std::initializer_list<int> aiParametros,
                           F fComando) {
    int iDsp, iCanal;
    Toma();
    int r = BuscaRecurso(idRecurso, &iDsp, &iCanal);
    Suelta();
    if (r != 0) return r;
    r = fComando(asListaDsp[iDsp].oMaster, iCanal);
    std::string s = "DREMSON: asListaDsp[" + std::to_string(iDsp) + "].oMaster." + szNombre + "( " +
                    std::to_string(iCanal);
    for (int p : aiParametros) s += ", " + std::to_string(p);
    TrazaDsp("%s ) = %d\n", s.c_str(), r);
    AvisaLiberaSiCaido(r, iDsp, iCanal, idRecurso);
    return r;
}

void CServiciosDsp::AvisaLiberaSiCaido(int iResultado, int iDsp, int iCanal, int32_t idRecurso) {
    if (iResultado != CMasterDsp::ERR_ENLACE_CAIDO || iDsp != 0 || iCanal < 0 || iCanal >= NUM_CANALES) return;
    // Under the table's lock: the owner's channel may be closing on the main thread.
    Toma();
    Cola* pCanal = asListaDsp[iDsp].apCanalIpc[iCanal];
    if (pCanal) pCanal->EnviaLiberaRecurso(idRecurso);
    Suelta();
}

// One-value and two-value members differ only in the master operation they call.
#define DSP_COMANDO1(NOMBRE)                                                                 \
    int CServiciosDsp::NOMBRE(int32_t id, int v) {                                           \
        return Ejecuta(id, #NOMBRE, {v}, [&](CMasterDsp& m, int c) { return m.NOMBRE(c, v); }); \
    }
#define DSP_COMANDO2(NOMBRE)                                                                       \
    int CServiciosDsp::NOMBRE(int32_t id, int a, int b) {                                          \
        return Ejecuta(id, #NOMBRE, {a, b}, [&](CMasterDsp& m, int c) { return m.NOMBRE(c, a, b); }); \
    }
#define DSP_COMANDO0(NOMBRE)                                                             \
    int CServiciosDsp::NOMBRE(int32_t id) {                                              \
        return Ejecuta(id, #NOMBRE, {}, [&](CMasterDsp& m, int c) { return m.NOMBRE(c); }); \
    }
#define DSP_DIGITOS(NOMBRE)                                                                            \
    int CServiciosDsp::NOMBRE(int32_t id, const uint8_t* puc, int n) {                                 \
        return Ejecuta(id, #NOMBRE, {n}, [&](CMasterDsp& m, int c) { return m.NOMBRE(c, puc, n); }); \
    }
#define DSP_BLOQUE(NOMBRE)                                                                          \
    int CServiciosDsp::NOMBRE(int32_t id, const int32_t* pi) {                                      \
        return Ejecuta(id, #NOMBRE, {}, [&](CMasterDsp& m, int c) { return m.NOMBRE(c, pi); }); \
    }

DSP_COMANDO1(TomaCanalIfTx)
DSP_COMANDO1(TomaCanalIfRx)
DSP_COMANDO1(TomaCanalHostTx)
DSP_COMANDO1(TomaCanalHostRx)
DSP_COMANDO1(QuitaCanalHostRx)
DSP_COMANDO1(TomaCodecIfTx)
DSP_COMANDO1(TomaCodecIfRx)
DSP_COMANDO1(TomaCodecHostTx)
DSP_COMANDO1(TomaCodecHostRx)
DSP_COMANDO1(TomaProtocolo)
DSP_COMANDO2(SelecCagTx)
DSP_COMANDO2(SelecCagRx)
DSP_COMANDO2(SelecVoxTx)
DSP_COMANDO2(SelecVoxRx)
DSP_COMANDO2(SelecDetCallProgress)
DSP_COMANDO1(SelecDetDtmf)
DSP_COMANDO1(SelecDetCallerID)
DSP_COMANDO1(SelecBss)
DSP_COMANDO2(GeneraSecuenciaTonosTx)
DSP_COMANDO2(GeneraTonoCallProgRx)
DSP_DIGITOS(MarcaDtmf)
DSP_DIGITOS(MarcaSelcal)
DSP_DIGITOS(MarcaCcir)
DSP_COMANDO1(SelecCancelEcoTx)
DSP_COMANDO1(SelecCancelEcoRx)
DSP_COMANDO0(Descuelga)
DSP_COMANDO0(Libera)
DSP_COMANDO0(RespondeLibre)
DSP_COMANDO0(RespondeOcupado)
DSP_COMANDO0(RespondeCongestion)
DSP_COMANDO0(RespondeFueraDeServicio)
DSP_COMANDO0(FinIntervencion)
DSP_COMANDO0(Aparca)
DSP_COMANDO0(Desaparca)
DSP_COMANDO0(Bloquea)
DSP_BLOQUE(TomaConfigLCEN)
DSP_BLOQUE(TomaConfigR2)
DSP_BLOQUE(TomaConfigN5)

int CServiciosDsp::SelecBucle(int32_t id, int iNivel, int iDuracion, int iFrecuencia) {
    return Ejecuta(id, "SelecBucle", {iNivel, iDuracion, iFrecuencia},
                   [&](CMasterDsp& m, int c) { return m.SelecBucle(c, iNivel, iDuracion, iFrecuencia); });
}

int CServiciosDsp::Llama(int32_t id, int iPrioridad, const uint8_t* pucOrigen, int iLongOrigen,
                         const uint8_t* pucDestino, int iLongDestino) {
    return Ejecuta(id, "Llama", {iPrioridad, iLongOrigen, iLongDestino}, [&](CMasterDsp& m, int c) {
        return m.Llama(c, iPrioridad, pucOrigen, iLongOrigen, pucDestino, iLongDestino);
    });
}

int CServiciosDsp::IntervencionPrioridad(int32_t id, int iPrioridad, const uint8_t* pucOrigen, int iLongOrigen,
                                         const uint8_t* pucDestino, int iLongDestino, int iValor) {
    return Ejecuta(id, "IntervencionPrioridad", {iPrioridad, iLongOrigen, iLongDestino, iValor},
                   [&](CMasterDsp& m, int c) {
                       return m.IntervencionPrioridad(c, iPrioridad, pucOrigen, iLongOrigen, pucDestino,
                                                      iLongDestino, iValor);
                   });
}

int CServiciosDsp::SelecRespuesta(int32_t id, int iRespuesta) {
    int iDsp, iCanal;
    // The waiting call is taken and the answer noted in one step under the lock, which the
    // receive thread holds when a call comes in; the answer goes out after, without it.
    Toma();
    int r = BuscaRecurso(id, &iDsp, &iCanal);
    if (r != 0) {
        Suelta();
        return r;
    }
    EntradaDsp& e = asListaDsp[iDsp];
    bool bEspera = false;
    if (iRespuesta < RESPUESTA_NINGUNA || iRespuesta > RESPUESTA_MAXIMA) {
        iRespuesta = RESPUESTA_NINGUNA;
    } else if (e.aiIndicadores[iCanal] & IND_LLAMADA_ESPERA) {
        bEspera = true;
        e.aiIndicadores[iCanal] &= ~IND_LLAMADA_ESPERA;
    }
    e.aiRespuestas[iCanal] = iRespuesta;
    Suelta();
    if (bEspera) {
        switch (iRespuesta) {
            case RESPUESTA_LIBRE: RespondeLibre(id); break;
            case RESPUESTA_OCUPADO: RespondeOcupado(id); break;
            case RESPUESTA_CONGESTION: RespondeCongestion(id); break;
            case RESPUESTA_FUERA_SERVICIO: RespondeFueraDeServicio(id); break;
            default: break;
        }
    }
    TrazaDsp("DREMSON: asListaDsp[%d].aiRespuestas[%d] = %d\n", iDsp, iCanal, iRespuesta);
    return 0;
}
