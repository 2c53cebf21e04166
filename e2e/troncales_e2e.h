// The ATS-R2 and ATS-N5 trunks of the combined example as the scenarios use them: what each is,
// when it is in service, and its far exchange answering a call from SIP (played through the
// simulated DSP, src/lintaro/tests/central_dsp.h).
#pragma once

#include <string>
#include <vector>

#include "../src/lintaro/tests/central_dsp.h"
#include "placa_e2e.h"

namespace troncales_e2e {

struct Troncal {
    const char* szNombre;
    const char* szIdTroncal;
    int iRec;
    int iTipoIf;
    int iProtocolo;            // signalling protocol of its kind and side
    std::vector<int> vPrueba;  // its test call: priority, lengths, local and remote numbers
    std::vector<int> vLejano;  // a number of the far exchange, as digit values
    const char* szLejano;      // another one, called from SIP
};

inline const Troncal kTroncalR2 = {"R2-01", "troncal.r2", e2e::kR2, 5, 3, {4, 6, 6, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2},
                                   {3, 10, 10, 10, 10, 1}, "300002"};
inline const Troncal kTroncalN5 = {"N5-01", "troncal.n5", e2e::kN5, 6, 6, {4, 6, 6, 4, 4, 4, 4, 4, 4, 5, 5, 5, 5, 5, 5},
                                   {5, 10, 10, 10, 10, 1}, "500002"};

inline size_t Veces(const std::string& sTexto, const std::string& s) {
    size_t n = 0;
    for (size_t i = sTexto.find(s); i != std::string::npos; i = sTexto.find(s, i + 1)) ++n;
    return n;
}

inline std::vector<int> Digitos(const std::string& s) {
    std::vector<int> v;
    for (char c : s) v.push_back(c - '0');
    return v;
}

// State records of the trunk in service and idle that the SNMP agent stand-in wrote to its
// output sRegistros so far.
inline size_t VecesLibre(const Troncal& t, const std::string& sRegistros) {
    return Veces(e2e::LeeTodo(sRegistros),
                 "V,N07," + std::to_string(t.iRec) + "," + t.szNombre + "," + std::to_string(t.iTipoIf) + ",1,0,");
}

// The trunk's DSP channel once its first test call, answered out of service by the far
// exchange, proved the line and the trunk published itself idle; -1 on failure.
inline int EnServicio(simboard::CSimBoard& placa, const Troncal& t, const std::string& sRegistros) {
    using namespace central_dsp;
    int c = -1;
    if (!e2e::EsperaQue([&] { return (c = CanalConProtocolo(placa, t.iProtocolo)) >= 0; }, 60000)) return -1;
    if (!EsperaComando(placa, c, LLAMA, Hex(t.vPrueba), 1, 60000)) return -1;
    if (Evento(placa, c, "fuera") != "ok\n") return -1;
    if (!e2e::EsperaQue([&] { return VecesLibre(t, sRegistros) > 0; }, 20000)) return -1;
    return c;
}

// Seizures of the trunk's line (on DSP channel c) for SIP calls from number sLlamante to the
// trunk's far number, so far.
inline size_t Tomas(simboard::CSimBoard& placa, const Troncal& t, int c, const std::string& sLlamante) {
    std::vector<int> v = {6, 6};
    for (int d : Digitos(sLlamante)) v.push_back(d);
    for (int d : Digitos(t.szLejano)) v.push_back(d);
    const std::string sFin = central_dsp::Hex(v);  // the command's parameters end in both numbers
    size_t n = 0;
    for (const auto& k : central_dsp::Comandos(placa, c, central_dsp::LLAMA))
        n += k.size() >= sFin.size() && k.compare(k.size() - sFin.size(), sFin.size(), sFin) == 0;
    return n;
}

// The far exchange answers the seizure; false when the board refused an event.
inline bool Contesta(simboard::CSimBoard& placa, const Troncal& t, int c) {
    if (central_dsp::Evento(placa, c, "libre") != "ok\n") return false;
    // On N5 free only rings: the answer is its own signal.
    return t.iTipoIf != 6 || central_dsp::Evento(placa, c, "descuelga") == "ok\n";
}

}  // namespace troncales_e2e
