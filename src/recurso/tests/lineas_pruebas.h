// Line programs under a fake core on the real queues, with the real DSP service on the
// simulated board's DSP and the SNMP agent stand-in: the test starts the service and the
// lines, tells each side of the other as the core does, keeps every heartbeat going, and
// writes down the call control and state messages of every line.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "csimboard.h"
#include "proceso_recurso.h"

namespace pruebas_lineas {

using namespace pruebas_recurso;

// Call control of the lines; c holds the sender's pid, a the call id, b the second value.
inline void RxLlamadaEntrante(int32_t p, int32_t id, DatosLlamada*) { Buzon::Global().Anota(COD_LLAMADA_ENTRANTE, id, 0, p); }
inline void RxAceptaLlamada(int32_t p, int32_t id, int32_t v) { Buzon::Global().Anota(COD_ACEPTA_LLAMADA, id, v, p); }
inline void RxFinLlamada(int32_t p, int32_t id, int32_t v) { Buzon::Global().Anota(COD_FIN_LLAMADA, id, v, p); }
inline void RxRechazaLlamada(int32_t p, int32_t id, int32_t v) { Buzon::Global().Anota(COD_RECHAZA_LLAMADA, id, v, p); }
inline void RxEstado(int32_t p, NotificacionEstado* e) {
    Buzon::Global().Anota(COD_NOTIFICA_ESTADO_RECURSO, e->ucEstado, e->iValor, p);
}

// A program run as a child with its output in a file, in /mnt/ramfs.
class CProceso : public pruebas_proceso::CProcesoHijo {
public:
    void Arranca(const std::vector<std::string>& args, const std::string& sSalida) {
        iPid = CProcesoHijo::Arranca(args, sSalida, -1, {}, "/mnt/ramfs");
    }
    pid_t iPid = -1;
};

// The DSP service with the test as its core.
class CServicioDsp {
public:
    bool Arranca() {
        for (const char* f : {"/var/boot-hpi.bin", "/var/qln6747.bin"})
            std::ofstream(f, std::ios::binary) << std::string(1500, '\x5a');
        oProceso.Arranca({DirBuild() + "/src/dremson/dremson", "16", std::to_string(getpid())}, "/mnt/ramfs/dremson.out");
        pCanal.reset(new Cola(oProceso.iPid, COLA_PADRE, 0, static_cast<int32_t>(getpid())));
        pCanal->FijaLatido(2, nullptr);
        hLatido = std::thread([this] {
            while (!bFin) {
                pCanal->Temporiza(1);
                std::this_thread::sleep_for(std::chrono::seconds(1));
            }
        });
        return true;
    }
    ~CServicioDsp() {
        bFin = true;
        if (hLatido.joinable()) hLatido.join();
    }
    Cola& Canal() { return *pCanal; }
    pid_t Pid() const { return oProceso.iPid; }
    std::string Salida() const { return oProceso.Salida(); }

private:
    CProceso oProceso;
    std::unique_ptr<Cola> pCanal;
    std::thread hLatido;
    std::atomic<bool> bFin{false};
};

// The SNMP agent stand-in: every record it receives, one per line.
class CAgente {
public:
    void Arranca() { oProceso.Arranca({DirBuild() + "/sim/snmpagent/snmpagent"}, "/mnt/ramfs/snmpagent.out"); }
    std::string Registros() const { return oProceso.Salida(); }
    bool Espera(const std::string& s, int iMs) {
        return EsperaQue([&] { return Registros().find(s) != std::string::npos; }, iMs);
    }

private:
    CProceso oProceso;
};

// One line program under the fake core, its DSP channel announced to both sides.
class CLinea {
public:
    void Arranca(const std::string& sPrograma, int iRec, CServicioDsp& dsp) {
        oHijo.Arranca(sPrograma, iRec, 0x8 | 0x4 | 0x8000);
        Cola& q = oHijo.Canal();
        q.RegistraEvtLlamadaEntrante(RxLlamadaEntrante);
        q.RegistraEvtAceptaLlamada(RxAceptaLlamada);
        q.RegistraEvtFinLlamada(RxFinLlamada);
        q.RegistraEvtRechazaLlamada(RxRechazaLlamada);
        q.RegistraEvtNotificaEstadoRecurso(RxEstado);
        pDsp = &dsp;
    }
    // Configures the line, then opens its DSP channel as the core does.
    bool Configura(const cfgConfigRecurso& r) {
        if (!EsperaQue([] { return !Buzon::Global().De(COD_SIN_CONFIG).empty(); }, 5000)) return false;
        oHijo.Configura(r);
        if (!oHijo.LogContiene("FIN ArrancaHW", 10000)) return false;
        pDsp->Canal().EnviaCreaCanalHermano(oHijo.Pid(), COLA_HERMANO_SERVIDOR);
        oHijo.Canal().EnviaCreaCanalHermano(pDsp->Pid(), COLA_HERMANO_CLIENTE);
        return true;
    }
    Cola& Nucleo() { return oHijo.Canal(); }
    CHijoRecurso& Hijo() { return oHijo; }
    int32_t Pid() const { return oHijo.Pid(); }

    // Messages of this line with this code.
    std::vector<Mensaje> De(int iCodigo) {
        std::vector<Mensaje> v;
        for (const auto& m : Buzon::Global().De(iCodigo))
            if (m.c == oHijo.Pid()) v.push_back(m);
        return v;
    }
    // Waits for a message of this line (a: call id or state, b: second value; -1 any).
    bool Espera(int iCodigo, int32_t a, int32_t b, int iMs, Mensaje* pm = nullptr) {
        return EsperaQue([&] {
            for (const auto& m : De(iCodigo))
                if ((a == -1 || m.a == a) && (b == -1 || m.b == b)) {
                    if (pm) *pm = m;
                    return true;
                }
            return false;
        }, iMs);
    }
    // The call id of the first incoming call the line offered, -1 when none came.
    int32_t EsperaEntrante(int iMs) {
        Mensaje m{};
        return Espera(COD_LLAMADA_ENTRANTE, -1, -1, iMs, &m) ? m.a : -1;
    }
    // The line's state lines, printed on the core's console.
    bool EstadoContiene(const std::string& s, int iMs) {
        return EsperaQue([&] {
            const size_t n = Buzon::Global().Trazas().size();
            oHijo.Canal().EnviaPintaEstadisticas();
            EsperaQue([&] { return Buzon::Global().Trazas().find("<Ninguno>\n", n) != std::string::npos; }, 2000);
            return Buzon::Global().Trazas().find(s, n) != std::string::npos;
        }, iMs);
    }

private:
    CHijoRecurso oHijo;
    CServicioDsp* pDsp = nullptr;
};

// DSP channels the simulated DSP has allocated, in order.
inline std::vector<int> CanalesAsignados(simboard::CSimBoard& placa) {
    std::vector<int> v;
    std::istringstream is(placa.Dsp("canales"));
    for (std::string s; std::getline(is, s);)
        if (s.find(" asignado ") != std::string::npos) v.push_back(std::stoi(s));
    return v;
}

// Whether the simulated DSP received a command whose bytes contain s ("23 01 02 00").
inline bool DspRecibio(simboard::CSimBoard& placa, const std::string& s, int iMs) {
    return EsperaQue([&] { return placa.Dsp("comandos").find(s) != std::string::npos; }, iMs);
}

inline std::string Hex2(int v) {
    char ac[4];
    snprintf(ac, sizeof ac, "%02x", v & 0xFF);
    return ac;
}

// The board, the SNMP agent stand-in and the DSP service of a line test. The line programs
// are built with the sanitizers: a report in their output fails the test.
class PruebaLineas : public ::testing::Test {
protected:
    void SetUp() override {
        ConfiguraLog();
        placa = simboard::CSimBoard::Arranca();
        ASSERT_TRUE(placa);
        agente.Arranca();
        ASSERT_TRUE(dsp.Arranca());
    }
    void TearDown() override {
        const std::string sSalida = CHijoRecurso::Salida();
        EXPECT_EQ(sSalida.find("runtime error"), std::string::npos) << sSalida;
        EXPECT_EQ(sSalida.find("Sanitizer"), std::string::npos) << sSalida;
        if (HasFailure()) Vuelca();
    }
    // What a failed test prints.
    virtual void Vuelca() {}

    std::unique_ptr<simboard::CSimBoard> placa;
    CAgente agente;
    CServicioDsp dsp;
};

}  // namespace pruebas_lineas
