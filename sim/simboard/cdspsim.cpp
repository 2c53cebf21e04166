#include "cdspsim.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cmodelodispositivo.h"
#include "cplaca.h"
#include "hardware/hwcodigos.h"

using namespace hwcod;

namespace {

// The firmware's own view of the message codes (written out here, not shared with the host,
// so a wrong code on either side shows).
constexpr uint16_t LATIDO = 0x0000, HOLA = 0x0001, ARRANCA_RECURSO = 0x0003, LIBERA_RECURSO = 0x0004;
constexpr uint16_t CANAL_IF_TX = 0x0005, CANAL_IF_RX = 0x0006, CANAL_HOST_TX = 0x0007, CANAL_HOST_RX = 0x0008;
constexpr uint16_t TOMA_PROTOCOLO = 0x0110, SELEC_DET_DTMF = 0x0116, MARCA_DTMF = 0x011b;
constexpr uint16_t DESCUELGA = 0x0120, LLAMA = 0x0121, LIBERA = 0x0123, RESPONDE_LIBRE = 0x0124;
constexpr uint16_t RESPONDE_OCUPADO = 0x0125, RESPONDE_CONGESTION = 0x0126, RESPONDE_FUERA = 0x0127;
constexpr uint16_t EVT_ERROR_EN_CMD = 0x8000, EVT_DTMF = 0x8010, EVT_REPOSO = 0x8020, EVT_LIBRE = 0x8021;
constexpr uint16_t EVT_OCUPADO = 0x8022, EVT_ENTRANTE = 0x8023, EVT_LIBERADA = 0x8024, EVT_CONGESTION = 0x8025;
constexpr uint16_t EVT_FUERA = 0x8026, EVT_DESCUELGA = 0x802c;
constexpr uint16_t CANAL_LATIDO = 0xFFFF;
constexpr int NUM_CANALES = 16;

// Commands the firmware knows (anything else is a command error).
bool ComandoConocido(uint16_t c) {
    return (c >= 0x0003 && c <= 0x000d) || (c >= 0x0110 && c <= 0x012c) || c == 0x0130;
}

constexpr uint32_t PERIODO_LATIDO_MS = 100;
constexpr size_t MAX_PALABRAS = 128;
constexpr size_t MAX_REGISTRO = 5000;
constexpr size_t MAX_MENSAJE = 64;
constexpr uint32_t DIR_IMAGEN1 = 0x80000000u, DIR_IMAGEN2 = 0xC0000000u;
constexpr uint32_t DIR_ARRANQUE = 0x11800000u, PALABRA_ARRANQUE = 0x80000000u;
constexpr uint32_t MASCARA_REGION = 0xF0000000u;

// The events a test may ask for: name, code, and how many byte arguments follow.
struct EventoNombrado {
    const char* szNombre;
    uint16_t usCodigo;
    int iArgumentos;
};
const EventoNombrado kEventos[] = {
    {"error", 0x8000, 0},        {"dtmf", 0x8010, 2},          {"selcal", 0x8011, 0},
    {"callerid", 0x8012, 0},     {"voxtx", 0x8013, 2},         {"voxrx", 0x8014, 2},
    {"callprogress", 0x8015, 0}, {"n5", 0x8016, 1},            {"errorinterno", 0x8017, 0},
    {"bucle", 0x8018, 4},        {"log", 0x8019, 5},           {"reposo", 0x8020, 0},
    {"libre", 0x8021, 0},        {"ocupado", 0x8022, 0},       {"liberada", 0x8024, 1},
    {"congestion", 0x8025, 0},   {"fuera", 0x8026, 0},         {"interrumpida", 0x8027, 0},
    {"bloqueada", 0x8028, 0},    {"timeout", 0x8029, 0},       {"errorprotocolo", 0x802a, 0},
    {"tomalinea", 0x802b, 0},    {"descuelga", 0x802c, 0},
};

std::string Bytes(const uint8_t* p, size_t n) {
    std::string s;
    char ac[4];
    for (size_t i = 0; i < n; i++) {
        snprintf(ac, sizeof(ac), "%02x", p[i]);
        s += (s.empty() ? "" : " ") + std::string(ac);
    }
    return s;
}

void Pon16(std::string* ps, uint16_t v) {
    ps->push_back(static_cast<char>(v & 0xFF));
    ps->push_back(static_cast<char>(v >> 8));
}

uint16_t Lee16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

const char* kAyuda =
    "dsp [estado]                 fase, reloj, fallos, contadores y canales asignados\n"
    "dsp comandos                 comandos recibidos: cuenta del driver y bytes del mensaje\n"
    "dsp arranque                 peticiones del arranque y escrituras de memoria\n"
    "dsp borra                    vacia los dos registros anteriores\n"
    "dsp memoria DIR N            N palabras de memoria desde DIR\n"
    "dsp canales                  canal, asignado, protocolo, pareja de bucle, estado de llamada, slots\n"
    "dsp evento CANAL NOMBRE ...  envia un evento (dsp eventos los lista)\n"
    "dsp crudo HEX...             envia un mensaje con esos bytes (hex, como los lista comandos)\n"
    "dsp bucle [A [B]]            empareja A y B (sin B deshace la pareja de A; sin nada las lista)\n"
    "dsp silencio 0|1             colgado: no lee ni envia nada (un reset lo cura)\n"
    "dsp ignorasondas 0|1         no contesta a las sondas (un reset lo cura)\n"
    "dsp fase1                    vuelve solo a la fase 1, como tras un reset\n"
    "dsp parpadeo N               las N lecturas de fase siguientes alternan con 7\n"
    "dsp lento 0|1                el arranque de la fase 1 necesita escribir dos veces\n"
    "dsp fallaescritura N         las N escrituras de memoria siguientes fallan\n"
    "dsp reloj [V|parado [V]|marcha]  reloj del driver en ms (parado: solo avanza con avanza)\n"
    "dsp avanza MS                adelanta el reloj\n";

// The device handle: every call goes to the one DSP model.
class CHpiDsp : public CModeloDispositivo {
public:
    explicit CHpiDsp(CDspSim& dspSim) : d(dspSim) {}
    int Peticion(uint32_t c, uint32_t v, uint32_t* r) override { return d.Peticion(c, v, r); }
    int LeeMensaje(size_t n, std::string* ps) override { return d.LeeMensaje(n, ps); }
    int EscribeMensaje(const uint8_t* p, size_t n, uint32_t* pui) override { return d.EscribeMensaje(p, n, pui); }
    int FijaDireccion(uint32_t uiDireccion) override { return d.FijaDireccion(uiDireccion); }
    int EscribePalabras(const uint32_t* pui, size_t n) override { return d.EscribePalabras(pui, n); }

private:
    CDspSim& d;
};

}  // namespace

CDspSim::CDspSim(CPlaca& p) : placa(p) {}

void CDspSim::Registra() {
    placa.RegistraDispositivo("/dev/hpidsp", [this](const std::string& s, std::unique_ptr<CModeloDispositivo>* pp) {
        if (s != "/dev/hpidsp") return ENOENT;
        pp->reset(new CHpiDsp(*this));
        return 0;
    });
    placa.RegistraOrden("dsp", "[SUBORDEN ...]  DSP simulado de /dev/hpidsp (dsp ayuda)",
                        [this](const std::vector<std::string>& a, std::string* r) { return Orden(a, r); });
    // Runs with the board's lock held: takes only this model's lock.
    placa.SuscribeResetDsp([this] {
        std::lock_guard<std::mutex> l(tMutex);
        uiResets++;
        Reinicia("reset");
    });
}

uint32_t CDspSim::Ahora() const {
    if (bParado) return uiRelojParado;
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<uint32_t>(static_cast<int64_t>(ms.count()) + llOffsetReloj);
}

void CDspSim::Reinicia(const char* szMotivo) {
    // Back in the boot loader: memory, channels, pending output and the faults that a hung
    // firmware had are gone; the loopback pairs are the test's wiring and stay.
    uiFase = 1;
    uiDireccion = 0;
    mMemoria.clear();
    bImagen1 = bImagen2 = false;
    bHandshakeVisto = false;
    bSilencio = false;
    bIgnoraSondas = false;
    dSalida.clear();
    for (Canal& c : asCanales) {
        int iPar = c.iPar;
        c = Canal();
        c.iPar = iPar;
    }
    Arranque(szMotivo);
}

void CDspSim::Arranque(const std::string& s) {
    if (dArranque.size() >= MAX_REGISTRO) dArranque.pop_front();
    dArranque.push_back(s);
}

void CDspSim::Encola(uint16_t usCodigo, uint16_t usCanal, const std::vector<uint8_t>& parametros) {
    std::string s;
    Pon16(&s, usCodigo);
    Pon16(&s, usCanal);
    s.append(parametros.begin(), parametros.end());
    dSalida.push_back(s);
}

// ---- Driver calls -------------------------------------------------------------------------

int CDspSim::Peticion(uint32_t c, uint32_t v, uint32_t* r) {
    std::lock_guard<std::mutex> l(tMutex);
    *r = 0;
    switch (c) {
        case H1_RELOJ: *r = Ahora(); return 0;
        case H7_NIVEL_COLA: {
            // Host messages are taken at once; the other queue is what waits for the host.
            size_t n = 0;
            if (v == 1)
                for (auto& m : dSalida) n += m.size();
            *r = static_cast<uint32_t>(n);
            return 0;
        }
        case H8_FASE:
            *r = uiFase;
            if (iParpadeo > 0) {
                iParpadeo--;
                if (ullLecturasFase++ % 2) *r = 7;
            }
            return 0;
        case H5_DIRECCION:
            uiDireccion = v;
            Arranque("direccion " + Hex(v));
            return 0;
        case H9_PASO: Arranque("paso"); return 0;
        case H13_PREPARA: Arranque("prepara"); return 0;
        case H12_FASE2:
            Arranque("fase2");
            bImagen2 = false;
            return 0;
        case H11_ARRANCA:
            Arranque("arranca");
            if (uiFase == 2 && bImagen2) {
                uiFase = FASE_MARCHA;
                Arranque("en marcha");
                // The firmware speaks first.
                Encola(HOLA, 0);
                uiProximoLatido = Ahora() + PERIODO_LATIDO_MS;
            }
            return 0;
        default: return ENOTTY;
    }
}

int CDspSim::FijaDireccion(uint32_t uiDir) {
    std::lock_guard<std::mutex> l(tMutex);
    uiDireccion = uiDir;
    Arranque("direccion " + Hex(uiDir));
    return 0;
}

int CDspSim::EscribePalabras(const uint32_t* pui, size_t n) {
    std::lock_guard<std::mutex> l(tMutex);
    if (n > MAX_PALABRAS) {
        Arranque("bloque de " + std::to_string(n) + " palabras rechazado");
        return EINVAL;
    }
    if (iFallosEscritura > 0) {
        iFallosEscritura--;
        Arranque("escritura fallida");
        return EIO;
    }
    std::string s = "escribe " + std::to_string(n) + " en " + Hex(uiDireccion);
    if (n == 1) s += " " + Hex(pui[0]);
    Arranque(s);
    uint32_t uiInicio = uiDireccion;
    for (size_t i = 0; i < n; i++) mMemoria[uiDireccion + static_cast<uint32_t>(4 * i)] = pui[i];
    uiDireccion += static_cast<uint32_t>(4 * n);
    if (uiFase == 1 && n > 0 && (uiInicio & MASCARA_REGION) == DIR_IMAGEN1) bImagen1 = true;
    if (uiFase == 2 && n > 0 && (uiInicio & MASCARA_REGION) == DIR_IMAGEN2) bImagen2 = true;
    if (uiFase == 1 && bImagen1 && uiInicio == DIR_ARRANQUE && n == 1 && pui[0] == PALABRA_ARRANQUE) {
        if (bLento && !bHandshakeVisto) {
            bHandshakeVisto = true;
        } else {
            uiFase = 2;
            Arranque("pide fase 2");
        }
    }
    return 0;
}

int CDspSim::LeeMensaje(size_t iCapacidad, std::string* ps) {
    std::lock_guard<std::mutex> l(tMutex);
    if (bSilencio || uiFase != FASE_MARCHA) return 0;
    if (!dSalida.empty()) {
        *ps = dSalida.front().substr(0, iCapacidad);
        dSalida.pop_front();
        return 0;
    }
    uint32_t uiAhora = Ahora();
    if (static_cast<int32_t>(uiAhora - uiProximoLatido) >= 0) {
        uiProximoLatido = uiAhora + PERIODO_LATIDO_MS;
        Pon16(ps, LATIDO);
        Pon16(ps, CANAL_LATIDO);
    }
    return 0;
}

int CDspSim::EscribeMensaje(const uint8_t* p, size_t iCuenta, uint32_t* puiEscritos) {
    // The driver's count: the message and 4 bytes more, or the bare 4-byte heartbeat.
    size_t n = iCuenta == 4 ? 4 : iCuenta - 4;
    if (iCuenta < 4 || n < 4 || n > MAX_MENSAJE) return EINVAL;
    std::lock_guard<std::mutex> l(tMutex);
    *puiEscritos = static_cast<uint32_t>(iCuenta);
    if (bSilencio || uiFase != FASE_MARCHA) {
        uiPerdidos++;
        return 0;
    }
    uint16_t usCodigo = Lee16(p), usCanal = Lee16(p + 2);
    if (usCodigo == LATIDO) {
        uiLatidos++;
        return 0;
    }
    if (usCodigo == DESCUELGA && usCanal >= NUM_CANALES) {
        uiSondas++;
        if (!bIgnoraSondas) Encola(EVT_ERROR_EN_CMD, usCanal);
        return 0;
    }
    if (usCodigo == HOLA) uiHolas++;
    if (dComandos.size() >= MAX_REGISTRO) dComandos.pop_front();
    dComandos.push_back(std::to_string(iCuenta) + ": " + Bytes(p, n));
    if (usCodigo != HOLA) Comando(usCodigo, usCanal, p + 4, n - 4);
    return 0;
}

// ---- Firmware -----------------------------------------------------------------------------

void CDspSim::Comando(uint16_t usCodigo, uint16_t usCanal, const uint8_t* p, size_t n) {
    if (!ComandoConocido(usCodigo) || usCanal >= NUM_CANALES ||
        (!asCanales[usCanal].bAsignado && usCodigo != ARRANCA_RECURSO)) {
        Encola(EVT_ERROR_EN_CMD, usCanal);
        return;
    }
    Canal& c = asCanales[usCanal];
    switch (usCodigo) {
        case ARRANCA_RECURSO: c.bAsignado = true; return;
        case LIBERA_RECURSO: {
            int iPar = c.iPar;
            c = Canal();
            c.iPar = iPar;
            return;
        }
        case TOMA_PROTOCOLO:
            // A line protocol starts with the line at rest, which the line entities wait for.
            if (n >= 1) c.iProtocolo = p[0];
            c.eLlamada = REPOSO;
            if (c.iProtocolo != 0) Encola(EVT_REPOSO, usCanal);
            return;
        case SELEC_DET_DTMF: if (n >= 1) c.bDetDtmf = p[0] != 0; return;
        case CANAL_IF_TX: if (n >= 1) c.iSlotIfTx = p[0]; return;
        case CANAL_IF_RX: if (n >= 1) c.iSlotIfRx = p[0]; return;
        case CANAL_HOST_TX: if (n >= 1) c.iSlotHostTx = p[0]; return;
        case CANAL_HOST_RX: if (n >= 1) c.iSlotHostRx = p[0]; return;
        default: break;
    }
    if (c.iPar >= 0) Bucle(usCodigo, usCanal, p, n);
}

// Loopback: what one channel of a pair does, the other sees as a line would show it.
void CDspSim::Bucle(uint16_t usCodigo, int iCanal, const uint8_t* p, size_t n) {
    Canal& c = asCanales[iCanal];
    int iPar = c.iPar;
    Canal& otro = asCanales[iPar];
    uint16_t usPar = static_cast<uint16_t>(iPar);
    switch (usCodigo) {
        case LLAMA:
            // priority, origin length, destination length, then the digits, as the host sent them
            if (n < 3 || n < 3u + p[1] + p[2]) return;
            c.eLlamada = LLAMANDO;
            otro.eLlamada = LLAMADO;
            Encola(EVT_ENTRANTE, usPar, std::vector<uint8_t>(p, p + 3 + p[1] + p[2]));
            return;
        case DESCUELGA:
            if (c.eLlamada != LLAMADO) return;
            c.eLlamada = otro.eLlamada = CONVERSACION;
            Encola(EVT_DESCUELGA, usPar);
            return;
        case RESPONDE_LIBRE:
            if (c.eLlamada == LLAMADO) Encola(EVT_LIBRE, usPar);
            return;
        case RESPONDE_OCUPADO:
        case RESPONDE_CONGESTION:
        case RESPONDE_FUERA:
            if (c.eLlamada != LLAMADO) return;
            c.eLlamada = REPOSO;
            Encola(usCodigo == RESPONDE_OCUPADO ? EVT_OCUPADO : usCodigo == RESPONDE_CONGESTION ? EVT_CONGESTION : EVT_FUERA,
                   usPar);
            return;
        case LIBERA:
            // The side that releases first is done; the other is told (cause 0) and is done
            // once it releases too.
            if (c.eLlamada == REPOSO) return;
            if (c.eLlamada != LIBERANDO && otro.eLlamada != REPOSO) {
                otro.eLlamada = LIBERANDO;
                Encola(EVT_LIBERADA, usPar, {0});
            }
            c.eLlamada = REPOSO;
            return;
        case MARCA_DTMF:
            if (!otro.bDetDtmf || n < 1) return;
            for (size_t i = 0; i < p[0] && 1 + i < n; i++) Encola(EVT_DTMF, usPar, {p[1 + i], 0});
            return;
        default: return;
    }
}

// ---- Control ------------------------------------------------------------------------------

std::string CDspSim::Estado() const {
    std::string s = "fase=" + std::to_string(uiFase) + " reloj=" + std::to_string(Ahora()) +
                    (bParado ? " parado" : "") + " silencio=" + std::to_string(bSilencio) +
                    " ignorasondas=" + std::to_string(bIgnoraSondas) + " lento=" + std::to_string(bLento) +
                    " latidos=" + std::to_string(uiLatidos) + " holas=" + std::to_string(uiHolas) +
                    " sondas=" + std::to_string(uiSondas) + " resets=" + std::to_string(uiResets) +
                    " perdidos=" + std::to_string(uiPerdidos) + " cola=" + std::to_string(dSalida.size()) +
                    " canales=";
    std::string sCanales;
    for (int i = 0; i < NUM_CANALES; i++)
        if (asCanales[i].bAsignado) sCanales += (sCanales.empty() ? "" : ",") + std::to_string(i);
    return s + (sCanales.empty() ? "-" : sCanales) + "\n";
}

int CDspSim::OrdenEvento(const std::vector<std::string>& a, std::string* r) {
    // dsp evento CANAL NOMBRE ARGS...
    uint32_t uiCanal;
    if (a.size() < 4 || !Numero(a[2], &uiCanal) || uiCanal > 0xFFFF) return EINVAL;
    const std::string& sNombre = a[3];
    std::vector<uint8_t> parametros;
    if (sNombre == "entrante") {
        // entrante PRIORIDAD ORIGEN DESTINO ("-" for none)
        uint32_t uiPrioridad;
        if (a.size() != 7 || !Numero(a[4], &uiPrioridad)) return EINVAL;
        std::string sOrigen = a[5] == "-" ? "" : a[5], sDestino = a[6] == "-" ? "" : a[6];
        if (7 + sOrigen.size() + sDestino.size() > MAX_MENSAJE) return EINVAL;
        parametros = {static_cast<uint8_t>(uiPrioridad), static_cast<uint8_t>(sOrigen.size()),
                      static_cast<uint8_t>(sDestino.size())};
        parametros.insert(parametros.end(), sOrigen.begin(), sOrigen.end());
        parametros.insert(parametros.end(), sDestino.begin(), sDestino.end());
        Encola(EVT_ENTRANTE, static_cast<uint16_t>(uiCanal), parametros);
        *r = "ok\n";
        return 0;
    }
    for (const EventoNombrado& e : kEventos) {
        if (sNombre != e.szNombre) continue;
        if (a.size() != static_cast<size_t>(4 + e.iArgumentos)) {
            *r = sNombre + " lleva " + std::to_string(e.iArgumentos) + " argumentos\n";
            return EINVAL;
        }
        for (int i = 0; i < e.iArgumentos; i++) {
            uint32_t v;
            if (!Numero(a[4 + static_cast<size_t>(i)], &v)) return EINVAL;
            parametros.push_back(static_cast<uint8_t>(v));
        }
        Encola(e.usCodigo, static_cast<uint16_t>(uiCanal), parametros);
        *r = "ok\n";
        return 0;
    }
    *r = "evento desconocido: " + sNombre + " (dsp eventos)\n";
    return EINVAL;
}

int CDspSim::Orden(const std::vector<std::string>& a, std::string* r) {
    std::lock_guard<std::mutex> l(tMutex);
    std::string s = a.size() > 1 ? a[1] : "estado";
    uint32_t v = 0, w = 0;
    auto bandera = [&](bool* pb) {
        if (a.size() != 3 || !Numero(a[2], &v)) return EINVAL;
        *pb = v != 0;
        *r = "ok\n";
        return 0;
    };
    auto lista = [&](const std::deque<std::string>& d) {
        for (const auto& linea : d) *r += linea + "\n";
        return 0;
    };
    if (s == "estado") {
        *r = Estado();
        return 0;
    }
    if (s == "ayuda") {
        *r = kAyuda;
        return 0;
    }
    if (s == "eventos") {
        for (const EventoNombrado& e : kEventos)
            *r += std::string(e.szNombre) + " " + Hex(e.usCodigo) + " " + std::to_string(e.iArgumentos) + " bytes\n";
        *r += "entrante 0x8023 PRIORIDAD ORIGEN DESTINO\n";
        return 0;
    }
    if (s == "comandos") return lista(dComandos);
    if (s == "arranque") return lista(dArranque);
    if (s == "borra") {
        dComandos.clear();
        dArranque.clear();
        *r = "ok\n";
        return 0;
    }
    if (s == "memoria") {
        if (a.size() != 4 || !Numero(a[2], &v) || !Numero(a[3], &w) || w > 4096) return EINVAL;
        for (uint32_t i = 0; i < w; i++) {
            auto it = mMemoria.find(v + 4 * i);
            *r += (i ? " " : "") + (it == mMemoria.end() ? std::string("-") : Hex(it->second));
        }
        *r += "\n";
        return 0;
    }
    if (s == "canales") {
        static const char* kEstados[] = {"reposo", "llamando", "llamado", "conversacion", "liberando"};
        auto slot = [](int v) { return v < 0 ? std::string("-") : std::to_string(v); };
        for (int i = 0; i < NUM_CANALES; i++) {
            const Canal& c = asCanales[i];
            *r += std::to_string(i) + " " + (c.bAsignado ? "asignado" : "libre") + " protocolo=" +
                  std::to_string(c.iProtocolo) + " par=" + std::to_string(c.iPar) + " " + kEstados[c.eLlamada] +
                  " ifrx=" + slot(c.iSlotIfRx) + " iftx=" + slot(c.iSlotIfTx) + " hostrx=" + slot(c.iSlotHostRx) +
                  " hosttx=" + slot(c.iSlotHostTx) + "\n";
        }
        return 0;
    }
    if (s == "evento") return OrdenEvento(a, r);
    if (s == "crudo") {
        if (a.size() < 3 || a.size() - 2 > MAX_MENSAJE + 8) return EINVAL;
        std::string m;
        for (size_t i = 2; i < a.size(); i++) {
            char* fin = nullptr;
            unsigned long b = std::strtoul(a[i].c_str(), &fin, 16);
            if (a[i].empty() || *fin || b > 0xFF) return EINVAL;
            m.push_back(static_cast<char>(b));
        }
        dSalida.push_back(m);
        *r = "ok\n";
        return 0;
    }
    if (s == "bucle") {
        if (a.size() == 2) {
            for (int i = 0; i < NUM_CANALES; i++)
                if (asCanales[i].iPar > i) *r += std::to_string(i) + " " + std::to_string(asCanales[i].iPar) + "\n";
            return 0;
        }
        if (!Numero(a[2], &v) || v >= NUM_CANALES) return EINVAL;
        if (asCanales[v].iPar >= 0) asCanales[asCanales[v].iPar].iPar = -1;
        asCanales[v].iPar = -1;
        if (a.size() > 3) {
            if (!Numero(a[3], &w) || w >= NUM_CANALES || w == v) return EINVAL;
            if (asCanales[w].iPar >= 0) asCanales[asCanales[w].iPar].iPar = -1;
            asCanales[v].iPar = static_cast<int>(w);
            asCanales[w].iPar = static_cast<int>(v);
        }
        *r = "ok\n";
        return 0;
    }
    if (s == "silencio") return bandera(&bSilencio);
    if (s == "ignorasondas") return bandera(&bIgnoraSondas);
    if (s == "lento") return bandera(&bLento);
    if (s == "fase1") {
        Reinicia("fase1");
        *r = "ok\n";
        return 0;
    }
    if (s == "fallaescritura") {
        if (a.size() != 3 || !Numero(a[2], &v)) return EINVAL;
        iFallosEscritura = static_cast<int>(v);
        *r = "ok\n";
        return 0;
    }
    if (s == "parpadeo") {
        if (a.size() != 3 || !Numero(a[2], &v)) return EINVAL;
        iParpadeo = static_cast<int>(v);
        ullLecturasFase = 0;
        *r = "ok\n";
        return 0;
    }
    if (s == "reloj") {
        uint32_t uiAhora = Ahora();
        size_t iValor = 2;
        if (a.size() > 2 && a[2] == "parado") {
            bParado = true;
            uiRelojParado = uiAhora;
            iValor = 3;
        } else if (a.size() > 2 && a[2] == "marcha") {
            bParado = false;
            llOffsetReloj += static_cast<int32_t>(uiAhora - Ahora());
            iValor = 3;
        }
        if (a.size() > iValor) {
            if (!Numero(a[iValor], &v)) return EINVAL;
            if (bParado)
                uiRelojParado = v;
            else
                llOffsetReloj += static_cast<int32_t>(v - Ahora());
        }
        *r = std::to_string(Ahora()) + "\n";
        return 0;
    }
    if (s == "avanza") {
        if (a.size() != 3 || !Numero(a[2], &v)) return EINVAL;
        if (bParado)
            uiRelojParado += v;
        else
            llOffsetReloj += v;
        *r = std::to_string(Ahora()) + "\n";
        return 0;
    }
    *r = "suborden desconocida: " + s + " (dsp ayuda)\n";
    return EINVAL;
}

void RegistraDspSim(CPlaca& placa) {
    static CDspSim dspSim(placa);  // lives as long as the daemon's board
    dspSim.Registra();
}
