// ATS router over the small plan of plan_pruebas.h.
#include "sip/cencamina.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "plan_pruebas.h"

namespace {

using plan_pruebas::Candidato;

class Encamina : public ::testing::Test {
protected:
    void SetUp() override { oPlan.Carga(); }

    int Inicia(CEncamina& o, const char* szOrigen, const char* szDestino, int iTipo, int iPrio,
               const char* szUsuario = "linea", int iTransitos = 0) {
        BloqueLlamante b{};
        std::snprintf(b.UsuOrigen, sizeof b.UsuOrigen, "%s", szUsuario);
        b.tipoLlamante = iTipo;
        b.iPrioridad = iPrio;
        b.iContTransitos = iTransitos;
        return o.Inicia(szOrigen, szDestino, &b);
    }
    std::vector<std::string> Nombres(CEncamina& o, bool bInterrumpibles) {
        const int n = bInterrumpibles ? o.DameListaInterrumpibles(nullptr, 0) : o.DameListaCandidatos(nullptr, 0);
        std::vector<CandidatoEncamina> v(n > 0 ? n : 0);
        if (n > 0) bInterrumpibles ? o.DameListaInterrumpibles(v.data(), n) : o.DameListaCandidatos(v.data(), n);
        std::vector<std::string> s;
        for (const auto& c : v) s.push_back(c.acNombre);
        return s;
    }
    // Every line handed out in turn (each failing with code 2), with its priority.
    std::vector<std::string> Reparto(CEncamina& o, const std::vector<CandidatoEncamina>& v = {}) {
        std::vector<std::string> s;
        char ac[65];
        int iPrio = -1;
        while (o.DameRecursoPrioridad(ac, &iPrio, static_cast<int>(v.size()), v.empty() ? nullptr : v.data()) == 0) {
            s.push_back(std::string(ac) + "/" + std::to_string(iPrio));
            if (o.Progresa(ac, 2) != 0) break;
        }
        return s;
    }

    plan_pruebas::Plan oPlan;
};

TEST_F(Encamina, StartRefusals) {
    const struct {
        const char* szOrigen;
        const char* szDestino;
        int iTipo;
        int iResultado;
    } kCasos[] = {
        {"200001", "200002", 0, -14},  // same central
        {"999999", "200001", 0, 1},    // origin in no central
        {"100001", "999999", 0, -5},
        {"100001", "600001", 0, -5},   // central after the end of the plan
        {"-10000", "200001", 0, -2},
        {"100001", "200001", 1, -4},
        {"100001", "200001", 2, 0},
        {"100001", "200001", 3, 0},
    };
    for (const auto& k : kCasos) {
        CEncamina o;
        EXPECT_EQ(Inicia(o, k.szOrigen, k.szDestino, k.iTipo, 2), k.iResultado) << k.szOrigen << "->" << k.szDestino;
    }
}

TEST_F(Encamina, UnknownOriginLeavesTheRouterNotStarted) {
    CEncamina o;
    ASSERT_EQ(Inicia(o, "999999", "200001", 0, 2), 1);
    char ac[65];
    int p, c;
    EXPECT_EQ(o.DameListaCandidatos(nullptr, 0), -1);
    EXPECT_EQ(o.DameListaInterrumpibles(nullptr, 0), -1);
    EXPECT_EQ(o.DameRecursoPrioridad(ac, &p, 0, nullptr), -1);
    EXPECT_EQ(o.Progresa("r2a", 2), -1);
    CandidatoEncamina x = Candidato("r2a", 5, 1, 9);
    EXPECT_EQ(o.DameRecInterrupcionPorPrioridad(ac, &c, 1, &x), -1);
}

TEST_F(Encamina, TestedTrunkOfTheOriginAndTheIncomingTrunkAreNeverOffered) {
    CEncamina o;
    ASSERT_EQ(Inicia(o, "100001", "200001", 0, 2, "entrada"), 0);
    EXPECT_EQ(Nombres(o, false), (std::vector<std::string>{"r2a", "r2b", "qsig1", "r2c"}));
    EXPECT_EQ(Reparto(o), (std::vector<std::string>{"r2a/2", "r2b/2", "qsig1/7", "r2c/7"}));
    CEncamina d;  // from another central, T2 is usable and TIN too
    ASSERT_EQ(Inicia(d, "400001", "200001", 0, 2), 0);
    EXPECT_EQ(Nombres(d, false), (std::vector<std::string>{"r2a", "r2b", "n5a", "entrada", "qsig1", "r2c"}));
}

TEST_F(Encamina, BusyAndUnpublishedLinesAreSkipped) {
    CEncamina o;
    ASSERT_EQ(Inicia(o, "100001", "200001", 0, 3, "entrada"), 0);
    std::vector<CandidatoEncamina> v = {Candidato("r2a", 5, 1), Candidato("r2b", 5, 10), Candidato("qsig1", 7, 1),
                                        Candidato("r2c", 5, 0)};
    v[2].asEstado[2].ucEstado = 0;  // one free channel of three
    EXPECT_EQ(Reparto(o, v), (std::vector<std::string>{"qsig1/8", "r2c/8"}));
    v[2].asEstado[2].ucEstado = 2;
    v[3].asEstado[0].ucEstado = 3;
    CEncamina p;
    ASSERT_EQ(Inicia(p, "100001", "200001", 0, 3, "entrada"), 0);
    char ac[65];
    int iPrio;
    EXPECT_EQ(p.DameRecursoPrioridad(ac, &iPrio, static_cast<int>(v.size()), v.data()), -9);
}

TEST_F(Encamina, ProgressionCodes) {
    CEncamina o;
    ASSERT_EQ(Inicia(o, "100001", "200001", 0, 2), 0);
    char ac[65];
    int p;
    ASSERT_EQ(o.DameRecursoPrioridad(ac, &p, 0, nullptr), 0);
    EXPECT_STREQ(ac, "r2a");
    EXPECT_EQ(o.Progresa("r2b", 2), -6) << "only the line handed out last progresses";
    EXPECT_EQ(o.Progresa("r2a", 5), 0);
    ASSERT_EQ(o.DameRecursoPrioridad(ac, &p, 0, nullptr), 0);
    EXPECT_STREQ(ac, "qsig1") << "code 5 on a direct route goes to the next route";
    EXPECT_EQ(o.Progresa("qsig1", 6), -1);
    ASSERT_EQ(o.DameRecursoPrioridad(ac, &p, 0, nullptr), 0);
    EXPECT_STREQ(ac, "r2a") << "code 6 restarts the walk";
    EXPECT_EQ(o.Progresa("r2a", 0), -1);
}

TEST_F(Encamina, RouteToTheOwnCentralIsItsSipHostOnce) {
    CEncamina o;
    ASSERT_EQ(Inicia(o, "100001", "300001", 0, 0), 0);
    EXPECT_EQ(Nombres(o, false), (std::vector<std::string>{"pasarelaC"}));
    EXPECT_EQ(Reparto(o), (std::vector<std::string>{"pasarelaC/4"}));
    CEncamina n;
    ASSERT_EQ(Inicia(n, "100001", "300002", 0, 0), 0);
    EXPECT_EQ(n.DameListaCandidatos(nullptr, 0), 0);
}

TEST_F(Encamina, PriorityByCallerKindAndRoute) {
    const struct {
        const char* szOrigen;
        const char* szDestino;
        int iTipo;
        int iPrio;
        const char* szPrimera;  // first line handed out, "" none
    } kCasos[] = {
        {"100001", "200001", 0, 0, "r2a/4"},     // 0 is taken as 4
        {"100001", "200001", 0, 12, "r2a/9"},    // above 9 is 9
        {"100001", "200001", 0, 5, "r2a/9"},
        {"100001", "400001", 0, 2, "qsig1/7"},   // alternative: +5
        {"100001", "200001", 2, 2, "r2a/9"},     // no privileged number on a direct route
        {"108001", "200001", 2, 2, "r2a/2"},
        {"100001", "208001", 2, 3, "r2a/3"},
        {"108001", "200001", 2, 5, "r2a/9"},
        {"100001", "400001", 2, 2, ""},          // alternative refused without privilege
        {"108001", "400001", 2, 3, "qsig1/8"},
        {"108001", "400001", 2, 7, "qsig1/7"},
    };
    for (const auto& k : kCasos) {
        CEncamina o;
        ASSERT_EQ(Inicia(o, k.szOrigen, k.szDestino, k.iTipo, k.iPrio), 0);
        char ac[65];
        int p;
        const int r = o.DameRecursoPrioridad(ac, &p, 0, nullptr);
        const std::string s = r == 0 ? std::string(ac) + "/" + std::to_string(p) : "";
        EXPECT_EQ(s, k.szPrimera) << k.szOrigen << "->" << k.szDestino << " kind " << k.iTipo << " prio " << k.iPrio;
    }
}

TEST_F(Encamina, TransitLimits) {
    const struct {
        const char* szDestino;
        int iTransitos;
        const char* szPrimera;
    } kCasos[] = {
        {"200001", 4, "r2a/6"},    // fifth direct transit
        {"200001", 5, ""},         // sixth direct, and the alternative route too
        {"400001", 3, "qsig1/6"},  // fourth alternative transit
        {"400001", 4, ""},
    };
    for (const auto& k : kCasos) {
        CEncamina o;
        ASSERT_EQ(Inicia(o, "100001", k.szDestino, 3, 6, "linea", k.iTransitos), 0);
        char ac[65];
        int p;
        const int r = o.DameRecursoPrioridad(ac, &p, 0, nullptr);
        EXPECT_EQ(r == 0 ? std::string(ac) + "/" + std::to_string(p) : "", k.szPrimera)
            << k.szDestino << " after " << k.iTransitos;
        if (r != 0) {
            EXPECT_EQ(r, -9);
        }
    }
}

TEST_F(Encamina, InterruptibleLinesAreTheFirstDirectRoutes) {
    CEncamina o;
    ASSERT_EQ(Inicia(o, "100001", "200001", 0, 1), 0);
    EXPECT_EQ(Nombres(o, true), (std::vector<std::string>{"r2a", "r2b", "entrada"}));
    CEncamina d;  // no direct route
    ASSERT_EQ(Inicia(d, "100001", "400001", 0, 1), 0);
    EXPECT_EQ(d.DameListaInterrumpibles(nullptr, 0), 0);
    CEncamina t;  // transit: route 0 whatever its kind, and on an alternative one only QSIG lines
    ASSERT_EQ(Inicia(t, "100001", "400001", 3, 1), 0);
    EXPECT_EQ(Nombres(t, true), (std::vector<std::string>{"qsig1"}));
}

TEST_F(Encamina, InterruptionPassesInOrder) {
    auto Qsig = [](const char* sz, std::initializer_list<std::pair<int, int>> l) {
        CandidatoEncamina c = Candidato(sz, 7, 10);
        int k = 0;
        for (auto& pe : l) {
            c.asEstado[k].ucEstado = 1;
            c.asEstado[k].iValor = pe.first;
            c.asEstado[k].aiExtra[1] = pe.second;
            k++;
        }
        return c;
    };
    const struct {
        const char* szCaso;
        std::vector<CandidatoEncamina> v;
        int iResultado;
        const char* szNombre;
        int iRanura;
    } kCasos[] = {
        {"QSIG level 0 first", {Candidato("a", 5, 1, 9, 1), Qsig("q", {{2, 5}, {0, 3}})}, 0, "q", 1},
        {"ATS 9 before 4", {Candidato("a", 5, 1, 4, 1), Candidato("b", 6, 1, 9, 1)}, 0, "b", 0},
        {"ATS 4 before QSIG 1", {Qsig("q", {{1, 5}}), Candidato("a", 5, 1, 4, 0)}, 0, "a", 0},
        {"greatest word, first on ties", {Candidato("a", 5, 1, 8, 2), Candidato("b", 5, 1, 8, 7), Candidato("c", 5, 1, 8, 7)}, 0, "b", 0},
        {"QSIG word 0 does not qualify", {Qsig("q", {{0, 0}}), Candidato("a", 5, 1, 2, 0)}, 0, "a", 0},
        {"QSIG greatest word among slots", {Qsig("q", {{2, 3}, {2, 9}, {2, 9}})}, 0, "q", 1},
        {"priorities 1, 5, 6 never", {Candidato("a", 5, 1, 1, 9), Candidato("b", 5, 1, 5, 9), Candidato("c", 6, 1, 6, 9)}, -9, "", 0},
        {"idle or offered lines are no interruption", {Candidato("a", 5, 0, 9, 1), Candidato("b", 5, 2, 9, 1)}, -9, "", 0},
        {"no records", {}, -8, "", 0},
    };
    for (const auto& k : kCasos) {
        CEncamina o;
        ASSERT_EQ(Inicia(o, "108001", "200001", 0, 1), 0);
        char ac[65] = "";
        int iRanura = -1;
        const int r = o.DameRecInterrupcionPorPrioridad(ac, &iRanura, static_cast<int>(k.v.size()),
                                                        k.v.empty() ? nullptr : k.v.data());
        EXPECT_EQ(r, k.iResultado) << k.szCaso;
        if (r == 0) {
            EXPECT_STREQ(ac, k.szNombre) << k.szCaso;
            EXPECT_EQ(iRanura, k.iRanura) << k.szCaso;
        }
    }
    CEncamina n;  // neither number privileged
    ASSERT_EQ(Inicia(n, "100001", "200001", 0, 1), 0);
    CandidatoEncamina x = Candidato("a", 5, 1, 9, 1);
    char ac[65];
    int iRanura;
    EXPECT_EQ(n.DameRecInterrupcionPorPrioridad(ac, &iRanura, 1, &x), -4);
}

TEST_F(Encamina, NumbersAreReadFromTheirFirstSixCharacters) {
    EXPECT_EQ(NumeroAts("2000019"), 200001);
    EXPECT_EQ(NumeroAts(" 12"), 12);
    EXPECT_EQ(NumeroAts("12ab"), 12);
    EXPECT_LT(NumeroAts("-5"), 0);
    CEncamina o;
    EXPECT_EQ(Inicia(o, "1000019", "2000019", 0, 2), 0);
}

TEST_F(Encamina, ReloadedTablesAreUsedByTheNextRouter) {
    oPlan.vCentrales[1].asRutas[0].tipo = CFG_FIN_RUTAS;
    oPlan.Carga();
    CEncamina o;
    ASSERT_EQ(Inicia(o, "100001", "200001", 0, 2), 0);
    EXPECT_EQ(o.DameListaCandidatos(nullptr, 0), 0);
}

}  // namespace
