// The DSP service inside the test process, on the simulated DSP and the real queues: the test
// plays the core (its end of the core channel) and the resource processes (their DSP-side
// ends, under made-up process ids), and writes down every message they receive.
#pragma once

#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "cserviciosdsp.h"
#include "dsppruebas.h"
#include "ipc/cola.h"
#include "ipcdremson.h"
#include "procesodsp.h"

namespace serviciopruebas {

// Every message received by a test end, as "Nombre(id,...)", kept where the hardware tests
// keep their lines (the log is not captured here); ids identify the resource process
// (pid x 10000 + slot).
inline void Anota(const std::string& s) { hwpruebas::Captura(0, s.c_str()); }
inline std::string T(const char* sz, std::initializer_list<int32_t> v) {
    std::string s = std::string(sz) + "(";
    bool b = false;
    for (int32_t x : v) {
        s += (b ? "," : "") + std::to_string(x);
        b = true;
    }
    return s + ")";
}
inline int Cuenta(const std::string& s) {
    std::lock_guard<std::mutex> l(hwpruebas::MutexLog());
    int n = 0;
    for (const auto& m : hwpruebas::Lineas()) n += m == s;
    return n;
}
inline std::vector<std::string> Toma() {
    std::lock_guard<std::mutex> l(hwpruebas::MutexLog());
    std::vector<std::string> v;
    v.swap(hwpruebas::Lineas());
    return v;
}
inline bool EsperaMensaje(const std::string& s, int n = 1, int iMs = 5000) {
    return dsppruebas::Espera([&] { return Cuenta(s) >= n; }, iMs);
}

// A resource process's end of its channel to the service, under a made-up pid.
class CRecurso {
public:
    explicit CRecurso(int32_t iPidFalso, bool bAnuncia = true) : iPid(iPidFalso) {
        if (bAnuncia) IpcDremson::CreaCanal(iPid);
        pCola.reset(new Cola(static_cast<int32_t>(getpid()), COLA_HERMANO_CLIENTE, 0, iPid));
        Cola& c = *pCola;
        c.RegistraEvtDspRecursoCreado([](int32_t, int32_t id) { Anota(T("Creado", {id})); });
        c.RegistraLiberaRecurso([](int32_t, int32_t id) { Anota(T("Libera", {id})); });
        c.RegistraEvtDigitoDtmf([](int32_t, int32_t id, uint8_t d, int32_t v) { Anota(T("Dtmf", {id, d, v})); });
        c.RegistraSelecVoxTx([](int32_t, int32_t id, int32_t a, int32_t b) { Anota(T("VoxTx", {id, a, b})); });
        c.RegistraSelecVoxRx([](int32_t, int32_t id, int32_t a, int32_t b) { Anota(T("VoxRx", {id, a, b})); });
        c.RegistraEvtDspEvento84([](int32_t, int32_t id, int32_t v) { Anota(T("Evento84", {id, v})); });
        c.RegistraEvtBucle([](int32_t, int32_t id, int32_t a, int32_t b) { Anota(T("Bucle", {id, a, b})); });
        c.RegistraEvtDspReposo([](int32_t, int32_t id) { Anota(T("Reposo", {id})); });
        c.RegistraRespondeLibre([](int32_t, int32_t id) { Anota(T("LlamadoLibre", {id})); });
        c.RegistraRespondeOcupado([](int32_t, int32_t id) { Anota(T("LlamadoOcupado", {id})); });
        c.RegistraLlama([](int32_t, int32_t id, int32_t p, uint8_t* o, int32_t lo, uint8_t* d, int32_t ld) {
            Anota(T("Entrante", {id, p}) + std::string(reinterpret_cast<char*>(o), static_cast<size_t>(lo)) + "/" +
                  std::string(reinterpret_cast<char*>(d), static_cast<size_t>(ld)));
        });
        c.RegistraEvtFinLlamada([](int32_t, int32_t id, int32_t causa) { Anota(T("Liberada", {id, causa})); });
        c.RegistraEvtDspConversacionInterrumpida([](int32_t, int32_t id) { Anota(T("Interrumpida", {id})); });
        c.RegistraRespondeCongestion([](int32_t, int32_t id) { Anota(T("Congestion", {id})); });
        c.RegistraRespondeFueraDeServicio([](int32_t, int32_t id) { Anota(T("FueraServicio", {id})); });
        c.RegistraEvtDspLineaBloqueada([](int32_t, int32_t id) { Anota(T("Bloqueada", {id})); });
        c.RegistraEvtDspTimeout([](int32_t, int32_t id) { Anota(T("Timeout", {id})); });
        c.RegistraEvtDspErrorProtocolo([](int32_t, int32_t id) { Anota(T("ErrorProtocolo", {id})); });
        c.RegistraDescuelga([](int32_t, int32_t id) { Anota(T("Descuelga", {id})); });
    }
    Cola& operator*() { return *pCola; }
    Cola* operator->() { return pCola.get(); }
    // A DSP channel: its resource id once the service granted it, -1 when refused.
    int32_t Pide() {
        int32_t id = -1;
        pCola->EnviaArrancaRecursoId(0, &id);
        bool b = dsppruebas::Espera([&] { return Cuenta(T("Creado", {id})) + Cuenta(T("Libera", {id})) > 0; }, 5000);
        return b && Cuenta(T("Creado", {id})) > 0 ? id : -1;
    }
    int32_t iPid;

private:
    std::unique_ptr<Cola> pCola;
};

// The core's end of the service's channel to the core.
class CNucleoFalso {
public:
    static constexpr int32_t PID = 60001;
    CNucleoFalso() : oCola(static_cast<int32_t>(getpid()), COLA_PADRE, 0, PID) {
        oCola.RegistraEvtEstadoDsp([](int32_t, int32_t d, int32_t e) { Anota(T("EstadoDsp", {d, e})); });
        oCola.RegistraEvtSinConfig([](int32_t) { Anota("SinConfig"); });
    }
    Cola oCola;
};

// The service started on a simulated board, its core channel open and the DSP up.
class ServicioDsp : public ::testing::Test {
protected:
    void SetUp() override {
        hwFijaEspera(hwpruebas::EsperaCorta);
        placa = simboard::CSimBoard::Arranca("/mnt/ramfs/simboard.sock");
        ASSERT_TRUE(placa) << "the simulated board did not start";
        ASSERT_EQ(IniciaHardware(), 0);
        dsppruebas::EscribeFichero(CMasterDsp::FICHERO_FASE1, dsppruebas::Imagen(1300, 1));
        dsppruebas::EscribeFichero(CMasterDsp::FICHERO_FASE2, dsppruebas::Imagen(1300, 2));
        EntregaContextoDsp();
        nucleo.reset(new CNucleoFalso);
        ASSERT_EQ(CreaCanalPadre(CNucleoFalso::PID), 0);
        ASSERT_EQ(IpcDremson::Inicia(), 0);
        ASSERT_EQ(oDremson.NuevoDsp(3, 62, 63), 0);
        ASSERT_TRUE(dsppruebas::Espera([] { return oDremson.EstadoDsp() == CServiciosDsp::DSP_OK; }, 10000));
        ASSERT_TRUE(EsperaMensaje("EstadoDsp(3,1)"));
        Toma();
    }
    // "asignado"/"libre" of each DSP channel, as the simulated DSP sees them.
    std::vector<bool> Asignados() {
        std::vector<bool> v;
        for (const auto& l : Lineas("canales")) v.push_back(l.find(" asignado ") != std::string::npos);
        return v;
    }
    std::vector<std::string> Lineas(const std::string& sOrden) {
        std::istringstream is(placa->Dsp(sOrden));
        std::vector<std::string> v;
        for (std::string s; std::getline(is, s);) v.push_back(s);
        return v;
    }
    // Waits until the DSP received a command with these bytes ("count: xx xx ...").
    bool EsperaComando(const std::string& s, int iMs = 5000) {
        return dsppruebas::Espera([&] {
            for (const auto& l : Lineas("comandos"))
                if (l == s) return true;
            return false;
        }, iMs);
    }

    std::unique_ptr<simboard::CSimBoard> placa;
    std::unique_ptr<CNucleoFalso> nucleo;
};

}  // namespace serviciopruebas
