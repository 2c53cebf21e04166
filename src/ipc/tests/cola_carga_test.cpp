// The bytes each typed sender puts on the queue, field by field at its offset, read raw
// from the queue: a sender and a dispatcher that agreed on a wrong layout would still
// round-trip, this catches them. Words are written out here little-endian by hand.
#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/msg.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "ipc/cola.h"

namespace {

const int32_t kPropio = 2200, kPeer = 2201;  // nobody reads type 2201: the test does

// Builds the expected text (code and payload) in hex.
struct Esperado {
    std::string h;
    Esperado& B(uint8_t b) {
        char t[3];
        snprintf(t, sizeof t, "%02x", b);
        h += t;
        return *this;
    }
    Esperado& W(int32_t w) {
        uint32_t u = static_cast<uint32_t>(w);
        for (int i = 0; i < 4; i++) B(static_cast<uint8_t>(u >> (8 * i)));
        return *this;
    }
    Esperado& T(const std::string& s) {
        for (unsigned char ch : s) B(ch);
        return *this;
    }
    Esperado& Z(int n) {
        for (int i = 0; i < n; i++) B(0);
        return *this;
    }
};

struct Crudo {
    long mtype;
    uint8_t texto[8000];
};

// The one frame waiting for the peer, in hex; "" when none or more than one.
std::string Frame() {
    int q = msgget(CLAVE_COLA_PADRE_HIJO, 0);
    Crudo m;
    ssize_t n = msgrcv(q, &m, sizeof m.texto, kPeer, IPC_NOWAIT);
    if (n <= 0) return "";
    Crudo otro;
    if (msgrcv(q, &otro, sizeof otro.texto, kPeer, IPC_NOWAIT) >= 0) return "second frame";
    Esperado e;
    for (ssize_t i = 0; i < n; i++) e.B(m.texto[i]);
    return e.h;
}

// Call record: origin at 0, destination at 81, priority at 162, words at 164, 168, 172.
std::vector<uint8_t> RegistroLlamada() {
    std::vector<uint8_t> r(176, 0);
    memcpy(&r[0], "o-12", 4);
    memcpy(&r[81], "d-345", 5);
    r[162] = 0x9C;
    const uint8_t w[12] = {0x11, 0x12, 0x13, 0x14, 0x21, 0x22, 0x23, 0x24, 0x31, 0x32, 0x33, 0x34};
    memcpy(&r[164], w, sizeof w);
    return r;
}

// Session record: words at 0-12, address value at 16, its text at 20, words from 40 on.
std::vector<uint8_t> RegistroSesion() {
    std::vector<uint8_t> r(76, 0);
    for (int off = 0; off < 16; off += 4) r[off] = static_cast<uint8_t>(0xA0 + off);
    const uint8_t ip[4] = {0x17, 0x02, 0x00, 0xC0};
    memcpy(&r[16], ip, 4);
    memcpy(&r[20], "192.0.2.23", 10);
    for (int off = 40; off < 76; off += 4) r[off] = static_cast<uint8_t>(0xB0 + off);
    return r;
}

DatosLlamada Llamada() {
    DatosLlamada d;
    memcpy(&d, RegistroLlamada().data(), sizeof d);
    return d;
}

DireccionSesion Sesion() {
    DireccionSesion s;
    memcpy(&s, RegistroSesion().data(), sizeof s);
    return s;
}

std::string Hex(const std::vector<uint8_t>& v) {
    Esperado e;
    for (uint8_t b : v) e.B(b);
    return e.h;
}

struct Caso {
    int codigo;
    std::function<int(Cola&, int32_t&)> envia;
    std::function<std::string(int32_t id)> esperado;
};

std::vector<Caso> Casos() {
    const int32_t A = 0x0A0B0C0D, Bw = -2, C = 0x7F000001;
    std::vector<Caso> v = {
        {1, [](Cola& c, int32_t&) { return c.FijaLatido(2, nullptr); },
         [](int32_t) { return Esperado().B(1).W(6000).h; }},
        {2, [](Cola& c, int32_t&) { return c.EnviaReset(); }, [](int32_t) { return Esperado().B(2).h; }},
        {3, [](Cola& c, int32_t&) { return c.EnviaPintaEstadisticas(); }, [](int32_t) { return Esperado().B(3).h; }},
        {22, [](Cola& c, int32_t&) { return c.EnviaSinConfig(); }, [](int32_t) { return Esperado().B(22).h; }},
        {93, [](Cola& c, int32_t&) { return c.EnviaTermina(); }, [](int32_t) { return Esperado().B(93).h; }},
        {5, [](Cola& c, int32_t& id) {
             DatosLlamada d = Llamada();
             return c.EnviaLlamadaSalienteId(&d, &id); },
         [](int32_t id) { return Esperado().B(5).W(id).h + Hex(RegistroLlamada()); }},
        {6, [](Cola& c, int32_t& id) {
             DatosLlamada d = Llamada();
             return c.EnviaLlamadaEntranteId(&d, &id); },
         [](int32_t id) { return Esperado().B(6).W(id).h + Hex(RegistroLlamada()); }},
        {13, [](Cola& c, int32_t& id) {
             DatosLlamada d = Llamada();
             return c.EnviaIntervencionId(&d, &id); },
         [](int32_t id) { return Esperado().B(13).W(id).h + Hex(RegistroLlamada()); }},
        {15, [](Cola& c, int32_t& id) {
             DireccionSesion s = Sesion();
             return c.EnviaNuevaSesionId(&s, &id); },
         [](int32_t id) { return Esperado().B(15).W(id).h + Hex(RegistroSesion()); }},
        {16, [](Cola& c, int32_t& id) {
             DireccionSesion s = Sesion();
             id = c.EnviaModificaSesion(A, &s);
             return id == A ? 0 : -1; },
         [A](int32_t) { return Esperado().B(16).W(A).h + Hex(RegistroSesion()); }},
        {7, [A](Cola& c, int32_t&) { return c.EnviaFinLlamadaCausa(A, Bw); },
         [A, Bw](int32_t) { return Esperado().B(7).W(A).W(Bw).h; }},
        {8, [A](Cola& c, int32_t&) { return c.EnviaRingingMotivo(A, 3); },
         [A](int32_t) { return Esperado().B(8).W(A).W(3).h; }},
        {9, [A](Cola& c, int32_t&) { return c.EnviaAceptaLlamada(A); },
         [A](int32_t) { return Esperado().B(9).W(A).W(0).h; }},
        {11, [A](Cola& c, int32_t&) { return c.EnviaRechazaLlamada(A, 486); },
         [A](int32_t) { return Esperado().B(11).W(A).W(486).h; }},
        {14, [A](Cola& c, int32_t&) { return c.EnviaAbortaIntervencion(A); },
         [A](int32_t) { return Esperado().B(14).W(A).h; }},
        {17, [A](Cola& c, int32_t&) { return c.EnviaFinSesionValor(A, 7); },
         [A](int32_t) { return Esperado().B(17).W(A).W(7).h; }},
        {18, [](Cola& c, int32_t&) { return c.EnviaNivelConsola(0xFFFF); },
         [](int32_t) { return Esperado().B(18).W(0xFFFF).h; }},
        {19, [](Cola& c, int32_t&) { return c.EnviaNivelIncidencias(1); },
         [](int32_t) { return Esperado().B(19).W(1).h; }},
        {20, [](Cola& c, int32_t&) { return c.EnviaModoTest(2); },
         [](int32_t) { return Esperado().B(20).W(2).h; }},
        {21, [A](Cola& c, int32_t&) { return c.EnviaConversacionInterrumpida(A); },
         [A](int32_t) { return Esperado().B(21).W(A).h; }},
        // 0 a; 1 b; 5 counted text 1; c; counted text 2; d; e; f: 26 bytes and the texts.
        {23, [A, C](Cola& c, int32_t&) { return c.EnviaMensaje23(0xE1, A, "xyz", C, "", -5, 6, 0xF7); },
         [A, C](int32_t) {
             return Esperado().B(23).B(0xE1).W(A).W(3).T("xyz").W(C).W(0).W(-5).W(6).B(0xF7).h; }},
        // The text alone: no length word, no terminating zero.
        {24, [](Cola& c, int32_t&) { return c.EnviaTraza("t=%d", 42); },
         [](int32_t) { return Esperado().B(24).T("t=42").h; }},
        // Words at the odd offsets 1 and 5.
        {25, [A](Cola& c, int32_t&) { return c.EnviaDiagnostico(15, A, 207); },
         [A](int32_t) { return Esperado().B(25).B(15).W(A).W(207).h; }},
        {26, [](Cola& c, int32_t&) { return c.EnviaCreaCanalHermano(0x00012345, 4); },
         [](int32_t) { return Esperado().B(26).W(0x00012345).B(4).h; }},
        {27, [](Cola& c, int32_t&) {
             NotificacionEstado e;
             memset(&e, 0, sizeof e);
             e.ucIndice = 0;
             e.ucEstado = 2;
             e.iValor = 0x01020304;
             e.iServicio = 1;
             return c.EnviaNotificaEstadoRecurso(&e); },
         [](int32_t) { return Esperado().B(27).B(0).B(2).Z(2).W(0x01020304).Z(8).W(1).h; }},
        {28, [A](Cola& c, int32_t&) { return c.EnviaInfoLlamada(A, 9); },
         [A](int32_t) { return Esperado().B(28).W(A).W(9).W(0).h; }},
        {29, [](Cola& c, int32_t&) { return c.EnviaFinSesionPreemption(4); },
         [](int32_t) { return Esperado().B(29).W(4).h; }},
        {30, [](Cola& c, int32_t& id) { return c.EnviaArrancaRecursoId(0x55AA, &id); },
         [](int32_t id) { return Esperado().B(30).W(id).W(0x55AA).h; }},
        {31, [A](Cola& c, int32_t&) { return c.EnviaLiberaRecurso(A); },
         [A](int32_t) { return Esperado().B(31).W(A).h; }},
        {52, [A](Cola& c, int32_t&) { return c.EnviaMarcaDtmf(A, "\x01\x00\x0b", 3); },
         [A](int32_t) { return Esperado().B(52).W(A).W(3).B(1).B(0).B(11).h; }},
        {53, [A](Cola& c, int32_t&) { return c.EnviaMarcaSelcal(A, "", 0); },
         [A](int32_t) { return Esperado().B(53).W(A).W(0).h; }},
        {54, [A](Cola& c, int32_t&) { return c.EnviaMarcaCcir(A, "7", 1); },
         [A](int32_t) { return Esperado().B(54).W(A).W(1).T("7").h; }},
        {82, [A](Cola& c, int32_t&) { return c.EnviaCallerId(A, "12", 2); },
         [A](int32_t) { return Esperado().B(82).W(A).W(2).T("12").h; }},
        {55, [](Cola& c, int32_t&) { return c.EnviaDspRecursoCreado(-1); },
         [](int32_t) { return Esperado().B(55).W(-1).h; }},
        // Code 60 ends with the destination; code 67 adds one word after it.
        {60, [A](Cola& c, int32_t&) { return c.EnviaLlama(A, 2, "\x01\x02", 2, "\x09", 1); },
         [A](int32_t) { return Esperado().B(60).W(A).W(2).W(2).B(1).B(2).W(1).B(9).h; }},
        {67, [A, C](Cola& c, int32_t&) { return c.EnviaIntervencionPrioridad(A, 1, "", 0, "\x04", 1, C); },
         [A, C](int32_t) { return Esperado().B(67).W(A).W(1).W(0).W(1).B(4).W(C).h; }},
        {80, [](Cola& c, int32_t&) { return c.EnviaDigitoDtmf(7, 0x35, 2); },
         [](int32_t) { return Esperado().B(80).W(7).B(0x35).W(2).h; }},
        {81, [A](Cola& c, int32_t&) { return c.EnviaSelcal(A, 0xFF, -1); },
         [A](int32_t) { return Esperado().B(81).W(A).B(0xFF).W(-1).h; }},
    };
    uint8_t lcen[TAM_BLOQUE_LCEN];
    for (int i = 0; i < TAM_BLOQUE_LCEN; i++) lcen[i] = static_cast<uint8_t>(200 - i);
    const uint8_t r2[TAM_BLOQUE_R2N5] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::vector<uint8_t> vlcen(lcen, lcen + sizeof lcen), vr2(r2, r2 + sizeof r2);
    v.push_back({71, [A, vlcen](Cola& c, int32_t&) { return c.EnviaTomaConfigLCEN(A, vlcen.data()); },
                 [A, vlcen](int32_t) { return Esperado().B(71).W(A).h + Hex(vlcen); }});
    v.push_back({72, [A, vr2](Cola& c, int32_t&) { return c.EnviaTomaConfigR2(A, vr2.data()); },
                 [A, vr2](int32_t) { return Esperado().B(72).W(A).h + Hex(vr2); }});
    v.push_back({73, [A, vr2](Cola& c, int32_t&) { return c.EnviaTomaConfigN5(A, vr2.data()); },
                 [A, vr2](int32_t) { return Esperado().B(73).W(A).h + Hex(vr2); }});

    // One, two and three words.
    const std::pair<int, int (Cola::*)(int32_t)> uno[] = {
        {61, &Cola::EnviaDescuelga}, {62, &Cola::EnviaLibera}, {63, &Cola::EnviaRespondeLibre},
        {64, &Cola::EnviaRespondeOcupado}, {65, &Cola::EnviaRespondeCongestion},
        {66, &Cola::EnviaRespondeFueraDeServicio}, {68, &Cola::EnviaFinIntervencion},
        {69, &Cola::EnviaAparca}, {70, &Cola::EnviaDesaparca}, {74, &Cola::EnviaBloqueaLinea},
        {86, &Cola::EnviaDspReposo}, {87, &Cola::EnviaDspConversacionInterrumpida},
        {88, &Cola::EnviaDspLineaBloqueada}, {90, &Cola::EnviaDspTimeout},
        {91, &Cola::EnviaDspErrorProtocolo}, {254, &Cola::EnviaDebug},
    };
    for (auto& k : uno) {
        auto f = k.second;
        int cod = k.first;
        v.push_back({cod, [f, cod](Cola& c, int32_t&) { return (c.*f)(cod * 65537); },
                     [cod](int32_t) { return Esperado().B(cod).W(cod * 65537).h; }});
    }
    const std::pair<int, int (Cola::*)(int32_t, int32_t)> dos[] = {
        {32, &Cola::EnviaTomaCanalIfTx}, {33, &Cola::EnviaTomaCanalIfRx},
        {34, &Cola::EnviaTomaCanalHostTx}, {35, &Cola::EnviaTomaCanalHostRx},
        {36, &Cola::EnviaQuitaCanalHostRx}, {37, &Cola::EnviaTomaCodecIfTx},
        {38, &Cola::EnviaTomaCodecIfRx}, {39, &Cola::EnviaTomaCodecHostTx},
        {40, &Cola::EnviaTomaCodecHostRx}, {41, &Cola::EnviaTomaProtocolo},
        {47, &Cola::EnviaSelecDetDtmf}, {48, &Cola::EnviaSelecDetCallerID},
        {49, &Cola::EnviaSelecBss}, {56, &Cola::EnviaSelecCancelEcoTx},
        {83, &Cola::EnviaCallProgress}, {84, &Cola::EnviaDspEvento84},
        {85, &Cola::EnviaErrorInterno}, {89, &Cola::EnviaEstadoDsp},
    };
    for (auto& k : dos) {
        auto f = k.second;
        int cod = k.first;
        v.push_back({cod, [f, cod](Cola& c, int32_t&) { return (c.*f)(cod * 65537, -cod); },
                     [cod](int32_t) { return Esperado().B(cod).W(cod * 65537).W(-cod).h; }});
    }
    const std::pair<int, int (Cola::*)(int32_t, int32_t, int32_t)> tres[] = {
        {42, &Cola::EnviaSelecCagTx}, {43, &Cola::EnviaSelecCagRx}, {44, &Cola::EnviaSelecVoxTx},
        {45, &Cola::EnviaSelecVoxRx}, {46, &Cola::EnviaSelecDetCallProgress},
        {50, &Cola::EnviaGeneraSecuenciaTonosTx}, {51, &Cola::EnviaGeneraSecuenciaTonosRx},
        {57, &Cola::EnviaAnalizaBucle}, {92, &Cola::EnviaBucle},
    };
    for (auto& k : tres) {
        auto f = k.second;
        int cod = k.first;
        v.push_back({cod, [f, cod](Cola& c, int32_t&) { return (c.*f)(cod * 65537, -cod, cod << 24); },
                     [cod](int32_t) { return Esperado().B(cod).W(cod * 65537).W(-cod).W(cod << 24).h; }});
    }
    return v;
}

TEST(ColaCarga, EverySenderPutsItsFieldsAtTheirOffsets) {
    const uint16_t uno = 1;
    ASSERT_EQ(*reinterpret_cast<const uint8_t*>(&uno), 1) << "expected bytes are little-endian";
    Cola c(kPeer, COLA_PADRE, 0, kPropio);
    std::set<int> vistos;
    for (const Caso& k : Casos()) {
        int32_t id = -1;
        int r = k.envia(c, id);
        EXPECT_GE(r, 0) << k.codigo;
        EXPECT_EQ(Frame(), k.esperado(id)) << "code " << k.codigo;
        vistos.insert(k.codigo);
    }
    // Every code the dispatcher knows, and the heartbeat, has its row.
    std::set<int> todos{254};
    for (int x = 1; x <= 93; x++)
        if (x != 10 && x != 12 && x != 58 && x != 59 && (x < 75 || x > 79)) todos.insert(x);
    todos.erase(4);  // its own test below
    EXPECT_EQ(vistos, todos);
}

// Code 4: word 26, the side file's name without terminator, the 5,244-byte record.
TEST(ColaCarga, ConfigurationIsNameLengthNameAndRecord) {
    Cola c(kPeer, COLA_PADRE, 0, kPropio);
    std::vector<uint8_t> reg(TAM_REGISTRO_RECURSO);
    for (size_t i = 0; i < reg.size(); i++) reg[i] = static_cast<uint8_t>(i * 13 + 1);
    cfgConfigRecurso rec;
    memcpy(&rec, reg.data(), sizeof rec);
    EXPECT_EQ(c.EnviaTomaConfig("10.0.0.1", &rec), 0);
    std::string esperado = Esperado().B(4).W(26).T("/var/st_config_sistema.txt").h + Hex(reg);
    std::string f = Frame();
    EXPECT_EQ(f.size(), 2u * (1 + 5274));
    EXPECT_EQ(f, esperado);
}

}  // namespace
