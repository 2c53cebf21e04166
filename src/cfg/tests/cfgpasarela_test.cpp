// Gateway configuration structure: the image layout at its raw offsets, defaults, setters and
// the plan look-ups.
#include "cfg/cfgpasarela.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "comun/nlog.h"

namespace {

void PonI32(std::vector<uint8_t>& img, std::size_t ofs, int32_t v) { std::memcpy(&img[ofs], &v, 4); }

struct Centinela {
    const char* campo;
    std::size_t ofs;
    int32_t valor;
    int32_t (*lee)(const cfgImagenPasarela&);
};

const std::size_t R3 = 744 + 3 * 5244;  // record at position 3
const std::size_t T3 = R3 + 3800;       // its type-specific part

// Raw offsets of the image format, independent of the structure's declaration.
const Centinela kCentinelas[] = {
    {"iCfgModoSistema", 400, 11, [](const cfgImagenPasarela& c) { return c.iCfgModoSistema; }},
    {"iNivelConsola", 404, 12, [](const cfgImagenPasarela& c) { return c.iNivelConsola; }},
    {"iDual", 416, 13, [](const cfgImagenPasarela& c) { return c.iDual; }},
    {"iModoSincronizacion", 588, 14, [](const cfgImagenPasarela& c) { return c.iModoSincronizacion; }},
    {"iRecPuertoRemoto", 604, 15, [](const cfgImagenPasarela& c) { return c.iRecPuertoRemoto; }},
    {"iNumRecursos", 608, 16, [](const cfgImagenPasarela& c) { return c.iNumRecursos; }},
    {"Localizador[15].iDispositivo", 616 + 15 * 8 + 4, 17,
     [](const cfgImagenPasarela& c) { return c.LocalizadorRecurso[15].iDispositivo; }},
    {"rec3.iTipoIf", R3 + 72, 18, [](const cfgImagenPasarela& c) { return c.asRecursos[3].iTipoIf; }},
    {"rec3.iCfgModoSistema", R3 + 152, 19, [](const cfgImagenPasarela& c) { return c.asRecursos[3].iCfgModoSistema; }},
    {"rec3.iLLamadaAutomatica", R3 + 260, 20,
     [](const cfgImagenPasarela& c) { return c.asRecursos[3].iLLamadaAutomatica; }},
    {"rec3.iEnableRegistro", R3 + 1564, 21, [](const cfgImagenPasarela& c) { return c.asRecursos[3].iEnableRegistro; }},
    {"rec3.iRespuestaAutomatica", R3 + 1580, 22,
     [](const cfgImagenPasarela& c) { return c.asRecursos[3].sColateral.iRespuestaAutomatica; }},
    {"rec3.iColateralSCV", R3 + 1676, 23,
     [](const cfgImagenPasarela& c) { return c.asRecursos[3].sColateral.iColateralSCV; }},
    {"rec3.size_aListaEnlacesExternos", R3 + 1680, 24,
     [](const cfgImagenPasarela& c) { return c.asRecursos[3].size_aListaEnlacesExternos; }},
    {"rec3.iTamanoRtp", R3 + 3764 + 20, 25, [](const cfgImagenPasarela& c) { return c.asRecursos[3].iTamanoRtp; }},
    {"rec3.iBufferJitterMax", R3 + 3796, 26, [](const cfgImagenPasarela& c) { return c.asRecursos[3].iBufferJitterMax; }},
    {"radio.iPttTimeOut", T3 + 48, 27, [](const cfgImagenPasarela& c) { return c.asRecursos[3].uParam.radio.iPttTimeOut; }},
    {"radio.iTmRetardoFijo", T3 + 96, 28,
     [](const cfgImagenPasarela& c) { return c.asRecursos[3].uParam.radio.iTmRetardoFijo; }},
    {"radio.iTGRSid", T3 + 120, 29, [](const cfgImagenPasarela& c) { return c.asRecursos[3].uParam.radio.iTGRSid; }},
    {"lcen.iT8", T3 + 64, 30, [](const cfgImagenPasarela& c) { return c.asRecursos[3].uParam.lcen.iT8; }},
    {"lcen.iT_Release", T3 + 100, 31, [](const cfgImagenPasarela& c) { return c.asRecursos[3].uParam.lcen.iT_Release; }},
    {"tlf.iTmInactividad", T3 + 44, 32, [](const cfgImagenPasarela& c) { return c.asRecursos[3].uParam.tlf.iTmInactividad; }},
    {"r2n5.iT_Int_Warning", T3 + 208, 33,
     [](const cfgImagenPasarela& c) { return c.asRecursos[3].uParam.r2n5.iT_Int_Warning; }},
    {"r2n5.iNumRangosPrivilegiados", T3 + 392, 34,
     [](const cfgImagenPasarela& c) { return c.asRecursos[3].uParam.r2n5.iNumRangosPrivilegiados; }},
    {"r2n5.asMisRangosPrivilegiados[7].iHasta", T3 + 524 + 7 * 8 + 4, 35,
     [](const cfgImagenPasarela& c) { return c.asRecursos[3].uParam.r2n5.asMisRangosPrivilegiados[7].iHasta; }},
    {"r2n5.iNumRangosDirectosPriv", T3 + 592, 36,
     [](const cfgImagenPasarela& c) { return c.asRecursos[3].uParam.r2n5.iNumRangosDirectosPriv; }},
    {"r2n5.asRangosDirectosPriv[89].iHasta", T3 + 724 + 89 * 8 + 4, 37,
     [](const cfgImagenPasarela& c) { return c.asRecursos[3].uParam.r2n5.asRangosDirectosPriv[89].iHasta; }},
    {"rec15.iTipoIf", 744 + 15 * 5244 + 72, 38, [](const cfgImagenPasarela& c) { return c.asRecursos[15].iTipoIf; }},
    {"uiPuertoMulticast", 85292, 39, [](const cfgImagenPasarela& c) { return int32_t(c.uiPuertoMulticast); }},
    {"central7.abonado.iPrefijo", 85296 + 7 * 17288 + 584 + 7 * 36 + 12, 40,
     [](const cfgImagenPasarela& c) { return int32_t(c.asPlanAts[7].asRangosPriv[7].abonado.iPrefijo); }},
    {"red15.prefijo", 360880 + 15 * 8388 + 64, 41, [](const cfgImagenPasarela& c) { return c.asRedes[15].prefijo; }},
    {"sip255.abonado31.iPrefijo", 658928 + 255 * 832 + 64 + 31 * 24, 42,
     [](const cfgImagenPasarela& c) { return int32_t(c.asDireccionamientoSip[255].abonados[31].iPrefijo); }},
};

struct Byte {
    const char* campo;
    std::size_t ofs;
    uint8_t (*lee)(const cfgImagenPasarela&);
};

const Byte kBytes[] = {
    {"acIdSistema", 24, [](const cfgImagenPasarela& c) { return uint8_t(c.acIdSistema[0]); }},
    {"szNombre", 75, [](const cfgImagenPasarela& c) { return uint8_t(c.szNombre[0]); }},
    {"szDirVirtual", 270, [](const cfgImagenPasarela& c) { return uint8_t(c.szDirVirtual[0]); }},
    {"acIdConfig[167]", 587, [](const cfgImagenPasarela& c) { return uint8_t(c.acIdConfig[167]); }},
    {"acTipoSlot[3]", 615, [](const cfgImagenPasarela& c) { return c.acTipoSlot[3]; }},
    {"rec3.szUriLocal", R3 + 176, [](const cfgImagenPasarela& c) { return uint8_t(c.asRecursos[3].szUriLocal[0]); }},
    {"rec3.listanegra[7]", R3 + 916 + 7 * 81,
     [](const cfgImagenPasarela& c) { return uint8_t(c.asRecursos[3].listanegra[7][0]); }},
    {"rec3.szUriRemota", R3 + 1584,
     [](const cfgImagenPasarela& c) { return uint8_t(c.asRecursos[3].sColateral.szUriRemota[0]); }},
    {"rec3.enlace31", R3 + 1684 + 31 * 65,
     [](const cfgImagenPasarela& c) { return uint8_t(c.asRecursos[3].aListaEnlacesExternos[31][0]); }},
    {"radio.iEyM", T3 + 6, [](const cfgImagenPasarela& c) { return c.asRecursos[3].uParam.radio.iEyM; }},
    {"radio.cTipoConmutacion", T3 + 108,
     [](const cfgImagenPasarela& c) { return uint8_t(c.asRecursos[3].uParam.radio.cTipoConmutacion); }},
    {"radio.emp3.ActivoRx", T3 + 124 + 3 * 326 + 325,
     [](const cfgImagenPasarela& c) { return uint8_t(c.asRecursos[3].uParam.radio.asEmplazamiento[3].ActivoRx); }},
    {"tlf.szIdRed", T3 + 5244 + 48,
     [](const cfgImagenPasarela& c) { return uint8_t(c.asRecursos[4].uParam.tlf.szIdRed[0]); }},
    {"r2n5.ntest_remoto", T3 + 218,
     [](const cfgImagenPasarela& c) { return uint8_t(c.asRecursos[3].uParam.r2n5.ntest_remoto[0]); }},
    {"r2n5.rangoOrg3", T3 + 272 + 36,
     [](const cfgImagenPasarela& c) { return uint8_t(c.asRecursos[3].uParam.r2n5.asRangosOrg[3].desde[0]); }},
    {"r2n5.szIdRed", T3 + 353, [](const cfgImagenPasarela& c) { return uint8_t(c.asRecursos[3].uParam.r2n5.szIdRed[0]); }},
    {"szDirSipProxy[2]", 84840 + 128, [](const cfgImagenPasarela& c) { return uint8_t(c.szDirSipProxy[2][0]); }},
    {"szDirSrvNtp[0]", 85032, [](const cfgImagenPasarela& c) { return uint8_t(c.szDirSrvNtp[0][0]); }},
    {"acGrupoMulticast", 85224, [](const cfgImagenPasarela& c) { return uint8_t(c.acGrupoMulticast[0]); }},
    {"central1.centralpropia", 85296 + 17288, [](const cfgImagenPasarela& c) { return c.asPlanAts[1].centralpropia; }},
    {"central1.ruta31.tipo", 85296 + 17288 + 872 + 31 * 513,
     [](const cfgImagenPasarela& c) { return c.asPlanAts[1].asRutas[31].tipo; }},
    {"central1.ruta31.troncal7", 85296 + 17288 + 872 + 31 * 513 + 449,
     [](const cfgImagenPasarela& c) { return uint8_t(c.asPlanAts[1].asRutas[31].troncales[7][0]); }},
    {"ip319.tipo", 223600 + 319 * 193 + 192, [](const cfgImagenPasarela& c) { return c.asDireccionamientoIp[319].tipo; }},
    {"troncal127.no_test", 285360 + 127 * 590 + 64,
     [](const cfgImagenPasarela& c) { return uint8_t(c.asTroncales[127].no_test[0]); }},
    {"troncal127.miembro7.tipo", 285360 + 127 * 590 + 70 + 7 * 65,
     [](const cfgImagenPasarela& c) { return c.asTroncales[127].miembros[7].tipo; }},
    {"red15.miembro127.id", 360880 + 15 * 8388 + 68 + 127 * 65 + 1,
     [](const cfgImagenPasarela& c) { return uint8_t(c.asRedes[15].miembros[127].id[0]); }},
    {"asignacionusuario255.idhost", 495088 + 255 * 128 + 64,
     [](const cfgImagenPasarela& c) { return uint8_t(c.asAsignacionUsuarios[255].idhost[0]); }},
    {"asignacionrecurso1023.idhost", 527856 + 1023 * 128 + 64,
     [](const cfgImagenPasarela& c) { return uint8_t(c.asAsignacionRecursos[1023].idhost[0]); }},
    {"ultimo byte", 871919,
     [](const cfgImagenPasarela& c) { return uint8_t(c.asDireccionamientoSip[255].abonados[31].szNumero[19]); }},
};

TEST(cfgPasarela, FieldsSitAtTheImageOffsets) {
    std::vector<uint8_t> img(CFG_TAM_IMAGEN, 0);
    for (const Centinela& c : kCentinelas) PonI32(img, c.ofs, c.valor);
    uint8_t b = 0x80;
    for (const Byte& c : kBytes) img[c.ofs] = b++;
    auto vista = std::make_unique<cfgImagenPasarela>();
    std::memcpy(static_cast<void*>(vista.get()), img.data(), img.size());
    for (const Centinela& c : kCentinelas) EXPECT_EQ(c.lee(*vista), c.valor) << c.campo;
    b = 0x80;
    for (const Byte& c : kBytes) EXPECT_EQ(c.lee(*vista), b++) << c.campo;
}

TEST(cfgPasarela, FreshStructureHoldsOneDefaultRadioAndEmptyPlans) {
    auto cfg = std::make_unique<cfgConfigPasarela>();
    EXPECT_EQ(cfg->iNumRecursos, 1);
    for (const cfgLocalizador& l : cfg->LocalizadorRecurso) EXPECT_TRUE(l.iSlot == 0 && l.iDispositivo == 0);
    EXPECT_STREQ(cfg->acIdSistema, "Departamento");
    EXPECT_STREQ(cfg->acIdConfig, "ID CFG desconocido");
    EXPECT_EQ(cfg->iNivelConsola, 65535);
    EXPECT_EQ(cfg->iPuertoConsola, 19710);
    EXPECT_EQ(cfg->iDual, 1);
    EXPECT_EQ(cfg->iModoSincronizacion, 2);
    EXPECT_EQ(cfg->iSipPuertoLocal, 5060);
    for (const cfgConfigRecurso& r : cfg->asRecursos) {
        EXPECT_STREQ(r.nombre, "RD-01");
        EXPECT_EQ(r.iTipo, 2);
        EXPECT_EQ(r.iTipoIf, TIPOIF_RADIO);
        EXPECT_STREQ(r.szDestino, "F-1");
        EXPECT_EQ(r.iLLamadaAutomatica, 1);
        EXPECT_EQ(r.iTamanoRtp, 20);
        EXPECT_EQ(r.uParam.radio.cTipoPtt, 'h');
        EXPECT_EQ(r.uParam.radio.iNtz, -1);
        EXPECT_EQ(r.uParam.radio.iTiempoPttBloqueado, 2000);
        EXPECT_EQ(r.uParam.radio.cTipoConmutacion, 'M');
        EXPECT_EQ(r.uParam.radio.asEmplazamiento[0].ActivoTx, 'A');
        EXPECT_EQ(r.uParam.radio.asEmplazamiento[0].UriTxA[0], '\0');
    }
    EXPECT_EQ(cfg->asPlanAts[0].centralpropia, CFG_FIN_PLAN_ATS);
    EXPECT_EQ(cfg->asRedes[0].prefijo, CFG_FIN_PLAN_REDES);
    EXPECT_EQ(cfg->asDireccionamientoIp[0].idhost[0], '\0');
    EXPECT_EQ(cfg->asDireccionamientoSip[0].idusuario[0], '\0');
}

TEST(cfgPasarela, NetworkPlanEndsAtAWholeWord255) {
    auto cfg = std::make_unique<cfgConfigPasarela>();
    uint8_t bytes[4] = {255, 0, 0, 1};  // a byte 255 that is not the word 255
    std::memcpy(&cfg->asRedes[0].prefijo, bytes, 4);
    EXPECT_NE(cfg->asRedes[0].prefijo, CFG_FIN_PLAN_REDES);
    cfg->asRedes[0].prefijo = 255;
    uint8_t fin[4];
    std::memcpy(fin, &cfg->asRedes[0].prefijo, 4);
    EXPECT_EQ(fin[0] + fin[1] + fin[2] + fin[3], 255);  // one byte of the native word
}

TEST(cfgPasarela, SettersKeepTheirRanges) {
    auto cfg = std::make_unique<cfgConfigPasarela>();
    cfgConfigRecurso& r = cfg->asRecursos[2];
    struct {
        int in, esperado;
    } slots[] = {{-1, -1}, {0, 0}, {3, 3}, {4, -1}, {7, -1}};
    for (auto c : slots) {
        r.PonSlot(c.in);
        EXPECT_EQ(r.iSlot, c.esperado) << c.in;
        r.PonDispositivo(c.in);
        EXPECT_EQ(r.iDispositivo, c.esperado) << c.in;
    }
    r.PonTipoIf(15);
    EXPECT_EQ(r.iTipoIf, 15);
    EXPECT_EQ(r.uParam.radio.cTipoPtt, 'h');  // no defaults written for 15
    r.PonTipoIf(17);
    EXPECT_EQ(r.iTipoIf, 0);
    r.PonTipoIf(TIPOIF_LCEN);
    EXPECT_EQ(r.uParam.lcen.iUmbralRxTonoLcen, -35);
    EXPECT_EQ(r.uParam.lcen.iT8, 80);
    EXPECT_EQ(r.uParam.lcen.iT12, 200);
    r.PonTipoIf(TIPOIF_ATSN5);
    EXPECT_EQ(r.uParam.r2n5.aiTiempos[0], 125);
    EXPECT_EQ(r.uParam.r2n5.aiTiempos[49], 100);
    EXPECT_STREQ(r.uParam.r2n5.szIdTroncal, "id.desconocido.troncal.rk82");
    r.PonTipoIf(TIPOIF_BC);
    EXPECT_EQ(r.uParam.tlf.iVRing, 71300);
    EXPECT_EQ(r.uParam.tlf.szIdRed[0], '\0');
    r.PonTipo(5);
    EXPECT_EQ(r.iSelGananciaAgcTx, 64000);
    r.PonTipo(9);
    EXPECT_EQ(r.iTipo, 0);
    EXPECT_EQ(r.iTamanoRtp, 20);
    r.PonTipoIf(TIPOIF_RADIO);
    r.PonTipoPtt('x');
    EXPECT_EQ(r.uParam.radio.cTipoPtt, 'h');
    r.PonTipoSq('v');
    EXPECT_EQ(r.uParam.radio.cTipoSq, 'v');
    r.PonNumFlujosMezcla(8);
    EXPECT_EQ(r.uParam.radio.iNumFlujosMezcla, 1);
    r.PonModoConfPtt(2);
    EXPECT_EQ(r.uParam.radio.iModoConfPtt, 2);
    cfg->PonModoSincronizacion(4);
    EXPECT_EQ(cfg->iModoSincronizacion, 0);
    cfg->PonNombre(std::string(80, 'n').c_str());
    EXPECT_EQ(std::strlen(cfg->szNombre), 64u);
}

TEST(cfgPasarela, BuscaRecursoFindsByNameOrMinusOne) {
    auto cfg = std::make_unique<cfgConfigPasarela>();
    std::memcpy(cfg->asRecursos[9].nombre, "TLF-09", 7);
    for (int i = 0; i < 9; i++) std::strcpy(cfg->asRecursos[i].nombre, "X");
    EXPECT_EQ(cfg->BuscaRecurso("TLF-09"), 9);
    EXPECT_EQ(cfg->BuscaRecurso("NADIE"), -1);
}

std::vector<std::string> gLineas;
void CapturaLineas(int, const char* texto) { gLineas.push_back(texto); }

TEST(cfgPasarela, ChannelsOutOfRangeAreSkippedWithALogLine) {
    struct Caso {
        const char* nombre;
        int32_t iNumRecursos;
        std::vector<cfgLocalizador> canales;
        std::string flags;
        std::vector<std::string> lineas;
    };
    const Caso casos[] = {
        {"dentro", 2, {{0, 0}, {3, 3}}, "1000000000000001", {}},
        {"ninguno", 0, {{1, 1}}, "0000000000000000", {}},
        {"negativo", -3, {{1, 1}}, "0000000000000000", {"CFG: iNumRecursos -3 fuera de rango, se toman 0"}},
        {"veinte", 20, {{0, 1}}, "1100000000000000", {"CFG: iNumRecursos 20 fuera de rango, se toman 16"}},
        {"slot y dispositivo", 4, {{7, 0}, {0, -1}, {0, 4}, {2, 1}}, "0000000001000000",
         {"CFG: canal 0 fuera de rango (slot 7 dispositivo 0), ignorado",
          "CFG: canal 1 fuera de rango (slot 0 dispositivo -1), ignorado",
          "CFG: canal 2 fuera de rango (slot 0 dispositivo 4), ignorado"}},
    };
    NLOG::FijaCaptura(CapturaLineas);
    for (const Caso& c : casos) {
        auto img = std::make_unique<cfgImagenPasarela>();
        img->iNumRecursos = c.iNumRecursos;
        for (std::size_t i = 0; i < c.canales.size(); i++) img->LocalizadorRecurso[i] = c.canales[i];
        gLineas.clear();
        uint8_t flags[CFG_NUM_RECURSOS];
        cfgMarcaPosiciones(img.get(), flags);
        std::string s;
        for (uint8_t f : flags) s += static_cast<char>('0' + f);
        EXPECT_EQ(s, c.flags) << c.nombre;
        EXPECT_EQ(gLineas, c.lineas) << c.nombre;
    }
    NLOG::FijaCaptura(nullptr);
}

TEST(cfgPasarela, VirtualAddressCopyIsBoundedAndTerminated) {
    auto cfg = std::make_unique<cfgConfigPasarela>();
    std::memset(cfg->szDirVirtual, '9', sizeof cfg->szDirVirtual);  // no terminator
    char buf[65];
    cfg->CopiaDirVirtual(buf);
    EXPECT_EQ(std::strlen(buf), 64u);
}

void Digitos(char* campo, int v) {
    char buf[12];
    std::snprintf(buf, sizeof buf, "%06d", v);
    std::memcpy(campo, buf, 6);
}

// Plan with a trunk "T1" (member "R2-1", test number 222222), own exchange 111111 and another
// exchange 333333 routing to T1.
void PlanDePrueba(cfgConfigPasarela& c) {
    std::strcpy(c.asTroncales[0].idtroncal, "T1");
    std::memcpy(c.asTroncales[0].no_test, "222222", 6);
    std::strcpy(c.asTroncales[0].miembros[0].id, "R2-1");
    Central& propia = c.asPlanAts[0];
    propia.centralpropia = CFG_CENTRAL_PROPIA;
    std::memcpy(propia.no_test, "111111", 6);
    std::memcpy(propia.asRangosOpe[0].desde, "100000", 6);
    std::memcpy(propia.asRangosOpe[0].hasta, "199999", 6);
    propia.asRutas[0].tipo = CFG_FIN_RUTAS;
    Central& otra = c.asPlanAts[1];
    otra.centralpropia = CFG_CENTRAL_AJENA;
    std::memcpy(otra.no_test, "333333", 6);
    for (int i = 0; i < 16; i++) {
        Digitos(otra.asRangosOpe[i].desde, 300000 + i);
        std::memcpy(otra.asRangosOpe[i].hasta, "399999", 6);
    }
    for (int i = 0; i < 8; i++) {
        Digitos(otra.asRangosPriv[i].desde, 500000 + i);
        std::memcpy(otra.asRangosPriv[i].hasta, "599999", 6);
    }
    otra.asRutas[0].tipo = 0;
    std::strcpy(otra.asRutas[0].troncales[0], "T1");
    otra.asRutas[1].tipo = CFG_FIN_RUTAS;
    c.asPlanAts[2].centralpropia = CFG_FIN_PLAN_ATS;
}

TEST(cfgPasarela, TrunkLookUpGivesBothTestNumbers) {
    auto cfg = std::make_unique<cfgConfigPasarela>();
    PlanDePrueba(*cfg);
    char propio[7] = "", troncal[7] = "";
    cfg->cfgBuscaNoTestTroncal("R2-1", propio, troncal);
    EXPECT_STREQ(propio, "111111");
    EXPECT_STREQ(troncal, "222222");
    char otro[7] = "x";
    cfg->cfgBuscaNoTestTroncal("R2-10", nullptr, otro);  // a longer name is another member
    EXPECT_STREQ(otro, "x");
}

TEST(cfgPasarela, TrunkRangesClampCountsAndReportNoneWhenNoExchange) {
    auto cfg = std::make_unique<cfgConfigPasarela>();
    PlanDePrueba(*cfg);
    cfgParRango ope[16] = {}, priv[8] = {};
    int nOpe = 20, nPriv = 9;
    cfg->cfgRangosCentralTroncal("R2-1", ope, &nOpe, priv, &nPriv);
    EXPECT_EQ(nOpe, 16);
    EXPECT_EQ(nPriv, 8);
    EXPECT_EQ(ope[15].iDesde, 300015);
    EXPECT_EQ(priv[7].iDesde, 500007);
    EXPECT_EQ(priv[7].iHasta, 599999);
    nOpe = 4;
    nPriv = 4;
    cfg->cfgRangosCentralTroncal("NADIE", ope, &nOpe, priv, &nPriv);
    EXPECT_EQ(nOpe, 0);
    EXPECT_EQ(nPriv, 0);
    nOpe = 1;
    nPriv = 0;
    cfg->cfgRangosCentralPropia(ope, &nOpe, priv, &nPriv);
    EXPECT_EQ(nOpe, 1);
    EXPECT_EQ(ope[0].iDesde, 100000);
    EXPECT_EQ(ope[0].iHasta, 199999);
    cfg->asPlanAts[0].centralpropia = CFG_FIN_PLAN_ATS;
    nOpe = 3;
    cfg->cfgRangosCentralPropia(ope, &nOpe, priv, &nPriv);
    EXPECT_EQ(nOpe, 0);
}

TEST(cfgPasarela, LookUpsRunForACallerHoldingTheLock) {
    auto cfg = std::make_unique<cfgConfigPasarela>();
    PlanDePrueba(*cfg);
    pthread_mutex_lock(&cfg->tMutex);
    char propio[7] = "";
    cfg->cfgBuscaNoTestTroncal("R2-1", propio, nullptr);
    pthread_mutex_unlock(&cfg->tMutex);
    EXPECT_STREQ(propio, "111111");
    // and the lock is free again for another thread
    std::thread([&] {
        EXPECT_EQ(pthread_mutex_trylock(&cfg->tMutex), 0);
        pthread_mutex_unlock(&cfg->tMutex);
    }).join();
}

}  // namespace
