#include "cplaca.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "hardware/hwcodigos.h"

using namespace hwcod;

bool Numero(const std::string& s, uint32_t* pui) {
    if (s.empty()) return false;
    char* fin = nullptr;
    errno = 0;
    long long v = std::strtoll(s.c_str(), &fin, 0);
    if (*fin || errno) return false;
    *pui = static_cast<uint32_t>(v);
    return true;
}

std::string Hex(uint32_t v) {
    char ac[16];
    snprintf(ac, sizeof(ac), "0x%X", v);
    return ac;
}

namespace {

constexpr size_t MAX_DIARIO = 200000;
constexpr uint8_t SILENCIO_ALAW = 0xD5;
constexpr size_t CAPACIDAD_SALIDA_PCM = 8000;  // one second towards the line
constexpr int NUM_MODULOS = 16;
constexpr int NUM_CANALES = 64;

std::string Lista(const std::set<uint32_t>& s) {
    std::string r;
    for (uint32_t v : s) r += (r.empty() ? "" : " ") + std::to_string(v);
    return r;
}

// ---- /dev/esdiscretas ---------------------------------------------------------------------

class CDiscretas : public CModeloDispositivo {
public:
    explicit CDiscretas(CPlaca& placa) : p(placa) {}
    int Peticion(uint32_t c, uint32_t v, uint32_t* r) override {
        std::lock_guard<std::mutex> l(p.tMutex);
        *r = 0;
        switch (c) {
            case E0_ESTADO: *r = p.uiEstado; return 0;
            case E3_ENTRADA: {
                auto it = p.mEntradas.find(v);
                *r = it == p.mEntradas.end() ? 0 : it->second;
                return 0;
            }
            case E6: return 0;
            case E7_TIEMPO: *r = p.Tick(); return 0;
            case E8_ID_SLOT: if (v > 3) return EINVAL; *r = p.auiId8[v]; return 0;
            case E12_ID_SLOT2: if (v > 3) return EINVAL; *r = p.auiId12[v]; return 0;
            case E10_INDICE: p.uiE10 = v; return 0;
            case E11_TIPO: *r = p.uiTipo; return 0;
            case E14_MODO_SLOTS: *r = p.uiModoSlots; return 0;
            case E15_ESTADO_FA: *r = p.uiFuente; return 0;
            case E16_LADO: *r = p.uiLado; return 0;
            case E16_RESET_DSP:
                if (p.uiLineaResetDsp == 0 && v != 0) p.PulsoResetDsp();
                p.uiLineaResetDsp = v ? 1 : 0;
                return 0;
            case S0_LED1: p.auiLeds[1] = v; return 0;
            case S13_LED0: p.auiLeds[0] = v; return 0;
            case S14_LED2: p.auiLeds[2] = v; return 0;
            case S1_CONECTA: p.sPuntos.insert(v); return 0;
            case S2_DESCONECTA: p.sPuntos.erase(v); return 0;
            case S3_ACTIVA: p.sSalidas.insert(v); return 0;
            case S4_DESACTIVA: p.sSalidas.erase(v); return 0;
            case S8_TX_ON: p.sSlotsTx.insert(v); return 0;
            case S9_TX_OFF: p.sSlotsTx.erase(v); return 0;
            case S17_RX_ON: p.sSlotsRx.insert(v); return 0;
            case S18_RX_OFF: p.sSlotsRx.erase(v); return 0;
            case S19_ENTORNO: p.uiEntorno = v; return 0;
            default: return ENOTTY;
        }
    }
    int Aviso(pid_t iPid, pid_t iHilo) override {
        std::lock_guard<std::mutex> l(p.tMutex);
        p.sAvisos.insert({iPid, iHilo});
        return 0;
    }

private:
    CPlaca& p;
};

// ---- /dev/rtimer --------------------------------------------------------------------------

class CRtimer : public CModeloDispositivo {
public:
    explicit CRtimer(CPlaca& placa) : p(placa) {}
    int Peticion(uint32_t c, uint32_t v, uint32_t* r) override {
        std::lock_guard<std::mutex> l(p.tMutex);
        switch (c) {
            case R0_CUENTA: {
                auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(CPlaca::Reloj::now().time_since_epoch());
                unsigned __int128 cuentas = static_cast<unsigned __int128>(ns.count()) * p.uiRitmoRtimer / 1000000000u;
                *r = 65535u - static_cast<uint32_t>(cuentas % 65536u);
                return 0;
            }
            case R1_DIVISOR: *r = p.uiRitmoRtimer; return 0;
            case R3: p.uiR3 = v; *r = 0; return 0;
            default: return ENOTTY;
        }
    }

private:
    CPlaca& p;
};

// ---- /dev/mtifm%d -------------------------------------------------------------------------

class CMtifm : public CModeloDispositivo {
public:
    CMtifm(CPlaca& placa, int iModulo) : p(placa), m(*placa.apModulos[static_cast<size_t>(iModulo)]) {
        std::lock_guard<std::mutex> l(p.tMutex);
        ullVisto = m.ullSecuencia;
        bInicial = m.uiPalabra != 0;  // a line already off-hook is reported on the first read
        m.uiAbiertos++;
    }
    ~CMtifm() override {
        std::lock_guard<std::mutex> l(p.tMutex);
        m.uiAbiertos--;
    }
    int Peticion(uint32_t c, uint32_t v, uint32_t* r) override {
        std::lock_guard<std::mutex> l(p.tMutex);
        *r = 0;
        auto escrito = [&](uint32_t cod, uint32_t def) {
            auto it = m.mEscritos.find(cod);
            return it == m.mEscritos.end() ? def : it->second;
        };
        if (c & 0x80000000u) {  // write requests
            if ((c & 0xFF00u) != 0x4D00u) return ENOTTY;
            m.mEscritos[c] = v;
            if (c == M1_MODO) m.bDesajuste = false;
            if (c == M26_RESET) m.uiResets++;
            // The line's received audio is muted until its Rx gain is written again.
            if (c == M29_SILENCIO_RX) m.bSilencioRx = true;
            if (c == M24_GAN_RX) m.bSilencioRx = false;
            return 0;
        }
        switch (c) {
            case M2_LEE_MODO: *r = escrito(M1_MODO, 0) + (m.bDesajuste ? 1000 : 0); return 0;
            case M16_LEE_TS_TX: *r = escrito(M21_TS_TX, 0xFFFFFFFFu); return 0;
            case M17_LEE_TS_RX: *r = escrito(M22_TS_RX, 0xFFFFFFFFu); return 0;
            case M19_LEE_GAN_RX: *r = escrito(M24_GAN_RX, 0) + OFFSET_GAN_RX; return 0;
            case M20_LEE_GAN_TX: *r = escrito(M25_GAN_TX, 0) + OFFSET_GAN_TX; return 0;
            case M22_LEE_VERSION: *r = m.uiVersion; return 0;
            case M23_LEE: return 0;
            default: return ENOTTY;
        }
    }
    // State words, each change once; with no change the read waits about a second.
    int Lee(size_t n, std::string* ps) override {
        std::unique_lock<std::mutex> l(p.tMutex);
        size_t iMax = std::min<size_t>(n / 2, 50);
        if (iMax == 0) return 0;
        if (bInicial) {
            bInicial = false;
            ullVisto = m.ullSecuencia;
            uint16_t w = static_cast<uint16_t>(m.uiPalabra);
            ps->assign(reinterpret_cast<const char*>(&w), 2);
            return 0;
        }
        p.cvModulos.wait_for(l, std::chrono::seconds(1), [&] { return m.ullSecuencia != ullVisto; });
        std::vector<uint16_t> palabras;
        for (const auto& c : m.dCambios)
            if (c.first > ullVisto) palabras.push_back(c.second);
        ullVisto = m.ullSecuencia;
        if (palabras.size() > iMax) palabras.erase(palabras.begin(), palabras.end() - static_cast<long>(iMax));
        ps->assign(reinterpret_cast<const char*>(palabras.data()), palabras.size() * 2);
        return 0;
    }

private:
    CPlaca& p;
    CPlaca::Modulo& m;
    uint64_t ullVisto;
    bool bInicial;
};

// ---- /dev/pcm%d ---------------------------------------------------------------------------

// The board's PCM clock is hardware that keeps time whatever the processors do. A thread
// that paces reads takes real-time scheduling, above the system's own real-time threads,
// where the simulator may; where it may not it stays as it is. The system's setting VK_NO_RT
// does not apply: the simulator is not part of the system.
void PasaATiempoReal() {
    thread_local bool bHecho = false;
    if (bHecho) return;
    bHecho = true;
    sched_param sp{};
    sp.sched_priority = sched_get_priority_min(SCHED_FIFO) + 10;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &sp);
}

class CPcm : public CModeloDispositivo {
public:
    CPcm(CPlaca& placa, int iCanal) : p(placa), c(*placa.apCanales[static_cast<size_t>(iCanal)]) {}
    int Peticion(uint32_t cod, uint32_t v, uint32_t* r) override {
        std::lock_guard<std::mutex> l(p.tMutex);
        *r = 0;
        c.Drena(CPlaca::Reloj::now());
        switch (cod) {
            case P1: c.uiP1 = v; return 0;
            case P4: c.uiP4 = v; return 0;
            case P5_ABRE: c.uiP5 = v; return 0;
            case P3_ESTADO: *r = static_cast<uint32_t>(c.dSalida.size()); return 0;
            case P6_MUESTRAS: *r = c.uiDrenadasConsulta; c.uiDrenadasConsulta = 0; return 0;
            case P10: return 0;
            default: return ENOTTY;
        }
    }
    // Paced at 8,000 bytes per second on absolute deadlines, so the pace never drifts.
    int Lee(size_t n, std::string* ps) override {
        PasaATiempoReal();
        CPlaca::Reloj::time_point tFin;
        {
            std::lock_guard<std::mutex> l(p.tMutex);
            auto tAhora = CPlaca::Reloj::now();
            // Like the driver's buffer, up to half a second of audio waits for a late reader, who
            // then catches up at once; a reader that stopped for longer starts a fresh pace.
            if (c.tProximaLectura < tAhora - std::chrono::milliseconds(500)) c.tProximaLectura = tAhora;
            c.tProximaLectura += std::chrono::microseconds(n * 125);
            tFin = c.tProximaLectura;
        }
        std::this_thread::sleep_until(tFin);
        std::lock_guard<std::mutex> l(p.tMutex);
        ps->assign(n, static_cast<char>(SILENCIO_ALAW));
        for (size_t i = 0; i < n && !c.dEntrada.empty(); i++) {
            (*ps)[i] = static_cast<char>(c.dEntrada.front());
            c.dEntrada.pop_front();
        }
        return 0;
    }
    int Escribe(const uint8_t* pDatos, size_t n, uint32_t* puiEscritos) override {
        std::lock_guard<std::mutex> l(p.tMutex);
        c.Drena(CPlaca::Reloj::now());
        size_t iLibre = CAPACIDAD_SALIDA_PCM - c.dSalida.size();
        size_t k = std::min(n, iLibre);
        c.dSalida.insert(c.dSalida.end(), pDatos, pDatos + k);
        *puiEscritos = static_cast<uint32_t>(k);
        return 0;
    }

private:
    CPlaca& p;
    CPlaca::CanalPcm& c;
};

// ---- /dev/simboard-eco: not on the board; checks the message and memory-write calls -------

// Messages come back one per read, in order; memory writes are reported as messages
// "W <address> <words...>" so a test sees that they never mix with messages.
class CEco : public CModeloDispositivo {
public:
    int LeeMensaje(size_t iCapacidad, std::string* ps) override {
        std::lock_guard<std::mutex> l(m);
        if (dMensajes.empty()) return 0;
        *ps = dMensajes.front().substr(0, iCapacidad);
        dMensajes.pop_front();
        return 0;
    }
    int EscribeMensaje(const uint8_t* p, size_t n, uint32_t* puiEscritos) override {
        std::lock_guard<std::mutex> l(m);
        dMensajes.emplace_back(reinterpret_cast<const char*>(p), n);
        *puiEscritos = static_cast<uint32_t>(n);
        return 0;
    }
    int FijaDireccion(uint32_t uiDireccion) override {
        std::lock_guard<std::mutex> l(m);
        uiDireccion_ = uiDireccion;
        return 0;
    }
    int EscribePalabras(const uint32_t* pui, size_t n) override {
        std::lock_guard<std::mutex> l(m);
        std::string s = "W " + Hex(uiDireccion_);
        for (size_t i = 0; i < n; i++) s += " " + Hex(pui[i]);
        dMensajes.push_back(s);
        uiDireccion_ += static_cast<uint32_t>(4 * n);
        return 0;
    }

private:
    std::mutex m;  // guards the queue and the address
    std::deque<std::string> dMensajes;
    uint32_t uiDireccion_ = 0;
};

// "/dev/name%d" with %d in [0, limite): the number, or -1.
int NumeroDispositivo(const std::string& sRuta, const std::string& sPrefijo, int iLimite) {
    if (sRuta.compare(0, sPrefijo.size(), sPrefijo) != 0) return -1;
    std::string s = sRuta.substr(sPrefijo.size());
    if (s.empty() || s.size() > 2 || !std::all_of(s.begin(), s.end(), ::isdigit)) return -1;
    int n = std::atoi(s.c_str());
    return n < iLimite ? n : -1;
}

}  // namespace

void CPlaca::CanalPcm::Drena(Reloj::time_point tAhora) {
    if (dSalida.empty()) {
        // Time without data is not credited: the next byte starts a fresh pace.
        tRefDrenaje = tAhora;
        ullDrenadasRef = 0;
        return;
    }
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(tAhora - tRefDrenaje).count();
    uint64_t ullDebidas = static_cast<uint64_t>(ns) * 8000u / 1000000000u;
    if (ullDebidas <= ullDrenadasRef) return;
    size_t k = std::min<uint64_t>(ullDebidas - ullDrenadasRef, dSalida.size());
    if (!sFicheroCaptura.empty()) {
        std::string s(dSalida.begin(), dSalida.begin() + static_cast<long>(k));
        std::ofstream f(sFicheroCaptura, std::ios::binary | std::ios::app);
        f.write(s.data(), static_cast<std::streamsize>(s.size()));
    }
    dSalida.erase(dSalida.begin(), dSalida.begin() + static_cast<long>(k));
    ullDrenadasRef += k;
    uiDrenadasConsulta += static_cast<uint32_t>(k);
    if (dSalida.empty()) {
        tRefDrenaje = tAhora;
        ullDrenadasRef = 0;
    }
}

CPlaca::CPlaca() : tInicio(Reloj::now()) {
    for (int i = 0; i < NUM_MODULOS; i++) apModulos.emplace_back(new Modulo());
    for (int i = 0; i < NUM_CANALES; i++) apCanales.emplace_back(new CanalPcm());
    RegistraBasicos();
}

CPlaca::~CPlaca() = default;

uint32_t CPlaca::Tick() {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Reloj::now().time_since_epoch()).count();
    return static_cast<uint32_t>(static_cast<int64_t>(ms / 10) + llOffsetTick);
}

void CPlaca::FijaEntrada(uint32_t uiIndice, uint32_t uiValor) {
    uint32_t& v = mEntradas[uiIndice];
    if (v == uiValor) return;
    v = uiValor;
    // The thread id is the client's own: when the client sits in another PID namespace it
    // does not name a thread here, and the process as a whole gets the signal.
    for (auto it = sAvisos.begin(); it != sAvisos.end();) {
        bool bVivo = syscall(SYS_tgkill, it->first, it->second, SIGIO) == 0 || kill(it->first, SIGIO) == 0;
        it = bVivo ? std::next(it) : sAvisos.erase(it);
    }
}

void CPlaca::PulsoResetDsp() {
    uiPulsosResetDsp++;
    for (auto& fn : aResetDsp) fn();
}

void CPlaca::RegistraDispositivo(const std::string& sPrefijo, FnAbre fnAbre) {
    aDispositivos.emplace_back(sPrefijo, std::move(fnAbre));
}

void CPlaca::RegistraOrden(const std::string& sPalabra, const std::string& sAyuda, FnOrden fnOrden) {
    mOrdenes[sPalabra] = Orden_{sAyuda, std::move(fnOrden)};
}

void CPlaca::SuscribeResetDsp(std::function<void()> fn) { aResetDsp.push_back(std::move(fn)); }

int CPlaca::Abre(const std::string& sRuta, std::unique_ptr<CModeloDispositivo>* pp) {
    for (auto& d : aDispositivos)
        if (sRuta.compare(0, d.first.size(), d.first) == 0) return d.second(sRuta, pp);
    return ENOENT;
}

bool CPlaca::Rechaza(uint32_t uiCodigo) {
    std::lock_guard<std::mutex> l(tMutex);
    auto it = mRechazos.find(uiCodigo);
    if (it == mRechazos.end()) return false;
    if (it->second > 0 && --it->second == 0) mRechazos.erase(it);
    return true;
}

void CPlaca::Mantenimiento() {
    std::lock_guard<std::mutex> l(tMutex);
    auto t = Reloj::now();
    for (auto& c : apCanales) c->Drena(t);
}

void CPlaca::Anota(pid_t iPid, const std::string& sProceso, const std::string& sDispositivo, const char* szOperacion,
                   uint32_t uiCodigo, uint32_t uiValor, int iError, uint32_t uiResultado) {
    double dMs = std::chrono::duration<double, std::milli>(Reloj::now() - tInicio).count();
    std::lock_guard<std::mutex> l(tMutexDiario);
    if (dDiario.size() >= MAX_DIARIO) dDiario.pop_front();
    dDiario.push_back(Anotacion{dMs, iPid, sProceso, sDispositivo, szOperacion, uiCodigo, uiValor, uiResultado, iError});
}

std::string CPlaca::Diario(size_t iMaximo) {
    std::lock_guard<std::mutex> l(tMutexDiario);
    std::string s;
    size_t iDesde = dDiario.size() > iMaximo ? dDiario.size() - iMaximo : 0;
    char ac[512];
    for (size_t i = iDesde; i < dDiario.size(); i++) {
        const Anotacion& a = dDiario[i];
        if (a.iError)
            snprintf(ac, sizeof(ac), "%.3f %d %s %s %s 0x%08X 0x%X error %s\n", a.dMs, a.iPid, a.sProceso.c_str(),
                     a.sDispositivo.c_str(), a.szOperacion, a.uiCodigo, a.uiValor, strerror(a.iError));
        else
            snprintf(ac, sizeof(ac), "%.3f %d %s %s %s 0x%08X 0x%X -> 0x%X\n", a.dMs, a.iPid, a.sProceso.c_str(),
                     a.sDispositivo.c_str(), a.szOperacion, a.uiCodigo, a.uiValor, a.uiResultado);
        s += ac;
    }
    return s;
}

int CPlaca::Orden(const std::string& sTexto, std::string* psRespuesta) {
    std::istringstream is(sTexto);
    std::vector<std::string> as;
    for (std::string w; is >> w;) as.push_back(w);
    if (as.empty()) as.push_back("ayuda");
    if (as[0] == "ayuda") {
        for (auto& o : mOrdenes) *psRespuesta += o.first + " " + o.second.sAyuda + "\n";
        return 0;
    }
    auto it = mOrdenes.find(as[0]);
    if (it == mOrdenes.end()) {
        *psRespuesta = "orden desconocida: " + as[0] + " (ayuda lista las ordenes)\n";
        return EINVAL;
    }
    return it->second.fn(as, psRespuesta);
}

void CPlaca::RegistraBasicos() {
    RegistraDispositivo("/dev/esdiscretas", [this](const std::string& s, std::unique_ptr<CModeloDispositivo>* pp) {
        if (s != "/dev/esdiscretas") return ENOENT;
        pp->reset(new CDiscretas(*this));
        return 0;
    });
    RegistraDispositivo("/dev/rtimer", [this](const std::string& s, std::unique_ptr<CModeloDispositivo>* pp) {
        if (s != "/dev/rtimer") return ENOENT;
        pp->reset(new CRtimer(*this));
        return 0;
    });
    RegistraDispositivo("/dev/mtifm", [this](const std::string& s, std::unique_ptr<CModeloDispositivo>* pp) {
        int n = NumeroDispositivo(s, "/dev/mtifm", NUM_MODULOS);
        if (n < 0) return ENOENT;
        {
            std::lock_guard<std::mutex> l(tMutex);
            if (apModulos[static_cast<size_t>(n)]->bFalloApertura) return ENODEV;
        }
        pp->reset(new CMtifm(*this, n));
        return 0;
    });
    RegistraDispositivo("/dev/simboard-eco", [](const std::string& s, std::unique_ptr<CModeloDispositivo>* pp) {
        if (s != "/dev/simboard-eco") return ENOENT;
        pp->reset(new CEco());
        return 0;
    });
    RegistraDispositivo("/dev/pcm", [this](const std::string& s, std::unique_ptr<CModeloDispositivo>* pp) {
        int n = NumeroDispositivo(s, "/dev/pcm", NUM_CANALES);
        if (n < 0) return ENOENT;
        pp->reset(new CPcm(*this, n));
        return 0;
    });

    // A value command: with no argument reports the field, with one sets it.
    auto valor = [this](const std::string& sNombre, uint32_t* pui, const std::string& sAyuda) {
        RegistraOrden(sNombre, sAyuda, [this, pui](const std::vector<std::string>& a, std::string* r) {
            std::lock_guard<std::mutex> l(tMutex);
            if (a.size() > 1 && !Numero(a[1], pui)) return EINVAL;
            *r = Hex(*pui) + "\n";
            return 0;
        });
    };
    valor("estado", &uiEstado, "[PALABRA]  palabra de estado E0 (bit 2 hardware OK, bit 0 sin interfaz de modulos)");
    valor("tipo", &uiTipo, "[PALABRA]  tipo de placa E11");
    valor("fa", &uiFuente, "[V]  estado de la fuente de alimentacion E15");
    valor("lado", &uiLado, "[V]  lado de la placa E16");
    valor("modoslots", &uiModoSlots, "[V]  modo de slots E14");
    valor("entorno", &uiEntorno, "  conexion dual de entorno S19");
    valor("rtimer", &uiRitmoRtimer, "[RITMO]  cuentas por segundo del contador de 16 bits");

    RegistraOrden("tick", "[N]  tick de 10 ms (fijarlo permite probar la vuelta de 2^32)",
                  [this](const std::vector<std::string>& a, std::string* r) {
                      std::lock_guard<std::mutex> l(tMutex);
                      uint32_t v;
                      if (a.size() > 1) {
                          if (!Numero(a[1], &v)) return EINVAL;
                          llOffsetTick += static_cast<int32_t>(v - Tick());
                      }
                      *r = std::to_string(Tick()) + "\n";
                      return 0;
                  });
    RegistraOrden("id", "SLOT [E8 E12]  palabras de identidad de un slot",
                  [this](const std::vector<std::string>& a, std::string* r) {
                      std::lock_guard<std::mutex> l(tMutex);
                      uint32_t s, e8, e12;
                      if (a.size() < 2 || !Numero(a[1], &s) || s > 3) return EINVAL;
                      if (a.size() > 3) {
                          if (!Numero(a[2], &e8) || !Numero(a[3], &e12)) return EINVAL;
                          auiId8[s] = e8;
                          auiId12[s] = e12;
                      }
                      *r = Hex(auiId8[s]) + " " + Hex(auiId12[s]) + "\n";
                      return 0;
                  });
    RegistraOrden("entrada", "INDICE [V]  nivel de una entrada discreta (E3)",
                  [this](const std::vector<std::string>& a, std::string* r) {
                      std::lock_guard<std::mutex> l(tMutex);
                      uint32_t i, v;
                      if (a.size() < 2 || !Numero(a[1], &i)) return EINVAL;
                      if (a.size() > 2) {
                          if (!Numero(a[2], &v)) return EINVAL;
                          FijaEntrada(i, v);
                      }
                      *r = std::to_string(mEntradas[i]) + "\n";
                      return 0;
                  });
    RegistraOrden("presencia", "MODULO 0|1  modulo de linea ausente (0) o presente (1)",
                  [this](const std::vector<std::string>& a, std::string* r) {
                      std::lock_guard<std::mutex> l(tMutex);
                      uint32_t m, v;
                      if (a.size() < 3 || !Numero(a[1], &m) || m > 3 || !Numero(a[2], &v)) return EINVAL;
                      FijaEntrada(128 + 4 * m, v ? 0 : 1);
                      *r = "ok\n";
                      return 0;
                  });
    RegistraOrden("leds", "  LED 0, 1 y 2 (9 encendido, 0 apagado)",
                  [this](const std::vector<std::string>&, std::string* r) {
                      std::lock_guard<std::mutex> l(tMutex);
                      *r = std::to_string(auiLeds[0]) + " " + std::to_string(auiLeds[1]) + " " +
                           std::to_string(auiLeds[2]) + "\n";
                      return 0;
                  });
    auto conjunto = [this](const std::string& sNombre, std::set<uint32_t>* ps, const std::string& sAyuda) {
        RegistraOrden(sNombre, sAyuda, [this, ps](const std::vector<std::string>&, std::string* r) {
            std::lock_guard<std::mutex> l(tMutex);
            *r = Lista(*ps) + "\n";
            return 0;
        });
    };
    conjunto("salidas", &sSalidas, "  salidas discretas activas (S3/S4)");
    conjunto("puntos", &sPuntos, "  puntos de conmutacion conectados (S1/S2)");
    conjunto("slotstx", &sSlotsTx, "  slots de audio de transmision habilitados (S8/S9)");
    conjunto("slotsrx", &sSlotsRx, "  slots de audio de recepcion habilitados (S17/S18)");
    RegistraOrden("resetdsp", "  pulsos de la linea de reset del DSP y su nivel",
                  [this](const std::vector<std::string>&, std::string* r) {
                      std::lock_guard<std::mutex> l(tMutex);
                      *r = std::to_string(uiPulsosResetDsp) + " " + std::to_string(uiLineaResetDsp) + "\n";
                      return 0;
                  });
    RegistraOrden("rechaza", "PETICION [N]  rechaza las N siguientes (por defecto todas; 0 deja de rechazar)",
                  [this](const std::vector<std::string>& a, std::string* r) {
                      std::lock_guard<std::mutex> l(tMutex);
                      uint32_t c, n = 0xFFFFFFFFu;
                      if (a.size() < 2 || !Numero(a[1], &c) || (a.size() > 2 && !Numero(a[2], &n))) return EINVAL;
                      if (n == 0)
                          mRechazos.erase(c);
                      else
                          mRechazos[c] = static_cast<int>(n);
                      *r = "ok\n";
                      return 0;
                  });

    // Line modules: state words and faults.
    auto palabra = [this](const std::string& sNombre, uint32_t uiPon, uint32_t uiQuita, const std::string& sAyuda) {
        RegistraOrden(sNombre, sAyuda, [this, uiPon, uiQuita](const std::vector<std::string>& a, std::string* r) {
            uint32_t m, w = 0;
            if (a.size() < 2 || !Numero(a[1], &m) || m >= NUM_MODULOS) return EINVAL;
            if (!uiPon && !uiQuita && (a.size() < 3 || !Numero(a[2], &w))) return EINVAL;
            std::lock_guard<std::mutex> l(tMutex);
            Modulo& mod = *apModulos[m];
            uint32_t uiNueva = (uiPon || uiQuita) ? ((mod.uiPalabra | uiPon) & ~uiQuita) : (w & 0xFFFF);
            if (uiNueva != mod.uiPalabra) {
                mod.uiPalabra = uiNueva;
                mod.dCambios.emplace_back(++mod.ullSecuencia, static_cast<uint16_t>(uiNueva));
                if (mod.dCambios.size() > 50) mod.dCambios.pop_front();
                cvModulos.notify_all();
            }
            *r = Hex(mod.uiPalabra) + "\n";
            return 0;
        });
    };
    palabra("descuelga", 0x0001, 0, "MODULO  cierra el bucle (descolgado)");
    palabra("cuelga", 0, 0x0001, "MODULO  abre el bucle (colgado)");
    palabra("llama", 0x0002, 0, "MODULO  timbre detectado en la linea");
    palabra("finllama", 0, 0x0002, "MODULO  fin del timbre");
    palabra("ocupa", 0x0008, 0, "MODULO  ocupacion E&M");
    palabra("libera", 0, 0x0008, "MODULO  fin de ocupacion E&M");
    palabra("fallo", 0x0100, 0, "MODULO  fallo de acceso al modulo");
    palabra("finfallo", 0, 0x0100, "MODULO  fin del fallo");
    palabra("palabra", 0, 0, "MODULO PALABRA  palabra de estado completa");
    RegistraOrden("slic", "MODULO  registros escritos y contadores de un modulo",
                  [this](const std::vector<std::string>& a, std::string* r) {
                      uint32_t m;
                      if (a.size() < 2 || !Numero(a[1], &m) || m >= NUM_MODULOS) return EINVAL;
                      std::lock_guard<std::mutex> l(tMutex);
                      Modulo& mod = *apModulos[m];
                      auto e = [&](uint32_t c) {
                          auto it = mod.mEscritos.find(c);
                          return it == mod.mEscritos.end() ? std::string("-") : std::to_string(static_cast<int32_t>(it->second));
                      };
                      *r = "modo=" + e(M1_MODO) + " conv=" + e(M2_CONV) + " ring=" + e(M3_RING) +
                           " linea=" + e(M5_LINEA) + " tstx=" + e(M21_TS_TX) + " tsrx=" + e(M22_TS_RX) +
                           " gantx=" + e(M25_GAN_TX) + " ganrx=" + e(M24_GAN_RX) + " codec=" + e(M20_CODEC) +
                           " m10=" + e(M10) + " m14=" + e(M14) + " resets=" + std::to_string(mod.uiResets) +
                           " version=" + std::to_string(mod.uiVersion) + " palabra=" + Hex(mod.uiPalabra) +
                           " abiertos=" + std::to_string(mod.uiAbiertos) +
                           " silenciorx=" + std::to_string(mod.bSilencioRx) + "\n";
                      return 0;
                  });
    // Fault injection on one module: MODULO [V], applied under the model's lock.
    auto falla = [this](const std::string& sNombre, bool bConValor, const std::string& sAyuda,
                        std::function<void(Modulo&, uint32_t)> fn) {
        RegistraOrden(sNombre, sAyuda, [this, bConValor, fn](const std::vector<std::string>& a, std::string* r) {
            uint32_t m, v = 0;
            if (a.size() < (bConValor ? 3u : 2u) || !Numero(a[1], &m) || m >= NUM_MODULOS) return EINVAL;
            if (bConValor && !Numero(a[2], &v)) return EINVAL;
            std::lock_guard<std::mutex> l(tMutex);
            fn(*apModulos[m], v);
            *r = "ok\n";
            return 0;
        });
    };
    falla("desajuste", false, "MODULO  la lectura del modo no coincide hasta la siguiente escritura de modo",
          [](Modulo& m, uint32_t) { m.bDesajuste = true; });
    falla("version", true, "MODULO V  version que informa el modulo (15 o 16 las esperadas)",
          [](Modulo& m, uint32_t v) { m.uiVersion = v; });
    falla("falloapertura", true, "MODULO 0|1  la apertura del modulo falla",
          [](Modulo& m, uint32_t v) { m.bFalloApertura = v != 0; });

    // Audio.
    RegistraOrden("inyecta", "CANAL FICHERO  audio G.711 que leera el canal (luego silencio)",
                  [this](const std::vector<std::string>& a, std::string* r) {
                      uint32_t c;
                      if (a.size() < 3 || !Numero(a[1], &c) || c >= NUM_CANALES) return EINVAL;
                      std::ifstream f(a[2], std::ios::binary);
                      if (!f) {
                          *r = "no se puede leer " + a[2] + "\n";
                          return ENOENT;
                      }
                      std::string s((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
                      std::lock_guard<std::mutex> l(tMutex);
                      apCanales[c]->dEntrada.insert(apCanales[c]->dEntrada.end(), s.begin(), s.end());
                      *r = std::to_string(s.size()) + "\n";
                      return 0;
                  });
    // A command on one channel: CANAL [...], run under the model's lock once the channel has
    // drained what is due by now.
    auto enCanal = [this](const std::string& sNombre, const std::string& sAyuda,
                          std::function<void(CanalPcm&, const std::vector<std::string>&, std::string*)> fn) {
        RegistraOrden(sNombre, sAyuda, [this, fn](const std::vector<std::string>& a, std::string* r) {
            uint32_t c;
            if (a.size() < 2 || !Numero(a[1], &c) || c >= NUM_CANALES) return EINVAL;
            std::lock_guard<std::mutex> l(tMutex);
            CanalPcm& canal = *apCanales[c];
            canal.Drena(Reloj::now());
            fn(canal, a, r);
            return 0;
        });
    };
    enCanal("captura", "CANAL [FICHERO]  guarda en FICHERO lo que el canal envia a la linea (sin FICHERO termina)",
            [](CanalPcm& canal, const std::vector<std::string>& a, std::string* r) {
                canal.sFicheroCaptura = a.size() > 2 ? a[2] : std::string();
                if (!canal.sFicheroCaptura.empty()) std::ofstream(canal.sFicheroCaptura, std::ios::binary | std::ios::trunc);
                *r = "ok\n";
            });
    enCanal("pcm", "CANAL  bytes en cola hacia la linea y bytes inyectados pendientes",
            [](CanalPcm& canal, const std::vector<std::string>&, std::string* r) {
                *r = std::to_string(canal.dSalida.size()) + " " + std::to_string(canal.dEntrada.size()) + "\n";
            });
    RegistraOrden("diario", "[FICHERO]  diario de peticiones (proceso, tiempo, dispositivo, peticion, valor, resultado)",
                  [this](const std::vector<std::string>& a, std::string* r) {
                      if (a.size() > 1) {
                          std::ofstream f(a[1], std::ios::trunc);
                          f << Diario(MAX_DIARIO);
                          *r = f ? "ok\n" : "no se puede escribir " + a[1] + "\n";
                          return f ? 0 : EIO;
                      }
                      *r = Diario(400);
                      return 0;
                  });
}
