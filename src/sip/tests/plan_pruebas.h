// A small ATS numbering plan for the router and call-manager tests, loaded into the router's
// tables.
//
//   central 0 "A" 100000-109999 (privileged 108000-108999): the origin of most calls.
//   central 1 "B" 200000-209999 (privileged 208000-208999): route 0 direct {T1, T2, TIN},
//       route 1 alternative {T3}.
//   central 2 "C" 300000-309999, own central: reached through the SIP plan (host pasarelaC).
//   central 3 "D" 400000-409999: route 0 alternative {T3} only.
//   central 4 "E" 500000-509999: route 0 direct {T4}.
//   central 5: end of the plan; central 6 "F" 600000-609999 after it is never read.
//   T1: r2a, r2b (ATS-R2).  T2 (test number 100001, of central A): n5a.  TIN: entrada.
//   T3: qsig1 (ATS-QSIG), r2c.  T0: self.  T4: self, otro.
#pragma once

#include <cstdio>
#include <cstring>
#include <vector>

#include "sip/cencamina.h"

namespace plan_pruebas {

template <size_t N>
inline void Pon(char (&ac)[N], const char* sz) {
    std::strncpy(ac, sz, N);
}

struct Plan {
    std::vector<Central> vCentrales = std::vector<Central>(CFG_NUM_CENTRALES);
    std::vector<Troncal> vTroncales = std::vector<Troncal>(CFG_NUM_TRONCALES);
    std::vector<Red> vRedes = std::vector<Red>(CFG_NUM_REDES);
    std::vector<DireccionSip> vSip = std::vector<DireccionSip>(CFG_NUM_DIRECCIONES_SIP);

    static void Rango6(Rango& r, const char* szDesde, const char* szHasta) {
        std::memcpy(r.desde, szDesde, 6);
        std::memcpy(r.hasta, szHasta, 6);
    }
    Central& NuevaCentral(int i, uint8_t ucPropia, const char* szDesde, const char* szHasta) {
        Central& c = vCentrales[i];
        std::memset(&c, 0, sizeof c);
        c.centralpropia = ucPropia;
        Rango6(c.asRangosOpe[0], szDesde, szHasta);
        for (auto& r : c.asRutas) r.tipo = CFG_FIN_RUTAS;
        return c;
    }
    Troncal& NuevaTroncal(int i, const char* szId, const char* szNoTest) {
        Troncal& t = vTroncales[i];
        std::memset(&t, 0, sizeof t);
        Pon(t.idtroncal, szId);
        if (szNoTest) std::memcpy(t.no_test, szNoTest, 6);
        return t;
    }
    static void Linea(Troncal& t, int k, uint8_t ucTipo, const char* szNombre) {
        t.miembros[k].tipo = ucTipo;
        Pon(t.miembros[k].id, szNombre);
    }
    static void Ruta(Central& c, int r, uint8_t ucTipo, std::initializer_list<const char*> lTroncales) {
        c.asRutas[r].tipo = ucTipo;
        int k = 0;
        for (const char* sz : lTroncales) Pon(c.asRutas[r].troncales[k++], sz);
    }

    Plan() {
        Central& a = NuevaCentral(0, 0, "100000", "109999");
        Rango6(a.asRangosPriv[0], "108000", "108999");
        Central& b = NuevaCentral(1, 0, "200000", "209999");
        Rango6(b.asRangosPriv[0], "208000", "208999");
        Ruta(b, 0, 0, {"T1", "T2", "TIN"});
        Ruta(b, 1, 1, {"T3"});
        NuevaCentral(2, CFG_CENTRAL_PROPIA, "300000", "309999");
        Central& d = NuevaCentral(3, 0, "400000", "409999");
        Ruta(d, 0, 1, {"T3"});
        Central& e = NuevaCentral(4, 0, "500000", "509999");
        Ruta(e, 0, 0, {"T4"});
        NuevaCentral(5, CFG_FIN_PLAN_ATS, "000000", "000000");
        NuevaCentral(6, 0, "600000", "609999");

        Troncal& t0 = NuevaTroncal(0, "T0", nullptr);
        Linea(t0, 0, 5, "self");
        Troncal& t1 = NuevaTroncal(1, "T1", nullptr);
        Linea(t1, 0, 5, "r2a");
        Linea(t1, 1, 5, "r2b");
        Troncal& t2 = NuevaTroncal(2, "T2", "100001");
        Linea(t2, 0, 6, "n5a");
        Troncal& tin = NuevaTroncal(3, "TIN", nullptr);
        Linea(tin, 0, 5, "entrada");
        Troncal& t3 = NuevaTroncal(4, "T3", nullptr);
        Linea(t3, 0, 7, "qsig1");
        Linea(t3, 1, 5, "r2c");
        Troncal& t4 = NuevaTroncal(5, "T4", nullptr);
        Linea(t4, 0, 5, "self");
        Linea(t4, 1, 5, "otro");

        Pon(vSip[0].idusuario, "pasarelaC");
        vSip[0].abonados[0].iPrefijo = 3;
        Pon(vSip[0].abonados[0].szNumero, "300001");
        vSip[0].abonados[1].iPrefijo = 255;

        for (auto& r : vRedes) r.prefijo = CFG_FIN_PLAN_REDES;
    }
    void Carga() { CargaTablasEncamina(vCentrales.data(), vTroncales.data(), vRedes.data(), vSip.data()); }
};

// A candidate record with the state of its first slot (and, for QSIG, of the three).
inline CandidatoEncamina Candidato(const char* szNombre, uint8_t ucTipo, uint8_t ucEstado, int32_t iPrio = 0,
                                   int32_t iPalabra = 0) {
    CandidatoEncamina c;
    std::memset(&c, 0, sizeof c);
    c.ucTipoIf = ucTipo;
    std::snprintf(c.acNombre, sizeof c.acNombre, "%s", szNombre);
    for (auto& e : c.asEstado) e.ucEstado = 10;
    c.asEstado[0].ucEstado = ucEstado;
    c.asEstado[0].iValor = iPrio;
    c.asEstado[0].aiExtra[1] = iPalabra;
    return c;
}

}  // namespace plan_pruebas
