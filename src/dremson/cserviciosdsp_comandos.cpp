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

// The wrappers differ only in the master operation they call and the parameters they trace.
#define TRAZA_SIN_VALOR
#define TRAZA_SIN_VALOR_ANOTADO
#define TRAZA_VALOR v
#define TRAZA_DOS_VALORES a, b
#define TRAZA_BUCLE iNivel, iDuracion, iFrecuencia
#define TRAZA_DIGITOS iNum
#define TRAZA_LLAMA iPrioridad, iLongOrigen, iLongDestino
#define TRAZA_INTERVENCION TRAZA_LLAMA, iValor
#define TRAZA_BLOQUE_LCEN
#define SERVICIO_COMANDO(METODO, FORMA)                                                                \
    int CServiciosDsp::METODO(int32_t id VK_DSP_PARAMETROS_##FORMA) {                                  \
        return Ejecuta(id, #METODO, {TRAZA_##FORMA},                                                   \
                       [&](CMasterDsp& m, int c) { return m.METODO(c VK_DSP_ARGUMENTOS_##FORMA); }); \
    }
#define SERVICIO(a, ldsp, nombre, NOMBRE, cola, manejador, metodo, dsp, forma) SERVICIO_COMANDO(metodo, forma)

VK_COMANDOS_DSP(SERVICIO, _)
SERVICIO_COMANDO(SelecCancelEcoRx, VALOR)
// The R2 and N5 blocks take the hot-line block's shape here: a pointer to the words.
SERVICIO_COMANDO(TomaConfigR2, BLOQUE_LCEN)
SERVICIO_COMANDO(TomaConfigN5, BLOQUE_LCEN)

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
