// Taking an image over (normalisation by interface type) and the record and plan comparisons,
// with the log lines they leave.
#include "cfg/cfgimagen.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "comun/nlog.h"

namespace {

std::mutex gMutexLog;
std::vector<std::string> gLog;

void Captura(int, const char* texto) {
    std::lock_guard<std::mutex> l(gMutexLog);
    gLog.push_back(texto);
}

class cfgImagen : public ::testing::Test {
protected:
    void SetUp() override {
        gLog.clear();
        NLOG::FijaCaptura(Captura);
        ModoSistemaLocal = 0;
    }
    void TearDown() override { NLOG::FijaCaptura(nullptr); }
};

std::unique_ptr<cfgImagenPasarela> ImagenDe(const cfgConfigPasarela& c) {
    auto img = std::make_unique<cfgImagenPasarela>();
    std::memcpy(static_cast<void*>(img.get()), static_cast<const cfgImagenPasarela*>(&c), CFG_TAM_IMAGEN);
    return img;
}

TEST_F(cfgImagen, TypesFifteenAndSixteenBecomeBlLinesInEyMMode) {
    auto cfg = std::make_unique<cfgConfigPasarela>();
    auto img = ImagenDe(*cfg);
    img->asRecursos[1].iTipoIf = 15;
    img->asRecursos[1].iLLamadaAutomatica = 0;
    img->asRecursos[2].iTipoIf = 16;
    img->asRecursos[2].iLLamadaAutomatica = 1;
    img->asRecursos[3].iTipoIf = TIPOIF_BL;
    img->asRecursos[3].uParam.tlf.iModoEyM = 1;
    img->asRecursos[3].iEnableRegistro = 1;
    cfg->CopiaImagen(img.get());
    EXPECT_EQ(cfg->asRecursos[1].iTipoIf, TIPOIF_BL);
    EXPECT_EQ(cfg->asRecursos[1].iLLamadaAutomatica, 1);
    EXPECT_EQ(cfg->asRecursos[1].uParam.tlf.iModoEyM, 1);
    EXPECT_EQ(cfg->asRecursos[2].iTipoIf, TIPOIF_BL);
    EXPECT_EQ(cfg->asRecursos[2].iLLamadaAutomatica, 0);
    EXPECT_EQ(cfg->asRecursos[2].uParam.tlf.iModoEyM, 1);
    EXPECT_EQ(cfg->asRecursos[3].uParam.tlf.iModoEyM, 0);  // a plain BL line
    EXPECT_EQ(cfg->asRecursos[3].iEnableRegistro, 0);
}

TEST_F(cfgImagen, RadioTypeFollowsTheRadioKind) {
    struct {
        int iTipoRadio, iTipoImagen, iTipoEsperado;
    } casos[] = {{5, 2, 1}, {6, 2, 0}, {0, 0, 2}, {4, 1, 2}, {7, 3, 3}, {-1, 6, 6}};
    for (auto c : casos) {
        auto cfg = std::make_unique<cfgConfigPasarela>();
        auto img = ImagenDe(*cfg);
        img->asRecursos[0].uParam.radio.iTipoRadio = c.iTipoRadio;
        img->asRecursos[0].iTipo = c.iTipoImagen;
        cfg->CopiaImagen(img.get());
        EXPECT_EQ(cfg->asRecursos[0].iTipo, c.iTipoEsperado) << c.iTipoRadio;
    }
}

TEST_F(cfgImagen, RadioFieldsAreNormalisedBySystemMode) {
    auto cfg = std::make_unique<cfgConfigPasarela>();
    auto img = ImagenDe(*cfg);
    cfgParamRadio& r = img->asRecursos[0].uParam.radio;
    r.iTipoRadio = 4;
    r.iNivelTonoPtt = 3;
    r.iPttTimeOut = 77;
    r.iClimaxDelay = 5;
    r.iTiempo_VentanaRx = 9;
    img->asRecursos[1].uParam.radio.iTipoRadio = 2;
    img->asRecursos[1].uParam.radio.iClimaxDelay = 5;
    std::memset(img->acRanuraMutex, 0xAB, sizeof img->acRanuraMutex);
    cfg->CopiaImagen(img.get());
    EXPECT_EQ(ModoSistemaLocal, 0);
    EXPECT_EQ(cfg->asRecursos[0].uParam.radio.iEvtPTT, 1);
    EXPECT_EQ(cfg->asRecursos[0].uParam.radio.iPttTimeOut, 77);
    EXPECT_EQ(cfg->asRecursos[0].uParam.radio.iClimaxDelay, 0);
    EXPECT_EQ(cfg->asRecursos[0].uParam.radio.iTiempo_VentanaRx, 0);
    EXPECT_EQ(cfg->asRecursos[1].uParam.radio.iClimaxDelay, 5);
    EXPECT_NE(cfg->acRanuraMutex[0], 0xAB);  // the image's mutex slot is never copied

    img->iCfgModoSistema = 1;
    cfg->CopiaImagen(img.get());
    EXPECT_EQ(ModoSistemaLocal, 1);
    EXPECT_EQ(cfg->asRecursos[0].uParam.radio.iPttTimeOut, 200);
    img->iCfgModoSistema = 7;
    cfg->CopiaImagen(img.get());
    EXPECT_EQ(ModoSistemaLocal, 0);
}

// One field changed in the second record: the result of cfgIgualGeneralRecurso and its log line.
struct Diferencia {
    const char* nombre;
    std::function<void(cfgConfigRecurso&)> cambia;
    int igual;
    const char* linea;  // null: no line
};

const std::vector<Diferencia>& Diferencias() {
    static const std::vector<Diferencia> d = {
        {"nombre", [](cfgConfigRecurso& r) { std::strcpy(r.nombre, "RD-02"); }, 0, "Distinto nombre RD-02"},
        {"nombre65", [](cfgConfigRecurso& r) { std::memset(r.nombre, 'n', 68); }, 0,
         "Distinto nombre nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn"},
        {"iTipoIf", [](cfgConfigRecurso& r) { r.iTipoIf = 2; }, 0, "Distinto iTipoIf 2"},
        {"iSlot", [](cfgConfigRecurso& r) { r.iSlot = 3; }, 0, "Distinto iSlot 3"},
        {"iDispositivo", [](cfgConfigRecurso& r) { r.iDispositivo = 1; }, 0, "Distinto iDispositivo 1"},
        {"szDestino", [](cfgConfigRecurso& r) { std::strcpy(r.szDestino, "F-9"); }, 0, "Distinto szDestino F-9"},
        {"iCfgModoSistema", [](cfgConfigRecurso& r) { r.iCfgModoSistema = 1; }, 0, "Distinto iCfgModoSistema 1"},
        {"iFlgUsarDiffServ", [](cfgConfigRecurso& r) { r.iFlgUsarDiffServ = 1; }, 0, "Distinto iFlgUsarDiffServ 1"},
        {"iRecPuertoRemoto", [](cfgConfigRecurso& r) { r.iRecPuertoRemoto = 7; }, 0, "Distinto iRecPuertoRemoto 7"},
        {"iSnmpPuertoRemoto", [](cfgConfigRecurso& r) { r.iSnmpPuertoRemoto = 8; }, 0,
         "Distinto iSnmpPuertoRemoto 8"},
        {"iRecPuertoBase", [](cfgConfigRecurso& r) { r.iRecPuertoBase = 9; }, 0, "Distinto iRecPuertoBase 9"},
        {"iEnableGI", [](cfgConfigRecurso& r) { r.iEnableGI = 1; }, 0, "Distinto iEnableGI 1"},
        {"szUriLocal", [](cfgConfigRecurso& r) { std::strcpy(r.szUriLocal, "sip:x@y"); }, 0,
         "Distinto szUriLocal sip:x@y"},
        {"iLLamadaAutomatica", [](cfgConfigRecurso& r) { r.iLLamadaAutomatica = 0; }, 0,
         "Distinto iLLamadaAutomatica 0 "},
        {"iRestriccion", [](cfgConfigRecurso& r) { r.iRestriccion = 1; }, 0, "Distinto iRestriccion 1"},
        {"listablanca", [](cfgConfigRecurso& r) { std::strcpy(r.listablanca[7], "sip:a@b"); }, 0,
         "Distinto Lista blanca"},
        {"listanegra", [](cfgConfigRecurso& r) { std::strcpy(r.listanegra[0], "sip:a@b"); }, 0,
         "Distinto Lista negra"},
        {"iEnableRegistro", [](cfgConfigRecurso& r) { r.iEnableRegistro = 1; }, 0, "Distinto iEnableRegistro 1"},
        {"szClave", [](cfgConfigRecurso& r) { std::strcpy(r.szClave, "secreto"); }, 0, "Distinto szClave secreto"},
        {"szClave9", [](cfgConfigRecurso& r) { std::strcpy(r.szClave + 8, "xyz"); }, 1, nullptr},
        {"iRespuestaAutomatica", [](cfgConfigRecurso& r) { r.sColateral.iRespuestaAutomatica = 1; }, 0,
         "Distinto iRespuestaAutomatica 1"},
        {"szUriRemota", [](cfgConfigRecurso& r) { std::strcpy(r.sColateral.szUriRemota, "sip:p@q"); }, 0,
         "Distinto sColateral.szUriRemota sip:p@q"},
        {"isuperv_options", [](cfgConfigRecurso& r) { r.sColateral.isuperv_options = 1; }, 0,
         "Distinto isuperv_options 1"},
        {"itm_superv_options", [](cfgConfigRecurso& r) { r.sColateral.itm_superv_options = 30; }, 0,
         "Distinto itm_superv_options 30"},
        {"size_aListaEnlacesExternos", [](cfgConfigRecurso& r) { r.size_aListaEnlacesExternos = 2; }, 0,
         "Distinto size_aListaEnlacesExternos 2"},
        {"iColateralSCV", [](cfgConfigRecurso& r) { r.sColateral.iColateralSCV = 1; }, 1, nullptr},
        {"iTipo", [](cfgConfigRecurso& r) { r.iTipo = 0; }, 1, nullptr},
    };
    return d;
}

TEST_F(cfgImagen, EachGeneralFieldDifferenceGivesItsLogLine) {
    for (const Diferencia& d : Diferencias()) {
        auto a = std::make_unique<cfgConfigRecurso>();
        auto b = std::make_unique<cfgConfigRecurso>();
        d.cambia(*b);
        gLog.clear();
        EXPECT_EQ(cfgIgualGeneralRecurso(a.get(), b.get()), d.igual) << d.nombre;
        EXPECT_EQ(cfgDistintoGeneralRecurso(a.get(), b.get()), 1 - d.igual) << d.nombre;
        if (d.linea) {
            ASSERT_GE(gLog.size(), 1u) << d.nombre;
            EXPECT_EQ(gLog[0], d.linea) << d.nombre;
        } else {
            EXPECT_TRUE(gLog.empty()) << d.nombre;
        }
    }
}

TEST_F(cfgImagen, RecordDifferenceNamesItsPart) {
    struct Caso {
        const char* nombre;
        std::function<void(cfgConfigRecurso&, cfgConfigRecurso&)> prepara;
        int igual;
        std::vector<std::string> lineas;
    };
    const std::vector<Caso> casos = {
        {"general", [](cfgConfigRecurso&, cfgConfigRecurso& b) { b.iSlot = 1; }, 0,
         {"Distinto iSlot 1", "esdistinto general RD-01\n"}},
        {"audio", [](cfgConfigRecurso&, cfgConfigRecurso& b) { b.iBufferJitterMax = 80; }, 0, {"esdistinto Rec RD-01\n"}},
        {"datos", [](cfgConfigRecurso& a, cfgConfigRecurso& b) { a.iTipo = b.iTipo = 5; b.iTamanoRtp = 40; }, 1, {}},
        {"datos-velocidad",
         [](cfgConfigRecurso& a, cfgConfigRecurso& b) {
             a.iTipo = b.iTipo = 5;
             b.iSelGananciaAgcTx = 9600;
         },
         0, {}},
        {"tipo-fuera", [](cfgConfigRecurso& a, cfgConfigRecurso& b) { a.iTipo = b.iTipo = 7; }, 0, {}},
        {"radio", [](cfgConfigRecurso&, cfgConfigRecurso& b) { b.uParam.radio.iNtz = 3; }, 0,
         {"esdistinto radio RD-01\n"}},
        {"radio-ventana-tipo0", [](cfgConfigRecurso&, cfgConfigRecurso& b) { b.uParam.radio.iClimaxDelay = 9; }, 1, {}},
        {"radio-ventana-tipo2",
         [](cfgConfigRecurso& a, cfgConfigRecurso& b) {
             a.uParam.radio.iTipoRadio = b.uParam.radio.iTipoRadio = 2;
             b.uParam.radio.iReservado = 9;
         },
         0, {"esdistinto radio RD-01\n"}},
        {"radio-emplazamiento", [](cfgConfigRecurso&, cfgConfigRecurso& b) {
             std::strcpy(b.uParam.radio.asEmplazamiento[0].UriTxA, "sip:tx@a");
         }, 1, {}},
        {"lcen",
         [](cfgConfigRecurso& a, cfgConfigRecurso& b) {
             a.PonTipoIf(TIPOIF_LCEN);
             b.PonTipoIf(TIPOIF_LCEN);
             b.uParam.lcen.iT_Release = 4;
         },
         0, {"esdistinto LCen RD-01\n"}},
        {"tlf",
         [](cfgConfigRecurso& a, cfgConfigRecurso& b) {
             a.PonTipoIf(TIPOIF_EYM_MARC);
             b.PonTipoIf(TIPOIF_EYM_MARC);
             std::strcpy(b.uParam.tlf.szIdRed, "red");
         },
         0, {"esdistinto tlf RD-01\n"}},
        {"r2n5",
         [](cfgConfigRecurso& a, cfgConfigRecurso& b) {
             a.PonTipoIf(TIPOIF_ATSR2);
             b.PonTipoIf(TIPOIF_ATSR2);
             b.uParam.r2n5.iNumRangosDirectosPriv = 2;
         },
         0, {"esdistinto r2n5 RD-01\n"}},
        {"r2n5-tiempos",
         [](cfgConfigRecurso& a, cfgConfigRecurso& b) {
             a.PonTipoIf(TIPOIF_ATSR2);
             b.PonTipoIf(TIPOIF_ATSR2);
             b.uParam.r2n5.aiTiempos[3] = 1;
         },
         1, {}},
        {"r2n5-rango-vacio",
         [](cfgConfigRecurso& a, cfgConfigRecurso& b) {
             a.PonTipoIf(TIPOIF_ATSN5);
             b.PonTipoIf(TIPOIF_ATSN5);
             std::memcpy(b.uParam.r2n5.asRangosDst[1].hasta, "999999", 6);  // unused: first byte 0
         },
         1, {}},
        {"qsig", [](cfgConfigRecurso& a, cfgConfigRecurso& b) {
             a.PonTipoIf(TIPOIF_ATSQSIG);
             b.PonTipoIf(TIPOIF_ATSQSIG);
             b.uParam.qsig.aiParam[1] = 1;
         }, 0, {}},
        {"io", [](cfgConfigRecurso& a, cfgConfigRecurso& b) { a.iTipoIf = b.iTipoIf = TIPOIF_IO; b.uParam.aucBytes[0] = 1; },
         1, {}},
        {"rrc", [](cfgConfigRecurso& a, cfgConfigRecurso& b) { a.iTipoIf = b.iTipoIf = TIPOIF_RRC; }, 0, {}},
        {"tipo15", [](cfgConfigRecurso& a, cfgConfigRecurso& b) { a.iTipoIf = b.iTipoIf = 15; }, 0, {}},
    };
    for (const Caso& c : casos) {
        auto a = std::make_unique<cfgConfigRecurso>();
        auto b = std::make_unique<cfgConfigRecurso>();
        c.prepara(*a, *b);
        gLog.clear();
        EXPECT_EQ(cfgIgualRecurso(a.get(), b.get()), c.igual) << c.nombre;
        EXPECT_EQ(gLog, c.lineas) << c.nombre;
    }
}

TEST_F(cfgImagen, ExternalLinksCountOnlyOutsideLocalMode) {
    auto a = std::make_unique<cfgConfigRecurso>();
    auto b = std::make_unique<cfgConfigRecurso>();
    a->size_aListaEnlacesExternos = b->size_aListaEnlacesExternos = 1;
    std::strcpy(b->aListaEnlacesExternos[0], "enlace");
    EXPECT_EQ(cfgIgualRecurso(a.get(), b.get()), 0);
    ModoSistemaLocal = 1;
    EXPECT_EQ(cfgIgualRecurso(a.get(), b.get()), 1);
    ModoSistemaLocal = 0;
    // a hostile count reads no further than the list
    a->size_aListaEnlacesExternos = b->size_aListaEnlacesExternos = 1000000;
    std::strcpy(a->aListaEnlacesExternos[0], "enlace");
    EXPECT_EQ(cfgIgualRecurso(a.get(), b.get()), 1);
}

TEST_F(cfgImagen, CollateralChangesShowOnlyForRadiosWithEmplacements) {
    struct Caso {
        int iTipoRadio;
        int iEmp;
        bool bLadoB;
        bool bRx;
        int esperado;
    } casos[] = {{0, 0, false, false, 1}, {0, 1, false, false, 0}, {0, 0, true, false, 0},
                 {1, 0, true, true, 1},   {2, 2, false, true, 1},  {2, 2, true, false, 0},
                 {3, 2, true, false, 1},  {3, 3, false, false, 0}, {4, 0, false, false, 0}};
    for (auto c : casos) {
        auto a = std::make_unique<cfgConfigRecurso>();
        auto b = std::make_unique<cfgConfigRecurso>();
        a->uParam.radio.iTipoRadio = b->uParam.radio.iTipoRadio = c.iTipoRadio;
        cfgEmplazamiento& e = b->uParam.radio.asEmplazamiento[c.iEmp];
        char* uri = c.bRx ? (c.bLadoB ? e.UriRxB : e.UriRxA) : (c.bLadoB ? e.UriTxB : e.UriTxA);
        std::strcpy(uri, "sip:radio@x");
        EXPECT_EQ(cfgDistintoColateral(a.get(), b.get()), c.esperado)
            << c.iTipoRadio << " emp " << c.iEmp << (c.bLadoB ? " B" : " A") << (c.bRx ? " rx" : " tx");
    }
    auto a = std::make_unique<cfgConfigRecurso>();
    auto b = std::make_unique<cfgConfigRecurso>();
    b->uParam.radio.iSessionPrio = 2;
    EXPECT_EQ(cfgDistintoColateral(a.get(), b.get()), 1);
    a->PonTipoIf(TIPOIF_BC);
    EXPECT_EQ(cfgDistintoColateral(a.get(), b.get()), 0);
}

TEST_F(cfgImagen, AtsEntriesStopAtRangesEmptyOnBothSides) {
    auto a = std::make_unique<Central>();
    auto b = std::make_unique<Central>();
    std::memset(a.get(), 0, sizeof *a);
    std::memset(b.get(), 0, sizeof *b);
    a->asRutas[0].tipo = b->asRutas[0].tipo = CFG_FIN_RUTAS;
    std::memcpy(b->asRangosOpe[1].desde, "123456", 6);  // after an empty first range
    std::memcpy(b->asRutas[1].troncales[0], "T", 2);     // after the end of the routes
    EXPECT_EQ(cfgIgualPlanAts(a.get(), b.get()), 1);
    std::memcpy(b->asRangosOpe[0].desde, "1", 1);
    EXPECT_EQ(cfgDistintoPlanAts(a.get(), b.get()), 1);
    std::memcpy(a->asRangosOpe[0].desde, "1", 1);
    b->asRangosOpe[0].abonado.iPrefijo = 3;
    EXPECT_EQ(cfgIgualPlanAts(a.get(), b.get()), 0);
}

TEST_F(cfgImagen, PlanEntriesCompareTheirFields) {
    Troncal ta{}, tb{};
    std::strcpy(ta.idtroncal, "T1");
    std::strcpy(tb.idtroncal, "T1");
    std::strcpy(ta.miembros[0].id, "R2-1");
    std::strcpy(tb.miembros[0].id, "R2-1");
    EXPECT_EQ(cfgIgualTroncal(&ta, &tb), 1);
    tb.miembros[0].tipo = 4;
    EXPECT_EQ(cfgDistintoTroncal(&ta, &tb), 1);
    EXPECT_EQ(cfgTroncalContiene(&ta, "R2-1"), 1);
    EXPECT_EQ(cfgTroncalContiene(&ta, "R2-"), 0);

    DireccionSip sa{}, sb{};
    for (int i = 0; i < 32; i++) sa.abonados[i].iPrefijo = sb.abonados[i].iPrefijo = CFG_FIN_ABONADOS;
    std::strcpy(sb.abonados[5].szNumero, "999");  // past the end on both sides
    EXPECT_EQ(cfgIgualDireccionSip(&sa, &sb), 1);
    sb.abonados[0].iPrefijo = 3;
    EXPECT_EQ(cfgIgualDireccionSip(&sa, &sb), 0);

    Abonado aa{3, ""}, ab{3, ""};  // equal on 19 characters
    std::memcpy(aa.szNumero, "12345678901234567890", 20);
    std::memcpy(ab.szNumero, "1234567890123456789X", 20);
    EXPECT_EQ(cfgIgualAbonado(&aa, &ab), 1);

    Rango r{};
    std::memcpy(r.desde, "012345", 6);
    std::memcpy(r.hasta, "999999", 6);
    cfgParRango par{};
    cfgLeeRango(&r, &par);
    EXPECT_EQ(par.iDesde, 12345);
    EXPECT_EQ(par.iHasta, 999999);
}

}  // namespace
