#include "ceventosencamina.h"

#include <cstring>

#include "publica.h"
#include "red/tcpcons.h"

CEventosEncamina oEventosEncamina;

int32_t CEventosEncamina::EvtPetListaDeEstadosPublicados(uint8_t ucNum, CandidatoEncamina* psLista) {
    TcpCons::Traza(0x8000, " EvtPetListaDeEstadosPublicados nRecursos=%i\n", ucNum);
    if (psLista == nullptr) return -1;
    for (int i = 0; i < ucNum; i++) {
        CandidatoEncamina& p = psLista[i];
        p.acNombre[sizeof p.acNombre - 1] = '\0';
        TcpCons::Traza(0x8000, "nRecursos %i %s tipo=%i\n", i, p.acNombre, p.ucTipoIf);
        const EntradaPublica* e = poPublica ? poPublica->DameEstadoRecurso(nullptr, p.acNombre) : nullptr;
        if (e == nullptr && poPublica) e = poPublica->DameEstadoPropio(p.acNombre);
        // A published resource has one state: the further slots read as not published.
        for (auto& r : p.asEstado) {
            std::memset(&r, 0, sizeof r);
            r.ucEstado = 10;
        }
        if (e != nullptr) {
            TcpCons::Traza(0x8000, "EvtPetListaDeEstadosPublicados: rec=%s estado=%i\n ", p.acNombre,
                           static_cast<int>(e->uiEstado));
            p.asEstado[0].ucEstado = static_cast<uint8_t>(e->uiEstado & 0xFF);
            p.asEstado[0].iValor = static_cast<int32_t>(e->uiPrioridad);
            p.asEstado[0].aiExtra[0] = static_cast<int32_t>(e->uiDato2);
            p.asEstado[0].aiExtra[1] = static_cast<int32_t>(e->uiDato3);
        }
    }
    for (int i = 0; i < ucNum; i++) {
        const CandidatoEncamina& p = psLista[i];
        TcpCons::Traza(0x8000, "REC: %s\n", p.acNombre);
        int iRanuras = 0;
        if (p.ucTipoIf == 5 || p.ucTipoIf == 6) {
            TcpCons::Traza(0x8000, "     tipo=R2\n");
            iRanuras = 1;
        } else if (p.ucTipoIf == 7) {
            TcpCons::Traza(0x8000, "     tipo=QSIG\n");
            iRanuras = 3;
        } else {
            TcpCons::Traza(0x8000, "     tipo=NULO\n");
        }
        for (int k = 0; k < iRanuras; k++) TcpCons::Traza(0x8000, "     estado%i = %i\n", k, p.asEstado[k].ucEstado);
    }
    return 0;
}
