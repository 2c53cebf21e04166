// A real resource process (recurso_dsp_falso) that asks for and gives back DSP channels without
// pause, stopped (SIGSTOP) until the service's tick stands at its silence limit and resumed
// just as the next tick declares it dead, over and over: its requests race the release of its
// channels. The test plays the core (it announces the process again after each death) and the
// service's main loop (the ticks).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>

#include <cstdio>
#include <fstream>

#include "comun/tests/proceso_hijo.h"
#include "serviciopruebas.h"

namespace serviciopruebas {

class RecursoParado : public ServicioDsp {
protected:
    void SetUp() override {
        ServicioDsp::SetUp();
        if (HasFatalFailure()) return;
        testigo.reset(new CRecurso(50001));
        idTestigo = testigo->Pide();
        int iDsp = -1;
        ASSERT_EQ(oDremson.BuscaRecurso(idTestigo, &iDsp, &iCanalTestigo), 0);
        ASSERT_EQ(pipe2(aiAviso, O_CLOEXEC), 0);
        fcntl(aiAviso[0], F_SETFL, O_NONBLOCK);
        const char* p = std::getenv("VK_BUILD_DIR");
        const std::string sPrograma = std::string(p ? p : ".") + "/src/dremson/recurso_dsp_falso";
        iPid = hijo.Arranca({sPrograma, std::to_string(getpid()), std::to_string(aiAviso[1])},
                            "/tmp/recurso_dsp_falso.log", -1, {aiAviso[1]});
        ASSERT_GT(iPid, 0);
        ASSERT_EQ(IpcDremson::CreaCanal(iPid), 0);
    }
    void TearDown() override {
        hijo.Mata();
        for (int fd : aiAviso)
            if (fd >= 0) close(fd);
        if (HasFailure()) std::printf("process:\n%s\n", hijo.Salida().c_str());
    }

    // Waits for a grant announced on the pipe after the call.
    bool EsperaConcesion(int iMs = 10000) {
        char ac[256];
        while (read(aiAviso[0], ac, sizeof ac) > 0) {
        }
        pollfd p{aiAviso[0], POLLIN, 0};
        return poll(&p, 1, iMs) == 1 && read(aiAviso[0], ac, 1) == 1;
    }
    // Served on its present channel, which knows its silence limit by then: of three grants
    // one at most answers a request that reached the channel before (the process has one
    // request out at a time), and the third follows a heartbeat sent on the present one.
    bool Servido() { return EsperaConcesion() && EsperaConcesion() && EsperaConcesion(); }
    // The process's state letter in /proc (T once stopped).
    char Estado() {
        std::ifstream f("/proc/" + std::to_string(iPid) + "/stat");
        std::string s;
        std::getline(f, s);
        const size_t i = s.rfind(')');
        return i == std::string::npos || i + 2 >= s.size() ? '?' : s[i + 2];
    }
    // Ticks, far faster than the main loop's, until the process's channel is gone. Not flat
    // out: every other tick sends the process a heartbeat, which must not fill the queue.
    bool TemporizaHastaMuerte(int iMs = 10000) {
        const auto tFin = std::chrono::steady_clock::now() + std::chrono::milliseconds(iMs);
        while (IpcDremson::BuscaPid(iPid) >= 0) {
            if (std::chrono::steady_clock::now() > tFin) return false;
            IpcDremson::Temporiza();
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
        return true;
    }
    // Up to iCiclos deaths, for at most iSegundos. After each, no DSP channel may be left to
    // the dead channel; at the end an event on every DSP channel finds no owner to send to.
    void Ciclos(int iCiclos, int iSegundos) {
        const auto tFin = std::chrono::steady_clock::now() + std::chrono::seconds(iSegundos);
        int iHechos = 0;
        for (; iHechos < iCiclos && std::chrono::steady_clock::now() < tFin && !HasFailure(); iHechos++) {
            // A channel that has not yet learnt the limit only takes a little longer to die.
            ASSERT_TRUE(EsperaConcesion()) << "cycle " << iHechos << ": the process is not served";
            ASSERT_EQ(kill(iPid, SIGSTOP), 0);
            ASSERT_TRUE(dsppruebas::Espera([&] { return Estado() == 'T'; }, 5000));
            // What it sent before it stopped has been read by now; three ticks of silence
            // bring it to its limit (a request still read resets it: the last tick then comes
            // later, with the process running).
            for (int i = 0; i < 3; i++) {
                IpcDremson::Temporiza();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            // The tick that declares it dead comes from at once to 3 ms after it resumed, a
            // different moment each cycle, as the main loop's would: before its first request,
            // or while one is being handled.
            ASSERT_EQ(kill(iPid, SIGCONT), 0);
            std::this_thread::sleep_for(std::chrono::microseconds(200 * (iHechos % 16)));
            ASSERT_TRUE(TemporizaHastaMuerte()) << "cycle " << iHechos;
            // Only the witness's channel is left. One more would name a channel object that
            // has just been freed: an event on it shows what becomes of that.
            if (oDremson.RecursosEnUso() != 1) {
                ADD_FAILURE() << "cycle " << iHechos << ": a DSP channel outlived its owner";
                EventoEnCadaCanal();
            }
            ASSERT_EQ(IpcDremson::CreaCanal(iPid), 0);
        }
        std::printf("%d stops of the resource process\n", iHechos);
        EXPECT_GE(iHechos, std::min(iCiclos, 50));
        // Dead for good, it sends no heartbeat: the channel must know its limit before.
        ASSERT_TRUE(Servido());
        hijo.Mata();
        ASSERT_TRUE(TemporizaHastaMuerte());
        EXPECT_EQ(oDremson.RecursosEnUso(), 1);
        std::vector<bool> vSolo(16, false);
        vSolo[static_cast<size_t>(iCanalTestigo)] = true;
        EXPECT_TRUE(dsppruebas::Espera([&] { return Asignados() == vSolo; }, 5000));
        EventoEnCadaCanal();
    }
    // An event on every DSP channel, the witness's last: once that one has reached it, the
    // others have been handled (in order).
    void EventoEnCadaCanal() {
        const int n = Cuenta(T("Reposo", {idTestigo}));
        for (int c = 0; c < CServiciosDsp::NUM_CANALES; c++)
            if (c != iCanalTestigo) placa->Dsp("evento " + std::to_string(c) + " reposo");
        placa->Dsp("evento " + std::to_string(iCanalTestigo) + " reposo");
        EXPECT_TRUE(EsperaMensaje(T("Reposo", {idTestigo}), n + 1));
    }

    // A resource process of the test's own, holding one DSP channel throughout.
    std::unique_ptr<CRecurso> testigo;
    int32_t idTestigo = -1;
    int iCanalTestigo = -1;
    pruebas_proceso::CProcesoHijo hijo;
    pid_t iPid = -1;
    int aiAviso[2] = {-1, -1};
};

}  // namespace serviciopruebas
