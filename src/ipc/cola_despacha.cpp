// Cola::Despacha: turns one received frame into one call of the registered handler.
// Every field is read within the received length; a frame whose fields run past it is
// dropped with a log line.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ipc/cola.h"
#include "comun/nlog.h"

namespace {

// Payload forms, as the handler receives them.
enum eForma : uint8_t {
    F_NINGUNA,      // unknown code: dropped silently
    F_SIN_ARGS,     // 3
    F_PEER,         // 2, 22, 93
    F_UNO,          // peer, word
    F_DOS,          // peer, word, word
    F_TRES,         // peer, word, word, word
    F_VALOR,        // word alone: 18, 19, 20, 29
    F_LLAMADA,      // peer, word, call record: 5, 6, 13
    F_SESION,       // peer, word, session record: 15, 16
    F_LCEN,         // peer, word, 88-byte block
    F_R2N5,         // peer, word, 8-byte block
    F_ESTADO,       // peer, state record: 27
    F_CONTADOS,     // peer, word, counted bytes: 52-54, 82
    F_TEXTO,        // peer, payload as text: 24
    F_DIAGNOSTICO,  // peer, byte, word, word: 25
    F_CREA_CANAL,   // word, byte: 26
    F_DIGITO,       // peer, word, byte, word: 80, 81
    F_LLAMA,        // 60
    F_INTERVENCION, // 67
    F_MENSAJE23,    // 23
    F_CONFIG,       // 4
    F_LATIDO,       // 1
};

struct Entrada {
    eForma forma;
    int8_t palabra;  // word of the handler table
};

struct Tabla {
    Entrada e[256] = {};
    Tabla() {
        struct D { uint8_t cod; eForma f; int8_t w; };
        const D d[] = {
            {1, F_LATIDO, -1}, {2, F_PEER, 0}, {93, F_PEER, 1}, {22, F_PEER, 2},
            {3, F_SIN_ARGS, 3}, {4, F_CONFIG, 4}, {5, F_LLAMADA, 5}, {6, F_LLAMADA, 6},
            {7, F_DOS, 7}, {21, F_UNO, 8}, {8, F_DOS, 9}, {9, F_DOS, 10}, {11, F_DOS, 11},
            {13, F_LLAMADA, 12}, {14, F_UNO, 13}, {15, F_SESION, 14}, {16, F_SESION, 15},
            {17, F_DOS, 16}, {29, F_VALOR, 17}, {18, F_VALOR, 18}, {19, F_VALOR, 19},
            {20, F_VALOR, 20}, {23, F_MENSAJE23, 21}, {24, F_TEXTO, 22},
            {25, F_DIAGNOSTICO, 23}, {26, F_CREA_CANAL, 24}, {27, F_ESTADO, 25},
            {28, F_TRES, 26}, {30, F_DOS, 27}, {55, F_UNO, 28}, {31, F_UNO, 29},
            {32, F_DOS, 30}, {33, F_DOS, 31}, {34, F_DOS, 32}, {35, F_DOS, 33},
            {36, F_DOS, 34}, {37, F_DOS, 35}, {38, F_DOS, 36}, {39, F_DOS, 37},
            {40, F_DOS, 38}, {41, F_DOS, 39}, {56, F_DOS, 40}, {42, F_TRES, 41},
            {43, F_TRES, 42}, {44, F_TRES, 43}, {45, F_TRES, 44}, {46, F_TRES, 45},
            {47, F_DOS, 46}, {48, F_DOS, 47}, {49, F_DOS, 48}, {50, F_TRES, 49},
            {51, F_TRES, 50}, {57, F_TRES, 51}, {52, F_CONTADOS, 52}, {53, F_CONTADOS, 53},
            {54, F_CONTADOS, 54}, {60, F_LLAMA, 55}, {61, F_UNO, 56}, {62, F_UNO, 57},
            {63, F_UNO, 58}, {64, F_UNO, 59}, {65, F_UNO, 60}, {66, F_UNO, 61},
            {67, F_INTERVENCION, 62}, {68, F_UNO, 63}, {69, F_UNO, 64}, {70, F_UNO, 65},
            {74, F_UNO, 66}, {71, F_LCEN, 67}, {72, F_R2N5, 68}, {73, F_R2N5, 69},
            {80, F_DIGITO, 70}, {81, F_DIGITO, 71}, {82, F_CONTADOS, 72}, {83, F_DOS, 73},
            {84, F_DOS, 74}, {92, F_TRES, 75}, {85, F_DOS, 76}, {86, F_UNO, 77},
            {87, F_UNO, 78}, {88, F_UNO, 79}, {90, F_UNO, 80}, {91, F_UNO, 81},
            {89, F_DOS, 82}, {254, F_UNO, 83},
        };
        for (const D& x : d) e[x.cod] = Entrada{x.f, x.w};
    }
};
const Tabla kTabla;

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

private:
    const uint8_t* p;
    int n;
    int pos = 0;
};

}  // namespace

void Cola::Despacha(const MensajeCola* msg, int longitud) {
    if (longitud < 1) return;
    const uint8_t codigo = msg->texto[0];
    const Entrada ent = kTabla.e[codigo];
    if (ent.forma == F_NINGUNA) return;
    const uint8_t* carga = &msg->texto[1];
    const int lon = longitud - 1;
    Lector l(carga, lon);
    int32_t a = 0, b = 0, c = 0;

    if (ent.forma == F_LATIDO) {
        if (!l.Entero(a)) goto corto;
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

    // Ids are released on receipt, with or without a handler.
    switch (codigo) {
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

    if (atManejadores[ent.palabra].load() == nullptr) return;

    switch (ent.forma) {
    case F_SIN_ARGS:
        Manejador<TpEvtSinArgs>(ent.palabra)();
        return;
    case F_PEER:
        Manejador<TpEvtPeer>(ent.palabra)(iPeer);
        return;
    case F_UNO:
        if (!l.Entero(a)) break;
        Manejador<TpEvtUnEntero>(ent.palabra)(iPeer, a);
        return;
    case F_DOS:
        if (!l.Entero(a) || !l.Entero(b)) break;
        Manejador<TpEvtDosEnteros>(ent.palabra)(iPeer, a, b);
        return;
    case F_TRES:
        if (!l.Entero(a) || !l.Entero(b) || !l.Entero(c)) break;
        Manejador<TpEvtTresEnteros>(ent.palabra)(iPeer, a, b, c);
        return;
    case F_VALOR:
        if (!l.Entero(a)) break;
        Manejador<TpEvtValor>(ent.palabra)(a);
        return;
    case F_LLAMADA: {
        DatosLlamada datos;
        if (!l.Entero(a) || !l.Copia(&datos, sizeof datos)) break;
        Manejador<TpEvtLlamada>(ent.palabra)(iPeer, a, &datos);
        return;
    }
    case F_SESION: {
        DireccionSesion dir;
        if (!l.Entero(a) || !l.Copia(&dir, sizeof dir)) break;
        Manejador<TpEvtSesion>(ent.palabra)(iPeer, a, &dir);
        return;
    }
    case F_LCEN:
    case F_R2N5: {
        uint8_t bloque[TAM_BLOQUE_LCEN];
        int tam = ent.forma == F_LCEN ? TAM_BLOQUE_LCEN : TAM_BLOQUE_R2N5;
        if (!l.Entero(a) || !l.Copia(bloque, tam)) break;
        Manejador<TpEvtBloque>(ent.palabra)(iPeer, a, bloque);
        return;
    }
    case F_ESTADO: {
        NotificacionEstado estado;
        if (!l.Copia(&estado, sizeof estado)) break;
        Manejador<TpEvtEstado>(ent.palabra)(iPeer, &estado);
        return;
    }
    case F_CONTADOS: {
        const uint8_t* bytes;
        int32_t n;
        if (!l.Entero(a) || !l.Contados(bytes, n)) break;
        std::vector<uint8_t> copia(bytes, bytes + n);
        Manejador<TpEvtBytes>(ent.palabra)(iPeer, a, copia.data(), n);
        return;
    }
    case F_TEXTO:
        // The receive buffer holds a zero right after the received text.
        Manejador<TpEvtTexto>(ent.palabra)(iPeer, reinterpret_cast<char*>(const_cast<uint8_t*>(carga)));
        return;
    case F_DIAGNOSTICO: {
        uint8_t cmd;
        if (!l.Byte(cmd) || !l.Entero(a) || !l.Entero(b)) break;
        Manejador<TpEvtDiagnostico>(ent.palabra)(iPeer, cmd, a, b);
        return;
    }
    case F_CREA_CANAL: {
        uint8_t modo;
        if (!l.Entero(a) || !l.Byte(modo)) break;
        Manejador<TpEvtCreaCanal>(ent.palabra)(a, modo);
        return;
    }
    case F_DIGITO: {
        uint8_t byte;
        if (!l.Entero(a) || !l.Byte(byte) || !l.Entero(b)) break;
        Manejador<TpEvtEnteroByteEntero>(ent.palabra)(iPeer, a, byte, b);
        return;
    }
    case F_LLAMA:
    case F_INTERVENCION: {
        const uint8_t *o, *d;
        int32_t no, nd;
        if (!l.Entero(a) || !l.Entero(b) || !l.Contados(o, no) || !l.Contados(d, nd)) break;
        if (ent.forma == F_INTERVENCION && !l.Entero(c)) break;
        std::vector<uint8_t> origen(o, o + no), destino(d, d + nd);
        if (ent.forma == F_LLAMA)
            Manejador<TpEvtLlama>(ent.palabra)(iPeer, a, b, origen.data(), no, destino.data(), nd);
        else
            Manejador<TpEvtIntervencionPrioridad>(ent.palabra)(iPeer, a, b, origen.data(), no,
                                                                destino.data(), nd, c);
        return;
    }
    case F_MENSAJE23: {
        uint8_t ua, uf;
        int32_t d, e, n1, n2;
        const uint8_t *t1, *t2;
        if (!l.Byte(ua) || !l.Entero(a) || !l.Contados(t1, n1) || !l.Entero(b) ||
            !l.Contados(t2, n2) || !l.Entero(d) || !l.Entero(e) || !l.Byte(uf))
            break;
        std::string texto1(reinterpret_cast<const char*>(t1), n1);
        std::string texto2(reinterpret_cast<const char*>(t2), n2);
        Manejador<TpEvtMensaje23>(ent.palabra)(iPeer, ua, a, &texto1[0], b, &texto2[0], d, e, uf);
        return;
    }
    case F_CONFIG: {
        const uint8_t* ruta;
        int32_t n;
        cfgConfigRecurso registro;
        if (!l.Contados(ruta, n) || !l.Copia(&registro, sizeof registro)) break;
        std::string fichero(reinterpret_cast<const char*>(ruta), n);
        char bloque[TAM_BLOQUE_GENERAL];
        memset(bloque, 0, sizeof bloque);
        FILE* f = fopen(fichero.c_str(), "r");
        if (f != nullptr) {
            if (fread(bloque, 1, sizeof bloque, f) != sizeof bloque)
                NLOG::Log(NLOG::ERROR, "Despacha: %s mas corto de %d bytes", fichero.c_str(),
                          TAM_BLOQUE_GENERAL);
            fclose(f);
        } else {
            NLOG::Log(NLOG::ERROR, "Despacha: no se puede leer %s", fichero.c_str());
        }
        Manejador<TpEvtTomaConfig>(ent.palabra)(bloque, &registro);
        return;
    }
    default:
        return;
    }
corto:
    NLOG::Log(NLOG::ERROR, "Despacha: mensaje %d de %d bytes mal formado, descartado (%d-%d)",
              codigo, lon, iPropio, iPeer);
}
