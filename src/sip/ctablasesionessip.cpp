#include "sip/ctablasesionessip.h"

#include <cstring>

CTablaSesionesSip::CTablaSesionesSip() { Limpia(); }

SesionSip* CTablaSesionesSip::NuevaEntrante(int cid) {
    for (auto& s : asSesiones)
        if (s.iMarca == 0) {
            std::memset(static_cast<void*>(&s), 0, sizeof s);
            s.oTemporizador.Reinicia();
            s.cid = cid;
            s.did = -1;
            s.iUsuario = -1;  // not user 0: a session refused before it is handed out belongs to nobody
            s.iMarca = -1;
            s.iPttId = -1;
            s.canal = -1;
            s.iPuertoRemoto = -1;
            s.iPayload = -1;
            return &s;
        }
    return nullptr;
}

SesionSip* CTablaSesionesSip::NuevaSaliente() {
    SesionSip* s = NuevaEntrante(-1);
    if (s) s->iUsuario = -1;
    return s;
}

SesionSip* CTablaSesionesSip::Busca(int cid) {
    for (auto& s : asSesiones)
        if (s.iMarca != 0 && s.cid == cid) return &s;
    return nullptr;
}

SesionSip* CTablaSesionesSip::BuscaDialogo(int cid, int did) {
    for (auto& s : asSesiones)
        if (s.iMarca != 0 && s.cid == cid && s.did == did) return &s;
    return nullptr;
}

SesionSip* CTablaSesionesSip::BuscaPorCallId(const char* szCallId) {
    for (auto& s : asSesiones)
        if (s.iMarca != 0 && !std::strcmp(s.acCallId, szCallId)) return &s;
    return nullptr;
}

SesionSip* CTablaSesionesSip::BuscaSinCidPorCallId(const char* szCallId) {
    for (auto& s : asSesiones)
        if (s.iMarca != 0 && s.cid == -1 && !std::strcmp(s.acCallId, szCallId)) return &s;
    return nullptr;
}

SesionSip* CTablaSesionesSip::BuscaPorRemoto(const char* szRemoto) {
    for (auto& s : asSesiones)
        if (s.iMarca != 0 && !std::strcmp(s.acRemoto, szRemoto)) return &s;
    return nullptr;
}

void CTablaSesionesSip::Libera(SesionSip* s) {
    s->iMarca = 0;
    s->cid = -1;
}

void CTablaSesionesSip::Limpia() {
    std::lock_guard<std::mutex> lk(tMutexSesiones);
    std::memset(static_cast<void*>(asSesiones), 0, sizeof asSesiones);
    for (auto& s : asSesiones) s.oTemporizador.Reinicia();
}

int CTablaSesionesSip::Lee(int cid, SesionSip* psCopia) {
    std::lock_guard<std::mutex> lk(tMutexSesiones);
    SesionSip* s = Busca(cid);
    if (!s) return -1;
    *psCopia = *s;
    return 0;
}

int CTablaSesionesSip::LeePorCallId(SesionSip* psCopia, const char* szCallId) {
    if (!szCallId) return -1;
    std::lock_guard<std::mutex> lk(tMutexSesiones);
    SesionSip* s = BuscaPorCallId(szCallId);
    if (!s) return -1;
    *psCopia = *s;
    return 0;
}

int CTablaSesionesSip::Escribe(SesionSip* p) {
    std::lock_guard<std::mutex> lk(tMutexSesiones);
    SesionSip* s = Busca(p->cid);
    if (!s) return -1;
    p->cid = s->cid;
    p->did = s->did;
    p->tid = s->tid;
    p->iUsuario = s->iUsuario;
    *s = *p;
    return 0;
}

int CTablaSesionesSip::PonUsuario(int cid, int iUsuario) {
    std::lock_guard<std::mutex> lk(tMutexSesiones);
    SesionSip* s = Busca(cid);
    if (!s) return -1;
    s->iUsuario = iUsuario;
    return 0;
}

int CTablaSesionesSip::UsuarioDe(int cid) {
    std::lock_guard<std::mutex> lk(tMutexSesiones);
    const SesionSip* s = Busca(cid);
    return s ? s->iUsuario : -1;
}

int CTablaSesionesSip::DeUsuario(int iUsuario, SesionQueAcaba* aFin) {
    int n = 0;
    std::lock_guard<std::mutex> lk(tMutexSesiones);
    for (auto& s : asSesiones)
        if (s.iMarca != 0 && s.cid > 0 && s.iUsuario == iUsuario) aFin[n++] = {s.iUsuario, s.cid, s.did};
    return n;
}

int CTablaSesionesSip::Temporiza(int iMs, SesionQueAcaba* aFin) {
    int n = 0;
    std::lock_guard<std::mutex> lk(tMutexSesiones);
    for (auto& s : asSesiones) {
        if (s.iMarca == 0 || s.cid <= 0) continue;
        const int r1 = s.oTemporizador.DescuentaSessionExpires(iMs);
        const int r2 = s.oTemporizador.DescuentaRx200ok(iMs);
        if (r1 == 0 || r2 == 0) aFin[n++] = {s.iUsuario, s.cid, s.did};
    }
    return n;
}
