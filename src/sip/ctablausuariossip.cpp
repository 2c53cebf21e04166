#include "sip/ctablausuariossip.h"

#include <cstdio>
#include <cstring>

#include "comun/nlog.h"

namespace {

const char* const kVersionWG67[] = {"radio.01", "phone.01", "legacy-eu.01;gateway=\"ATS-R2\"",
                                    "legacy-eu.01;gateway=\"ATS-N5\"", "legacy-eu.01;gateway=\"ATS-LCEN\"", nullptr};

const char* const kEstadosRegistro[] = {"SIP_REGEST_REPOSO", "SIP_REGEST_REGISTRANDO", "SIP_REGEST_DENEGADO",
                                        "SIP_REGEST_OK"};

}  // namespace

CTablaUsuariosSip::CTablaUsuariosSip() : iNumUsuarios(0), acRegistrar{}, acProxy{} {
    std::memset(asUsuarios, 0, sizeof asUsuarios);
}

void CTablaUsuariosSip::Vacia() {
    std::lock_guard<std::mutex> lk(tMutexUsuarios);
    std::memset(asUsuarios, 0, sizeof asUsuarios);
    iNumUsuarios = 0;
}

int CTablaUsuariosSip::Alta(const char* szNombre, const int32_t* piCodecs, int iNum, int iTipo, int iRegistrar,
                            const char* szClave, uint32_t uiAhora) {
    if (!szNombre || !szNombre[0]) return -2;
    std::lock_guard<std::mutex> lk(tMutexUsuarios);
    for (int i = 0; i < MAX_USUARIOS; i++) {
        UsuarioSipua& u = asUsuarios[i];
        if (u.acNombre[0]) continue;
        std::memset(&u, 0, sizeof u);
        std::snprintf(u.acNombre, sizeof u.acNombre, "%.128s", szNombre);
        u.sCodecs.Fija(piCodecs, iNum);
        u.iTipo = iTipo;
        u.ucRegistrar = static_cast<uint8_t>(iRegistrar ? 1 : 0);
        u.uiProximoRegistro = uiAhora;
        u.iEstadoRegistro = SIP_REGEST_REPOSO;
        u.iRid = 0;
        std::snprintf(u.acClave, sizeof u.acClave, "%.64s", szClave ? szClave : "");
        iNumUsuarios++;
        return i;
    }
    return -4;
}

int CTablaUsuariosSip::Actualiza(const char* szNombre, const int32_t* piCodecs, int iNum, int iTipo) {
    if (!szNombre || !szNombre[0]) return -2;
    const int i = Busca(szNombre);
    if (i < 0) return -4;
    std::lock_guard<std::mutex> lk(tMutexUsuarios);
    asUsuarios[i].sCodecs.Fija(piCodecs, iNum);
    asUsuarios[i].iTipo = iTipo;
    return i;
}

void CTablaUsuariosSip::Baja(int i) {
    if (i < 0 || i >= MAX_USUARIOS) return;
    std::lock_guard<std::mutex> lk(tMutexUsuarios);
    if (asUsuarios[i].acNombre[0]) {
        asUsuarios[i].acNombre[0] = '\0';
        asUsuarios[i].ucRegistrar = 0;
        if (iNumUsuarios > 0) iNumUsuarios--;
    }
}

int CTablaUsuariosSip::Busca(const char* szNombre) {
    if (!szNombre) return -1;
    std::lock_guard<std::mutex> lk(tMutexUsuarios);
    // Records are freed anywhere in the table: look through all of them.
    for (int i = 0; i < MAX_USUARIOS; i++)
        if (asUsuarios[i].acNombre[0] && !std::strcmp(asUsuarios[i].acNombre, szNombre)) return i;
    return -1;
}

bool CTablaUsuariosSip::Dame(int i, UsuarioSipua* psCopia) {
    if (i < 0 || i >= MAX_USUARIOS) return false;
    std::lock_guard<std::mutex> lk(tMutexUsuarios);
    if (!asUsuarios[i].acNombre[0]) return false;
    if (psCopia) *psCopia = asUsuarios[i];
    return true;
}

bool CTablaUsuariosSip::Codecs(int i, ListaCodecs* psCopia, int* piTipo) {
    UsuarioSipua u;
    if (!Dame(i, &u)) return false;
    if (psCopia) *psCopia = u.sCodecs;
    if (piTipo) *piTipo = u.iTipo;
    return true;
}

void CTablaUsuariosSip::Lista() {
    std::lock_guard<std::mutex> lk(tMutexUsuarios);
    for (int i = 0; i < MAX_USUARIOS; i++) {
        const UsuarioSipua& u = asUsuarios[i];
        if (!u.acNombre[0]) continue;
        const int e = u.iEstadoRegistro >= 0 && u.iEstadoRegistro <= 3 ? u.iEstadoRegistro : 0;
        NLOG::Log(NLOG::INFO, "SIPUsuario %i - %s estado: %s rid: %i", i, u.acNombre, kEstadosRegistro[e], u.iRid);
    }
}

const char* CTablaUsuariosSip::TextoVersionWG67(int i, const char* szDefecto) {
    if (i < 0) return szDefecto ? szDefecto : "legacy-eu.01";
    int iTipo = 0;
    if (!Codecs(i, nullptr, &iTipo)) return szDefecto ? szDefecto : "legacy-eu.01";
    if (iTipo < 0 || iTipo > 5) iTipo = 0;
    return kVersionWG67[iTipo];
}

void CTablaUsuariosSip::FijaServidores(const char* pRegistrar, const char* pProxy) {
    std::lock_guard<std::mutex> lk(tMutexUsuarios);
    for (int i = 0; i < 3; i++) {
        if (pRegistrar) std::snprintf(acRegistrar[i], sizeof acRegistrar[i], "%.64s", pRegistrar + 65 * i);
        if (pProxy) std::snprintf(acProxy[i], sizeof acProxy[i], "%.64s", pProxy + 65 * i);
    }
}

bool CTablaUsuariosSip::DameParaRegistro(int i, UsuarioSipua* psCopia, char* acRegistrarUri, size_t n) {
    if (i < 0 || i >= MAX_USUARIOS) return false;
    std::lock_guard<std::mutex> lk(tMutexUsuarios);
    if (!asUsuarios[i].acNombre[0]) return false;
    *psCopia = asUsuarios[i];
    std::snprintf(acRegistrarUri, n, "sip:%s", acRegistrar[0]);
    return true;
}

void CTablaUsuariosSip::AnotaRegistro(int i, const char* szNombre, int iEstado, uint32_t uiProximo, int rid) {
    if (i < 0 || i >= MAX_USUARIOS) return;
    std::lock_guard<std::mutex> lk(tMutexUsuarios);
    UsuarioSipua& r = asUsuarios[i];
    if (!std::strcmp(r.acNombre, szNombre)) {
        r.iEstadoRegistro = iEstado;
        r.uiProximoRegistro = uiProximo;
        if (rid > 0) r.iRid = rid;
    }
}

int CTablaUsuariosSip::FijaEstadoPorRid(int rid, int iEstado, bool bFija) {
    std::lock_guard<std::mutex> lk(tMutexUsuarios);
    for (int i = 0; i < MAX_USUARIOS; i++)
        if (asUsuarios[i].acNombre[0] && asUsuarios[i].iRid == rid) {
            if (bFija) asUsuarios[i].iEstadoRegistro = iEstado;
            return i;
        }
    return -1;
}
