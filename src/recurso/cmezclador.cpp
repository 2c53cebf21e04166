#include "cmezclador.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "comun/nlog.h"

namespace {
// Wrap-around order of sample times.
bool Antes(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) < 0; }
}  // namespace

CMezclador::CMezclador(int32_t iCanales, int32_t iCap)
    : apsCanales(nullptr), iCapacidad(iCap) {
    iCanales = std::clamp(iCanales, 0, MAX_CANALES);
    apsCanales = new (std::nothrow) Canal*[MAX_CANALES]();
    if (!apsCanales) {
        NLOG::Log(NLOG::INFO, " - -- apsCanales=NULL");
        return;
    }
    for (int32_t i = 0; i < iCanales; i++) {
        Canal* c = new (std::nothrow) Canal;
        if (!c) break;
        c->pCola = new (std::nothrow) CColaMuestras(iCap);
        if (!c->pCola) {
            delete c;
            break;
        }
        apsCanales[i] = c;
        iNumCanales++;
    }
    NLOG::Log(NLOG::INFO, " -- -- Mezclador OK");
}

CMezclador::~CMezclador() {
    if (!apsCanales) return;
    for (int32_t i = 0; i < iNumCanales; i++) {
        delete apsCanales[i]->pCola;
        delete apsCanales[i];
    }
    delete[] apsCanales;
}

CMezclador::Canal* CMezclador::CanalActivo(int32_t i) const {
    if (i < 0 || i >= iNumCanales || !apsCanales[i]->iActivo) return nullptr;
    return apsCanales[i];
}

int32_t CMezclador::AbreCanal() {
    for (int32_t i = 0; i < iNumCanales; i++) {
        Canal* c = apsCanales[i];
        if (c->iActivo) continue;
        c->iActivo = 1;
        c->pCola->Vacia();
        iCanalesActivos++;
        return i;
    }
    return -1;
}

int32_t CMezclador::AbreCanal(int32_t iGuardaAntiguas) {
    int32_t i = AbreCanal();
    if (i >= 0) apsCanales[i]->pCola->FijaGuardaAntiguas(iGuardaAntiguas);
    return i;
}

void CMezclador::CierraCanal(int32_t i) {
    Canal* c = CanalActivo(i);
    if (!c) return;
    c->iActivo = 0;
    c->Sinc = 0;
    iCanalesActivos--;
}

int32_t CMezclador::MeteMuestras(int32_t i, const int32_t* pBloque, int32_t& n, const uint32_t* pTs) {
    Canal* c = CanalActivo(i);
    if (!c || !pBloque || n <= 0) {
        n = 0;
        return 0;
    }
    int32_t antes = c->pCola->Sincronizada();
    if (c->Sinc && pTs)
        c->pCola->InsertaTs(pBloque, n, *pTs + static_cast<uint32_t>(c->TSoffset));
    else
        c->pCola->Inserta(pBloque, n);
    if (antes && !c->pCola->Sincronizada()) c->Sinc = 0;
    return n;
}

void CMezclador::FijaOffset(int32_t i, uint32_t tsRemoto, uint32_t tsLocal) {
    Canal* c = CanalActivo(i);
    if (!c) return;
    // Added to the source's own times, the offset gives local play-out times.
    int32_t offset = static_cast<int32_t>(tsLocal - tsRemoto);
    if (c->Sinc)
        c->pCola->Sincroniza(c->pCola->DameTsCola() + static_cast<uint32_t>(offset - c->TSoffset));
    else
        c->pCola->Sincroniza(tsLocal);
    c->TSoffset = offset;
    c->Sinc = 1;
}

void CMezclador::EligeTs(int32_t n, uint32_t& ts, uint32_t tsAhora) const {
    int32_t cuenta = 0;
    bool hayJoven = false;
    uint32_t primero = 0;  // earliest head among the young channels
    uint32_t mejor = 0;    // earliest time from which every young channel can give n samples
    for (int32_t i = 0; i < iNumCanales; i++) {
        const Canal* c = apsCanales[i];
        const CColaMuestras* q = c->pCola;
        if (!c->iActivo || !c->Sinc || !q->Sincronizada() || q->Muestras() == 0) continue;
        cuenta++;
        uint32_t cabeza = q->DameTsCola();
        if (static_cast<int32_t>(tsAhora - cabeza) >= iCapacidad) continue;
        int32_t k = q->Muestras();
        uint32_t candidato = k > n ? cabeza + static_cast<uint32_t>(k - n) : cabeza;
        if (!hayJoven || Antes(cabeza, primero)) primero = cabeza;
        if (!hayJoven || Antes(candidato, mejor)) mejor = candidato;
        hayJoven = true;
    }
    if (!hayJoven) return;  // a lone stale channel keeps the time asked for
    if (Antes(mejor, primero)) mejor = primero;
    if (cuenta == 1 || Antes(ts, primero))
        ts = primero;
    else if (Antes(mejor, ts))
        ts = mejor;
}

void CMezclador::LeeCanal(Canal& c, int32_t* pDst, int32_t n, const uint32_t* pTs) {
    int32_t k = n;
    int32_t antes = c.pCola->Sincronizada();
    if (pTs && c.Sinc)
        c.pCola->ExtraeTs(pDst, k, *pTs);
    else
        c.pCola->Extrae(pDst, k);
    std::fill_n(pDst + k, n - k, iRelleno);
    if (antes && !c.pCola->Sincronizada()) c.Sinc = 0;
}

int32_t CMezclador::Mezcla(int32_t* pDst, int32_t& n, uint32_t* pTs, uint32_t tsAhora) {
    if (iCanalesActivos <= 0 || !pDst) {
        n = 0;
        return 0;
    }
    n = std::min({n, MAX_MUESTRAS_MEZCLA, MaxMuestras()});
    if (n <= 0) {
        n = 0;
        return 0;
    }
    if (pTs) EligeTs(n, *pTs, tsAhora);
    // Summed in 64 bits: sixteen channels of any 32-bit samples cannot overflow.
    int32_t aiBloque[MAX_MUESTRAS_MEZCLA];
    int64_t aiSuma[MAX_MUESTRAS_MEZCLA];
    std::fill_n(aiSuma, n, 0);
    for (int32_t i = 0; i < iNumCanales; i++) {
        Canal* c = apsCanales[i];
        if (!c->iActivo) continue;
        LeeCanal(*c, aiBloque, n, pTs);
        for (int32_t j = 0; j < n; j++) aiSuma[j] += aiBloque[j];
    }
    int64_t pico = 0;
    for (int32_t j = 0; j < n; j++) pico = std::max(pico, std::abs(aiSuma[j]));
    if (pico > PICO_MAXIMO) {
        float factor = static_cast<float>(pico) / static_cast<float>(PICO_MAXIMO);
        for (int32_t j = 0; j < n; j++) pDst[j] = static_cast<int32_t>(static_cast<float>(aiSuma[j]) / factor);
    } else {
        for (int32_t j = 0; j < n; j++) pDst[j] = static_cast<int32_t>(aiSuma[j]);
    }
    return n;
}

int32_t CMezclador::SacaSeleccionado(int32_t* pDst, int32_t& n, uint32_t* pTs, uint32_t tsAhora) {
    Canal* s = iCanalesActivos > 0 ? CanalActivo(iSeleccionado) : nullptr;
    if (!s || !pDst) {
        n = 0;
        return 0;
    }
    n = std::min({n, MAX_MUESTRAS_MEZCLA, s->pCola->Muestras()});
    if (n <= 0) {
        n = 0;
        return 0;
    }
    if (pTs) EligeTs(n, *pTs, tsAhora);
    int32_t aiBloque[MAX_MUESTRAS_MEZCLA];
    for (int32_t i = 0; i < iNumCanales; i++) {
        Canal* c = apsCanales[i];
        if (c->iActivo) LeeCanal(*c, c == s ? pDst : aiBloque, n, pTs);  // all advance together
    }
    return n;
}

int32_t CMezclador::Selecciona(int32_t i, int32_t iDato) {
    if (i < 0 || i >= iNumCanales) return -1;
    if (iSeleccionado >= 0 && iSeleccionado != i) apsCanales[iSeleccionado]->pCola->Vacia();
    if (apsCanales[i]->iActivo) {
        iSeleccionado = i;
        iDatoSeleccion = iDato;
    }
    return 0;
}

void CMezclador::Deselecciona() {
    if (iSeleccionado >= 0) apsCanales[iSeleccionado]->pCola->Vacia();
    iSeleccionado = -1;
}

void CMezclador::VaciaCanales() {
    for (int32_t i = 0; i < iNumCanales; i++)
        if (apsCanales[i]->iActivo) apsCanales[i]->pCola->Vacia();
}

int32_t CMezclador::MuestrasCanal(int32_t i) const {
    const Canal* c = CanalActivo(i);
    return c ? c->pCola->Muestras() : 0;
}

int32_t CMezclador::MaxMuestras() const {
    int32_t m = 0;
    for (int32_t i = 0; i < iNumCanales; i++)
        if (apsCanales[i]->iActivo) m = std::max(m, apsCanales[i]->pCola->Muestras());
    return m;
}

int32_t CMezclador::LibresCanal(int32_t i) const {
    const Canal* c = CanalActivo(i);
    return c ? c->pCola->Libres() : 0;
}

int32_t CMezclador::CanalSincronizado(int32_t i) const {
    const Canal* c = CanalActivo(i);
    if (!c) return -1;
    return c->Sinc && c->pCola->Sincronizada() ? 1 : 0;
}

void CMezclador::Estadisticas(uint32_t tsLocal, int (*salida)(const char*, ...)) const {
    salida("%d/%d canales.. TSlocal = %u\n", iCanalesActivos, iNumCanales, tsLocal);
    salida("Id\tTSoffset\tSinc\tsinCola\tmuestrasCola\ttsCola\tBalanceCola\n");
    salida("%s\n", "--------------------------------------------------------------------------");
    for (int32_t i = 0; i < iNumCanales; i++) {
        const Canal* c = apsCanales[i];
        if (!c->iActivo) continue;
        salida("%02d\t%11d\t%1d\t%1d\t%11d\t%11u\t%5d\n", i, c->TSoffset, c->Sinc, c->pCola->Sincronizada(),
               c->pCola->Muestras(), c->pCola->DameTsCola(), c->pCola->DameBalance());
    }
}
