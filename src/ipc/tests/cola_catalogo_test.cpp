// Every operation code travels from one process to another through a real queue and is
// received by a recording handler: packing, offsets, terminators and handler forms.
#include <glob.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "cola_pruebas.h"

using pruebas::Hex;

namespace {

struct Ctx {
    int32_t yo;        // this process: the peer's peer
    int32_t el;        // the peer process
    int tipo;          // kind of this end
    int32_t id = -1;   // id answered by the last opening sender
};

std::string F(const char* formato, ...) __attribute__((format(printf, 1, 2)));
std::string F(const char* formato, ...) {
    char buf[8192];
    va_list ap;
    va_start(ap, formato);
    vsnprintf(buf, sizeof buf, formato, ap);
    va_end(ap);
    return buf;
}

DatosLlamada Llamada() {
    DatosLlamada d;
    memset(&d, 0, sizeof d);
    strcpy(d.acOrigen, "origen-918273");
    memset(d.acDestino, 'D', 80);  // longest destination: 80 characters and the zero
    d.ucPrioridad = 0xA5;
    d.iTipoSip = 0x01020304;
    d.iTipoLlamada = 1;
    d.iNumeracionQsig = -77;
    return d;
}

DireccionSesion Sesion() {
    DireccionSesion s;
    memset(&s, 0, sizeof s);
    s.iParametro = 11;
    s.iPayloadForzado = -1;
    s.iPayload = 8;
    s.iPuertoLocal = 40002;
    s.uiDirRemota = 0xC0000217;
    strcpy(s.acDirRemota, "192.0.2.23");
    s.iPuertoRemoto = 50004;
    s.idllam = 123450002;
    s.iPttId = 5;
    s.iRtpHe = 1;
    s.iPrioridad = 3;
    s.iStandby = 1;
    s.iModoBss = 2;
    s.iPttRep = 4;
    s.iIndiceColateral = 7;
    return s;
}

std::string TextoSesion(const Ctx& c, int cod, int32_t id) {
    return F("%d p=%d %d 11 -1 8 40002 c0000217 [192.0.2.23] 50004 123450002 5 1 3 1 2 4 7",
             cod, c.yo, id);
}

std::string TextoLlamada(const Ctx& c, int cod, int32_t id) {
    return F("%d p=%d %d [origen-918273][%s] 165 0 16909060 1 -77", cod, c.yo, id,
             std::string(80, 'D').c_str());
}

struct Caso {
    const char* nombre;
    std::function<int(Cola&, Ctx&)> envia;
    std::function<std::string(const Ctx&)> esperado;
    int resultado = 0;  // -1: the sender's answer is the new id, checked by alto
    std::function<int32_t(const Ctx&)> alto = nullptr;  // high part of the new id
};

std::vector<Caso> Casos() {
    const uint8_t lcen[TAM_BLOQUE_LCEN] = {1, 2, 3, 0xFE, 0, 0x80, 9};
    const uint8_t r2[TAM_BLOQUE_R2N5] = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x81};
    std::vector<Caso> v = {
        {"Reset", [](Cola& c, Ctx&) { return c.EnviaReset(); },
         [](const Ctx& x) { return F("2 p=%d", x.yo); }},
        {"PintaEstadisticas", [](Cola& c, Ctx&) { return c.EnviaPintaEstadisticas(); },
         [](const Ctx&) { return std::string("3"); }},
        {"LlamadaSaliente", [](Cola& c, Ctx& x) { DatosLlamada d = Llamada(); return c.EnviaLlamadaSalienteId(&d, &x.id); },
         [](const Ctx& x) { return TextoLlamada(x, 5, x.id); }, -1,
         [](const Ctx& x) { return x.el; }},
        {"LlamadaEntrante", [](Cola& c, Ctx& x) { DatosLlamada d = Llamada(); return c.EnviaLlamadaEntranteId(&d, &x.id); },
         [](const Ctx& x) { return TextoLlamada(x, 6, x.id); }, -1,
         [](const Ctx& x) { return x.yo; }},
        {"FinLlamadaCausa", [](Cola& c, Ctx&) { return c.EnviaFinLlamadaCausa(0x7EADBEEF, -9); },
         [](const Ctx& x) { return F("7 p=%d 2125315823 -9", x.yo); }},
        {"FinLlamada", [](Cola& c, Ctx&) { return c.EnviaFinLlamada(31); },
         [](const Ctx& x) { return F("7 p=%d 31 0", x.yo); }},
        {"RingingMotivo", [](Cola& c, Ctx&) { return c.EnviaRingingMotivo(41, 42); },
         [](const Ctx& x) { return F("8 p=%d 41 42", x.yo); }},
        {"Ringing", [](Cola& c, Ctx&) { return c.EnviaRinging(43); },
         [](const Ctx& x) { return F("8 p=%d 43 0", x.yo); }},
        {"AceptaLlamadaValor", [](Cola& c, Ctx&) { return c.EnviaAceptaLlamadaValor(51, -52); },
         [](const Ctx& x) { return F("9 p=%d 51 -52", x.yo); }},
        {"AceptaLlamada", [](Cola& c, Ctx&) { return c.EnviaAceptaLlamada(53); },
         [](const Ctx& x) { return F("9 p=%d 53 0", x.yo); }},
        {"RechazaLlamada", [](Cola& c, Ctx&) { return c.EnviaRechazaLlamada(61, 62); },
         [](const Ctx& x) { return F("11 p=%d 61 62", x.yo); }},
        {"Intervencion", [](Cola& c, Ctx& x) { DatosLlamada d = Llamada(); return c.EnviaIntervencionId(&d, &x.id); },
         [](const Ctx& x) { return TextoLlamada(x, 13, x.id); }, -1,
         [](const Ctx& x) { return x.tipo == COLA_HERMANO_CLIENTE ? x.yo : x.el; }},
        {"AbortaIntervencion", [](Cola& c, Ctx&) { return c.EnviaAbortaIntervencion(71); },
         [](const Ctx& x) { return F("14 p=%d 71", x.yo); }},
        {"NuevaSesion", [](Cola& c, Ctx& x) { DireccionSesion s = Sesion(); return c.EnviaNuevaSesionId(&s, &x.id); },
         [](const Ctx& x) { return TextoSesion(x, 15, x.id); }, -1,
         [](const Ctx& x) { return x.tipo == COLA_HERMANO_CLIENTE ? x.yo : x.el; }},
        {"ModificaSesion", [](Cola& c, Ctx&) { DireccionSesion s = Sesion(); return c.EnviaModificaSesion(987654, &s); },
         [](const Ctx& x) { return TextoSesion(x, 16, 987654); }, 987654},
        {"FinSesionValor", [](Cola& c, Ctx&) { return c.EnviaFinSesionValor(81, 82); },
         [](const Ctx& x) { return F("17 p=%d 81 82", x.yo); }},
        {"FinSesion", [](Cola& c, Ctx&) { return c.EnviaFinSesion(83); },
         [](const Ctx& x) { return F("17 p=%d 83 0", x.yo); }},
        {"NivelConsola", [](Cola& c, Ctx&) { return c.EnviaNivelConsola(0xFFFF); },
         [](const Ctx&) { return std::string("18 65535"); }},
        {"NivelIncidencias", [](Cola& c, Ctx&) { return c.EnviaNivelIncidencias(-2); },
         [](const Ctx&) { return std::string("19 -2"); }},
        {"ModoTest", [](Cola& c, Ctx&) { return c.EnviaModoTest(3); },
         [](const Ctx&) { return std::string("20 3"); }},
        {"ConversacionInterrumpida", [](Cola& c, Ctx&) { return c.EnviaConversacionInterrumpida(91); },
         [](const Ctx& x) { return F("21 p=%d 91", x.yo); }},
        {"SinConfig", [](Cola& c, Ctx&) { return c.EnviaSinConfig(); },
         [](const Ctx& x) { return F("22 p=%d", x.yo); }},
        {"Mensaje23", [](Cola& c, Ctx&) { return c.EnviaMensaje23(0xC3, -1, "uno", 0x12345678, "", 7, 8, 9); },
         [](const Ctx& x) { return F("23 p=%d 195 -1 [uno] 305419896 [] 7 8 9", x.yo); }},
        {"Traza", [](Cola& c, Ctx&) { return c.EnviaTraza("rec %d: %s", 5, "hola"); },
         [](const Ctx& x) { return F("24 p=%d [rec 5: hola]", x.yo); }},
        {"TrazaVacia", [](Cola& c, Ctx&) { return c.EnviaTraza("%s", ""); },
         [](const Ctx& x) { return F("24 p=%d []", x.yo); }},
        {"TrazaLarga", [](Cola& c, Ctx&) { return c.EnviaTraza("%s", std::string(600, 'x').c_str()); },
         [](const Ctx& x) { return F("24 p=%d [%s]", x.yo, std::string(511, 'x').c_str()); }},
        {"Diagnostico", [](Cola& c, Ctx&) { return c.EnviaDiagnostico(15, 0x0A0B0C0D, 207); },
         [](const Ctx& x) { return F("25 p=%d 15 168496141 207", x.yo); }},
        {"CreaCanalHermano", [](Cola& c, Ctx&) { return c.EnviaCreaCanalHermano(4321, 4); },
         [](const Ctx&) { return std::string("26 4321 4"); }},
        {"NotificaEstadoRecurso", [](Cola& c, Ctx&) {
             NotificacionEstado e;
             memset(&e, 0, sizeof e);
             e.ucEstado = 10;
             e.iValor = 0x01020304;
             e.iServicio = 1;
             return c.EnviaNotificaEstadoRecurso(&e); },
         [](const Ctx& x) {
             NotificacionEstado e;
             memset(&e, 0, sizeof e);
             e.ucEstado = 10;
             e.iValor = 0x01020304;
             e.iServicio = 1;
             return F("27 p=%d %s", x.yo, Hex(&e, sizeof e).c_str()); }},
        {"InfoLlamadaValor", [](Cola& c, Ctx&) { return c.EnviaInfoLlamadaValor(101, 102, 103); },
         [](const Ctx& x) { return F("28 p=%d 101 102 103", x.yo); }},
        {"InfoLlamada", [](Cola& c, Ctx&) { return c.EnviaInfoLlamada(104, 105); },
         [](const Ctx& x) { return F("28 p=%d 104 105 0", x.yo); }},
        {"FinSesionPreemption", [](Cola& c, Ctx&) { return c.EnviaFinSesionPreemption(2); },
         [](const Ctx&) { return std::string("29 2"); }},
        {"ArrancaRecurso", [](Cola& c, Ctx& x) { return c.EnviaArrancaRecursoId(0x55AA, &x.id); },
         [](const Ctx& x) { return F("30 p=%d %d 21930", x.yo, x.id); }, -1,
         [](const Ctx& x) { return x.yo; }},
        {"LiberaRecurso", [](Cola& c, Ctx&) { return c.EnviaLiberaRecurso(111); },
         [](const Ctx& x) { return F("31 p=%d 111", x.yo); }},
        {"MarcaDtmf", [](Cola& c, Ctx&) { return c.EnviaMarcaDtmf(121, "\x01\x02\x00\x0a", 4); },
         [](const Ctx& x) { return F("52 p=%d 121 4:0102000a", x.yo); }},
        {"MarcaDtmfVacia", [](Cola& c, Ctx&) { return c.EnviaMarcaDtmf(122, "", 0); },
         [](const Ctx& x) { return F("52 p=%d 122 0:", x.yo); }},
        {"MarcaSelcal", [](Cola& c, Ctx&) { return c.EnviaMarcaSelcal(123, "AB", 2); },
         [](const Ctx& x) { return F("53 p=%d 123 2:4142", x.yo); }},
        {"MarcaCcir", [](Cola& c, Ctx&) { return c.EnviaMarcaCcir(124, "9", 1); },
         [](const Ctx& x) { return F("54 p=%d 124 1:39", x.yo); }},
        {"CallerId", [](Cola& c, Ctx&) { return c.EnviaCallerId(125, "\xff\x00", 2); },
         [](const Ctx& x) { return F("82 p=%d 125 2:ff00", x.yo); }},
        {"DspRecursoCreado", [](Cola& c, Ctx&) { return c.EnviaDspRecursoCreado(131); },
         [](const Ctx& x) { return F("55 p=%d 131", x.yo); }},
        {"Llama", [](Cola& c, Ctx&) { return c.EnviaLlama(141, 2, "\x01\x02\x03", 3, "\x09", 1); },
         [](const Ctx& x) { return F("60 p=%d 141 2 3:010203 1:09", x.yo); }},
        {"IntervencionPrioridad", [](Cola& c, Ctx&) { return c.EnviaIntervencionPrioridad(142, 1, "\x05", 1, "", 0, -143); },
         [](const Ctx& x) { return F("67 p=%d 142 1 1:05 0: -143", x.yo); }},
        {"TomaConfigLCEN", [lcen](Cola& c, Ctx&) { return c.EnviaTomaConfigLCEN(151, lcen); },
         [lcen](const Ctx& x) { return F("71 p=%d 151 %s", x.yo, Hex(lcen, sizeof lcen).c_str()); }},
        {"TomaConfigR2", [r2](Cola& c, Ctx&) { return c.EnviaTomaConfigR2(152, r2); },
         [r2](const Ctx& x) { return F("72 p=%d 152 %s", x.yo, Hex(r2, sizeof r2).c_str()); }},
        {"TomaConfigN5", [r2](Cola& c, Ctx&) { return c.EnviaTomaConfigN5(153, r2); },
         [r2](const Ctx& x) { return F("73 p=%d 153 %s", x.yo, Hex(r2, sizeof r2).c_str()); }},
        {"DigitoDtmf", [](Cola& c, Ctx&) { return c.EnviaDigitoDtmf(7, 0x35, 2); },
         [](const Ctx& x) { return F("80 p=%d 7 53 2", x.yo); }},
        {"Selcal", [](Cola& c, Ctx&) { return c.EnviaSelcal(-8, 0xFF, 0x7FFFFFFF); },
         [](const Ctx& x) { return F("81 p=%d -8 255 2147483647", x.yo); }},
        {"Termina", [](Cola& c, Ctx&) { return c.EnviaTermina(); },
         [](const Ctx& x) { return F("93 p=%d", x.yo); }},
        {"Debug", [](Cola& c, Ctx&) { return c.EnviaDebug(0x00000801); },
         [](const Ctx& x) { return F("254 p=%d 2049", x.yo); }},
    };
    // Families of one, two and three words: the code, the sender, the expected line.
    struct Palabras {
        int cod;
        int (Cola::*uno)(int32_t);
        int (Cola::*dos)(int32_t, int32_t);
        int (Cola::*tres)(int32_t, int32_t, int32_t);
    };
    const Palabras p[] = {
        {61, &Cola::EnviaDescuelga, nullptr, nullptr}, {62, &Cola::EnviaLibera, nullptr, nullptr},
        {63, &Cola::EnviaRespondeLibre, nullptr, nullptr}, {64, &Cola::EnviaRespondeOcupado, nullptr, nullptr},
        {65, &Cola::EnviaRespondeCongestion, nullptr, nullptr},
        {66, &Cola::EnviaRespondeFueraDeServicio, nullptr, nullptr},
        {68, &Cola::EnviaFinIntervencion, nullptr, nullptr}, {69, &Cola::EnviaAparca, nullptr, nullptr},
        {70, &Cola::EnviaDesaparca, nullptr, nullptr}, {74, &Cola::EnviaBloqueaLinea, nullptr, nullptr},
        {86, &Cola::EnviaDspReposo, nullptr, nullptr},
        {87, &Cola::EnviaDspConversacionInterrumpida, nullptr, nullptr},
        {88, &Cola::EnviaDspLineaBloqueada, nullptr, nullptr}, {90, &Cola::EnviaDspTimeout, nullptr, nullptr},
        {91, &Cola::EnviaDspErrorProtocolo, nullptr, nullptr},
        {32, nullptr, &Cola::EnviaTomaCanalIfTx, nullptr}, {33, nullptr, &Cola::EnviaTomaCanalIfRx, nullptr},
        {34, nullptr, &Cola::EnviaTomaCanalHostTx, nullptr}, {35, nullptr, &Cola::EnviaTomaCanalHostRx, nullptr},
        {36, nullptr, &Cola::EnviaQuitaCanalHostRx, nullptr}, {37, nullptr, &Cola::EnviaTomaCodecIfTx, nullptr},
        {38, nullptr, &Cola::EnviaTomaCodecIfRx, nullptr}, {39, nullptr, &Cola::EnviaTomaCodecHostTx, nullptr},
        {40, nullptr, &Cola::EnviaTomaCodecHostRx, nullptr}, {41, nullptr, &Cola::EnviaTomaProtocolo, nullptr},
        {56, nullptr, &Cola::EnviaSelecCancelEcoTx, nullptr}, {47, nullptr, &Cola::EnviaSelecDetDtmf, nullptr},
        {48, nullptr, &Cola::EnviaSelecDetCallerID, nullptr}, {49, nullptr, &Cola::EnviaSelecBss, nullptr},
        {83, nullptr, &Cola::EnviaCallProgress, nullptr}, {84, nullptr, &Cola::EnviaDspEvento84, nullptr},
        {85, nullptr, &Cola::EnviaErrorInterno, nullptr}, {89, nullptr, &Cola::EnviaEstadoDsp, nullptr},
        {42, nullptr, nullptr, &Cola::EnviaSelecCagTx}, {43, nullptr, nullptr, &Cola::EnviaSelecCagRx},
        {44, nullptr, nullptr, &Cola::EnviaSelecVoxTx}, {45, nullptr, nullptr, &Cola::EnviaSelecVoxRx},
        {46, nullptr, nullptr, &Cola::EnviaSelecDetCallProgress},
        {50, nullptr, nullptr, &Cola::EnviaGeneraSecuenciaTonosTx},
        {51, nullptr, nullptr, &Cola::EnviaGeneraSecuenciaTonosRx},
        {57, nullptr, nullptr, &Cola::EnviaAnalizaBucle}, {92, nullptr, nullptr, &Cola::EnviaBucle},
    };
    for (const Palabras& w : p) {
        // Distinct words per code, the first one at the top of the range.
        const int32_t a = -(w.cod * 1000003), b = w.cod * 7 + 0x10000000, c = w.cod;
        Caso k;
        k.nombre = "palabras";
        if (w.uno) {
            k.envia = [w, a](Cola& col, Ctx&) { return (col.*w.uno)(a); };
            k.esperado = [w, a](const Ctx& x) { return F("%d p=%d %d", w.cod, x.yo, a); };
        } else if (w.dos) {
            k.envia = [w, a, b](Cola& col, Ctx&) { return (col.*w.dos)(a, b); };
            k.esperado = [w, a, b](const Ctx& x) { return F("%d p=%d %d %d", w.cod, x.yo, a, b); };
        } else {
            k.envia = [w, a, b, c](Cola& col, Ctx&) { return (col.*w.tres)(a, b, c); };
            k.esperado = [w, a, b, c](const Ctx& x) { return F("%d p=%d %d %d %d", w.cod, x.yo, a, b, c); };
        }
        v.push_back(k);
    }
    return v;
}

class CatalogoCola : public ::testing::TestWithParam<int> {};

TEST_P(CatalogoCola, EveryCodeReachesItsHandlerWithItsFields) {
    const int tipo = GetParam();
    const int tipoPeer = tipo == COLA_PADRE ? COLA_HIJO : COLA_HERMANO_SERVIDOR;
    pruebas::Peer peer;
    ASSERT_TRUE(peer.Lanza(tipoPeer));
    Cola cola(peer.pid, tipo, 0, getpid());
    Ctx ctx{getpid(), peer.pid, tipo};

    std::vector<Caso> casos = Casos();
    for (const Caso& k : casos) {
        ctx.id = -1;
        int r = k.envia(cola, ctx);
        if (k.alto) {
            EXPECT_EQ(r, ctx.id) << k.nombre;
            EXPECT_EQ(ctx.id / 10000, k.alto(ctx)) << k.nombre;
        } else {
            EXPECT_EQ(r, k.resultado) << k.nombre;
        }
        EXPECT_EQ(peer.Linea(), k.esperado(ctx)) << k.nombre;
    }
    EXPECT_EQ(peer.Termina(), 0);
}

// The configuration message carries the record and the side file's 65-byte block.
TEST_P(CatalogoCola, ConfigurationCarriesRecordAndSideFileBlock) {
    const int tipo = GetParam();
    pruebas::Peer peer;
    ASSERT_TRUE(peer.Lanza(tipo == COLA_PADRE ? COLA_HIJO : COLA_HERMANO_SERVIDOR));
    Cola cola(peer.pid, tipo, 0, getpid());
    char bloque[TAM_BLOQUE_GENERAL] = "198.51.100.77";
    std::vector<uint8_t> registro(TAM_REGISTRO_RECURSO);
    unsigned suma = 0;
    for (int i = 0; i < TAM_REGISTRO_RECURSO; i++) {
        registro[i] = static_cast<uint8_t>(i * 7 + 3);
        suma = suma * 31 + registro[i];
    }
    cfgConfigRecurso rec;
    memcpy(&rec, registro.data(), sizeof rec);
    EXPECT_EQ(cola.EnviaTomaConfig(bloque, &rec), 0);
    EXPECT_EQ(peer.Linea(), F("4 [198.51.100.77] %s %08x", Hex(registro.data(), 8).c_str(), suma));

    // The side file is in place, 65 bytes, and no temporary file is left beside it.
    FILE* f = fopen(FicheroConfigSistema, "r");
    ASSERT_NE(f, nullptr);
    char leido[100];
    EXPECT_EQ(fread(leido, 1, sizeof leido, f), static_cast<size_t>(TAM_BLOQUE_GENERAL));
    fclose(f);
    EXPECT_STREQ(leido, "198.51.100.77");
    glob_t g;
    EXPECT_EQ(glob("/var/st_config_sistema.txt?*", 0, nullptr, &g), GLOB_NOMATCH);
    globfree(&g);
    EXPECT_EQ(peer.Termina(), 0);
}

INSTANTIATE_TEST_SUITE_P(Familias, CatalogoCola, ::testing::Values(COLA_PADRE, COLA_HERMANO_CLIENTE),
                         [](const ::testing::TestParamInfo<int>& i) {
                             return std::string(i.param == COLA_PADRE ? "NucleoHijo" : "RecursoDsp");
                         });

}  // namespace
