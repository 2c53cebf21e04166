// The trunk entity's start in the test's own process, when the line's audio threads cannot
// be created: the test's pthread_create stands in front of the library's and refuses them.
#include <dlfcn.h>
#include <pthread.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>

#include "ccontextorecurso.h"
#include "centr2n5.h"

namespace {

using FnHilo = void* (*)(void*);
std::atomic<FnHilo> gfRechazado{nullptr};  // the thread body refused
std::atomic<int> giCreadosTrasRechazo{0};
std::atomic<bool> gbRechazado{false};

// Reaches the common entity's audio thread bodies.
class TroncalSonda : public CEntidadR2N5 {
public:
    static FnHilo Audio() { return &CEntidadRC::sHiloAudio; }
    static FnHilo Red() { return &CEntidadRC::sHiloRed; }
};

}  // namespace

// Every thread of this executable is created through here; the sanitizer's own comes next.
extern "C" int pthread_create(pthread_t* pHilo, const pthread_attr_t* pAtributos, FnHilo fHilo, void* pArg) {
    static const auto fReal = reinterpret_cast<decltype(&pthread_create)>(dlsym(RTLD_NEXT, "pthread_create"));
    if (fHilo == gfRechazado.load()) {
        gbRechazado = true;
        return EAGAIN;
    }
    if (gbRechazado) ++giCreadosTrasRechazo;
    return fReal(pHilo, pAtributos, fHilo, pArg);
}

namespace {

TEST(InicioTroncal, WithoutItsAudioThreadsTheTrunkStaysUnstartedAndSaysSo) {
    CContextoRecurso& contexto = *new CContextoRecurso;  // the entities keep it
    for (FnHilo f : {TroncalSonda::Audio(), TroncalSonda::Red()}) {
        {
            cfgCerrojo c(&contexto.tMutexConfig);
            cfgDefectoParteTipo(&contexto.sRegistro, TIPOIF_ATSR2);
            contexto.sRegistro.iTipoIf = TIPOIF_ATSR2;
            contexto.sRegistro.iCfgModoSistema = 1;
        }
        gbRechazado = false;
        giCreadosTrasRechazo = 0;
        gfRechazado = f;
        CEntidadR2N5& e = *new CEntidadR2N5;  // its timer thread may outlive the test
        e.FijaContexto(contexto);
        EXPECT_EQ(e.Inicia(3), -6);
        EXPECT_TRUE(gbRechazado);
        EXPECT_EQ(e.Iniciada(), 0);
        EXPECT_EQ(giCreadosTrasRechazo, 0);  // neither its supervisor nor its tone player
    }
}

}  // namespace
