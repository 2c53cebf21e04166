// Cola::Despacha: turns one received frame into one call of the registered handler.
// Every field is read within the received length; a frame whose fields run past it is
// dropped with a log line.
#include <cstring>
#include <string>
#include <vector>

#include "ipc/cola.h"
#include "comun/nlog.h"

namespace {

// Reads fields in order, never past the received payload.
class Lector {
public:
    Lector(const uint8_t* carga, int longitud) : p(carga), n(longitud) {}
    bool Entero(int32_t& v) { return Copia(&v, 4); }
    bool Byte(uint8_t& v) { return Copia(&v, 1); }
    bool Copia(void* dst, int tam) {
        if (tam < 0 || tam > n - pos) return false;
        memcpy(dst, p + pos, tam);
        pos += tam;
        return true;
    }
    // Counted bytes: a word n, then n bytes left in place.
    bool Contados(const uint8_t*& bytes, int32_t& cuenta) {
        if (!Entero(cuenta) || cuenta < 0 || cuenta > n - pos) return false;
        bytes = p + pos;
        pos += cuenta;
        return true;
    }
    // The receive buffer holds a zero right after the received text.
    char* Texto() const { return reinterpret_cast<char*>(const_cast<uint8_t*>(p)); }

private:
    const uint8_t* p;
    int n;
    int pos = 0;
};

// One unpacking per form: Llama reads the payload and calls the handler, whose parameter
// type is the form's own, so a catalogue row with a handler of another type does not
// compile. False: the payload is shorter than its fields.
template <FormaCola F> struct Forma;

template <> struct Forma<FormaCola::SIN_ARGS> {
    static bool Llama(TpEvtSinArgs h, int32_t, Lector&) { h(); return true; }
};
template <> struct Forma<FormaCola::PEER> {
    static bool Llama(TpEvtPeer h, int32_t peer, Lector&) { h(peer); return true; }
};
template <> struct Forma<FormaCola::UNO> {
    static bool Llama(TpEvtUnEntero h, int32_t peer, Lector& l) {
        int32_t a;
        if (!l.Entero(a)) return false;
        h(peer, a);
        return true;
    }
};
template <> struct Forma<FormaCola::DOS> {
    static bool Llama(TpEvtDosEnteros h, int32_t peer, Lector& l) {
        int32_t a, b;
        if (!l.Entero(a) || !l.Entero(b)) return false;
        h(peer, a, b);
        return true;
    }
};
template <> struct Forma<FormaCola::TRES> {
    static bool Llama(TpEvtTresEnteros h, int32_t peer, Lector& l) {
        int32_t a, b, c;
        if (!l.Entero(a) || !l.Entero(b) || !l.Entero(c)) return false;
        h(peer, a, b, c);
        return true;
    }
};
template <> struct Forma<FormaCola::VALOR> {
    static bool Llama(TpEvtValor h, int32_t, Lector& l) {
        int32_t a;
        if (!l.Entero(a)) return false;
        h(a);
        return true;
    }
};
// A word and a fixed record.
template <typename R>
bool LlamaRegistro(void (*h)(int32_t, int32_t, R*), int32_t peer, Lector& l) {
    int32_t a;
    R registro;
    if (!l.Entero(a) || !l.Copia(&registro, sizeof registro)) return false;
    h(peer, a, &registro);
    return true;
}
template <> struct Forma<FormaCola::LLAMADA> {
    static bool Llama(TpEvtLlamada h, int32_t peer, Lector& l) { return LlamaRegistro(h, peer, l); }
};
template <> struct Forma<FormaCola::SESION> {
    static bool Llama(TpEvtSesion h, int32_t peer, Lector& l) { return LlamaRegistro(h, peer, l); }
};
template <int N>
bool LlamaBloque(TpEvtBloque h, int32_t peer, Lector& l) {
    int32_t a;
    uint8_t bloque[N];
    if (!l.Entero(a) || !l.Copia(bloque, N)) return false;
    h(peer, a, bloque);
    return true;
}
template <> struct Forma<FormaCola::LCEN> {
    static bool Llama(TpEvtBloque h, int32_t peer, Lector& l) { return LlamaBloque<TAM_BLOQUE_LCEN>(h, peer, l); }
};
template <> struct Forma<FormaCola::R2N5> {
    static bool Llama(TpEvtBloque h, int32_t peer, Lector& l) { return LlamaBloque<TAM_BLOQUE_R2N5>(h, peer, l); }
};
template <> struct Forma<FormaCola::ESTADO> {
    static bool Llama(TpEvtEstado h, int32_t peer, Lector& l) {
        NotificacionEstado estado;
        if (!l.Copia(&estado, sizeof estado)) return false;
        h(peer, &estado);
        return true;
    }
};
template <> struct Forma<FormaCola::CONTADOS> {
    static bool Llama(TpEvtBytes h, int32_t peer, Lector& l) {
        int32_t a, n;
        const uint8_t* bytes;
        if (!l.Entero(a) || !l.Contados(bytes, n)) return false;
        std::vector<uint8_t> copia(bytes, bytes + n);
        h(peer, a, copia.data(), n);
        return true;
    }
};
template <> struct Forma<FormaCola::TEXTO> {
    static bool Llama(TpEvtTexto h, int32_t peer, Lector& l) { h(peer, l.Texto()); return true; }
};
template <> struct Forma<FormaCola::DIAGNOSTICO> {
    static bool Llama(TpEvtDiagnostico h, int32_t peer, Lector& l) {
        uint8_t comando;
        int32_t a, b;
        if (!l.Byte(comando) || !l.Entero(a) || !l.Entero(b)) return false;
        h(peer, comando, a, b);
        return true;
    }
};
template <> struct Forma<FormaCola::CREA_CANAL> {
    static bool Llama(TpEvtCreaCanal h, int32_t, Lector& l) {
        int32_t pid;
        uint8_t modo;
        if (!l.Entero(pid) || !l.Byte(modo)) return false;
        h(pid, modo);
        return true;
    }
};
template <> struct Forma<FormaCola::DIGITO> {
    static bool Llama(TpEvtEnteroByteEntero h, int32_t peer, Lector& l) {
        int32_t a, b;
        uint8_t byte;
        if (!l.Entero(a) || !l.Byte(byte) || !l.Entero(b)) return false;
        h(peer, a, byte, b);
        return true;
    }
};
// Codes 60 and 67: id, priority, origin and destination bytes; 67 adds a final word.
struct LlamadaLinea {
    int32_t id, prioridad, c = 0;
    std::vector<uint8_t> origen, destino;
    bool Lee(Lector& l, bool final) {
        const uint8_t *o, *d;
        int32_t no, nd;
        if (!l.Entero(id) || !l.Entero(prioridad) || !l.Contados(o, no) || !l.Contados(d, nd)) return false;
        if (final && !l.Entero(c)) return false;
        origen.assign(o, o + no);
        destino.assign(d, d + nd);
        return true;
    }
    int32_t NOrigen() const { return static_cast<int32_t>(origen.size()); }
    int32_t NDestino() const { return static_cast<int32_t>(destino.size()); }
};
template <> struct Forma<FormaCola::LLAMA> {
    static bool Llama(TpEvtLlama h, int32_t peer, Lector& l) {
        LlamadaLinea m;
        if (!m.Lee(l, false)) return false;
        h(peer, m.id, m.prioridad, m.origen.data(), m.NOrigen(), m.destino.data(), m.NDestino());
        return true;
    }
};
template <> struct Forma<FormaCola::INTERVENCION> {
    static bool Llama(TpEvtIntervencionPrioridad h, int32_t peer, Lector& l) {
        LlamadaLinea m;
        if (!m.Lee(l, true)) return false;
        h(peer, m.id, m.prioridad, m.origen.data(), m.NOrigen(), m.destino.data(), m.NDestino(), m.c);
        return true;
    }
};
template <> struct Forma<FormaCola::MENSAJE23> {
    static bool Llama(TpEvtMensaje23 h, int32_t peer, Lector& l) {
        uint8_t a, f;
        int32_t b, c, d, e, n1, n2;
        const uint8_t *t1, *t2;
        if (!l.Byte(a) || !l.Entero(b) || !l.Contados(t1, n1) || !l.Entero(c) ||
            !l.Contados(t2, n2) || !l.Entero(d) || !l.Entero(e) || !l.Byte(f))
            return false;
        std::string texto1(reinterpret_cast<const char*>(t1), n1);
        std::string texto2(reinterpret_cast<const char*>(t2), n2);
        h(peer, a, b, &texto1[0], c, &texto2[0], d, e, f);
        return true;
    }
};
template <> struct Forma<FormaCola::CONFIG> {
    static bool Llama(TpEvtTomaConfig h, int32_t, Lector& l) {
        const uint8_t* ruta;
        int32_t n;
        cfgConfigRecurso registro;
        if (!l.Contados(ruta, n) || !l.Copia(&registro, sizeof registro)) return false;
        char bloque[TAM_BLOQUE_GENERAL];
        cfgLeeFicheroSistema(std::string(reinterpret_cast<const char*>(ruta), n).c_str(), bloque);
        h(bloque, &registro);
        return true;
    }
};

// No handler: the message ends here, silently.
template <FormaCola F, typename T>
bool Entrega(T h, int32_t peer, Lector& l) {
    return h == nullptr || Forma<F>::Llama(h, peer, l);
}

}  // namespace

void Cola::BorraManejadores() {
#define VK_BORRA_COLA(registra, nombre, codigo, forma, tipo) tManejadores.pf##nombre.store(nullptr);
    VK_CATALOGO_COLA(VK_BORRA_COLA)
#undef VK_BORRA_COLA
}

void Cola::Despacha(const MensajeCola* msg, int longitud) {
    if (longitud < 1) return;
    const uint8_t codigo = msg->texto[0];
    const uint8_t* carga = &msg->texto[1];
    const int lon = longitud - 1;
    int32_t a = 0;
    bool ok = true;

    // The channel's own heartbeat; ids are released on receipt, with or without a handler.
    switch (codigo) {
    case COD_LATIDO: {
        if (!Lector(carga, lon).Entero(a)) goto corto;
        TpProcesoSinActividad pf;
        int32_t periodo, limite;
        {
            std::lock_guard<std::mutex> g(tMutexLatido);
            periodo = iPeriodoMs;
            limite = iLimiteMs;
            pf = pfProceso_Sin_Actividad;
        }
        if (a != limite) ConfiguraLatido(periodo, a, pf);
        return;
    }
    case COD_FIN_LLAMADA: case COD_RECHAZA_LLAMADA: case COD_ABORTA_INTERVENCION:
    case COD_CONVERSACION_INTERRUMPIDA:
        if (!Lector(carga, lon).Entero(a)) goto corto;
        LiberaIdLlamada(a);
        break;
    case COD_FIN_SESION:
        if (!Lector(carga, lon).Entero(a)) goto corto;
        LiberaIdSesion(a);
        break;
    case COD_LIBERA_RECURSO:
        if (!Lector(carga, lon).Entero(a)) goto corto;
        LiberaIdRecurso(a);
        break;
    default:
        break;
    }

    {
        Lector l(carga, lon);
        switch (codigo) {
#define VK_DESPACHA_COLA(registra, nombre, codigo, forma, tipo)                        \
    case COD_##nombre:                                                                 \
        ok = Entrega<FormaCola::forma>(tManejadores.pf##nombre.load(), iPeer, l);      \
        break;
            VK_CATALOGO_COLA(VK_DESPACHA_COLA)
#undef VK_DESPACHA_COLA
        default:
            return;  // unknown code: dropped without a trace
        }
    }
    if (ok) return;
corto:
    NLOG::Log(NLOG::ERROR, "Despacha: mensaje %d de %d bytes mal formado, descartado (%d-%d)",
              codigo, lon, iPropio, iPeer);
}
