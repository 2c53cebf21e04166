#include "comun/gestormutex.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <semaphore.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <thread>

#include "comun/nlog.h"

namespace {

std::string gSalida;
int Salida(const char* formato, ...) {
    char buf[256];
    va_list ap;
    va_start(ap, formato);
    int n = vsnprintf(buf, sizeof buf, formato, ap);
    va_end(ap);
    gSalida += buf;
    return n;
}

std::string gLog;
void CapturaLog(int nivel, const char* texto) { gLog += std::to_string(nivel) + ":" + texto + "|"; }

// Each test case runs in a process of its own: the registry starts uninitialised.
TEST(GestorMutex, ListingBeforeSetUpSaysSo) {
    NLOG::FijaCaptura(CapturaLog);
    EXPECT_EQ(ListaMutex(0, Salida), 0);
    EXPECT_EQ(gSalida, "\t\tGestor de mutex no iniciado\n");
    EXPECT_EQ(gLog, "1:\t\tGestor de mutex no iniciado|");
    NLOG::FijaCaptura(nullptr);
}

TEST(GestorMutex, ListsAllLockedAndFreeMutexes) {
    pthread_mutex_t a, b, c;
    ASSERT_EQ(CreaMutex("Hardware::tMutex", &a, nullptr), 0);
    ASSERT_EQ(CreaMutex("Uptime::tMutex", &b, nullptr), 0);
    ASSERT_EQ(CreaMutex("tMutexConfRecurso", &c, nullptr), 0);
    sem_t tomado, suelta;
    sem_init(&tomado, 0, 0);
    sem_init(&suelta, 0, 0);
    std::thread otro([&] {
        pthread_mutex_lock(&b);
        sem_post(&tomado);
        sem_wait(&suelta);
        pthread_mutex_unlock(&b);
    });
    sem_wait(&tomado);
    pthread_mutex_lock(&c);  // held by the listing thread itself: counts as locked

    struct Caso {
        int modo;
        int listados;
        const char* salida;
    };
    const Caso casos[] = {
        {0, 3, "\t\tHardware::tMutex: DESBLOQ\n\t\tUptime::tMutex: BLOQ\n\t\ttMutexConfRecurso: BLOQ\n"},
        {1, 2, "\t\tUptime::tMutex\n\t\ttMutexConfRecurso\n"},
        {2, 1, "\t\tHardware::tMutex\n"},
        {3, 0, ""},
    };
    for (const Caso& k : casos) {
        gSalida.clear();
        EXPECT_EQ(ListaMutex(k.modo, Salida), k.listados) << k.modo;
        EXPECT_EQ(gSalida, k.salida) << k.modo;
    }
    // Without an output the entries are still logged and counted.
    gLog.clear();
    NLOG::FijaCaptura(CapturaLog);
    EXPECT_EQ(ListaMutex(0, nullptr), 3);
    NLOG::FijaCaptura(nullptr);
    EXPECT_EQ(gLog, "1:\t\tHardware::tMutex: |1:DESBLOQ|1:\t\tUptime::tMutex: |1:BLOQ|1:\t\ttMutexConfRecurso: |1:BLOQ|");
    // The listing released what it tested.
    EXPECT_EQ(pthread_mutex_trylock(&a), 0);
    pthread_mutex_unlock(&a);

    pthread_mutex_unlock(&c);
    sem_post(&suelta);
    otro.join();
    sem_destroy(&tomado);
    sem_destroy(&suelta);
}

TEST(GestorMutex, LongNameIsCutToThirtyCharacters) {
    pthread_mutex_t m;
    CreaMutex("0123456789012345678901234567890123456789", &m, nullptr);
    gSalida.clear();
    ListaMutex(2, Salida);
    EXPECT_EQ(gSalida, "\t\t012345678901234567890123456789\n");
    DestruyeMutex(&m);
}

TEST(GestorMutex, FreedEntryIsReusedAndHundredIsTheLimit) {
    static pthread_mutex_t m[102];
    char nombre[16];
    for (int i = 0; i < 101; i++) {
        snprintf(nombre, sizeof nombre, "m%d", i);
        EXPECT_EQ(CreaMutex(nombre, &m[i], nullptr), 0);
    }
    // The 101st is initialised but not registered.
    EXPECT_EQ(ListaMutex(2, nullptr), 100);
    EXPECT_EQ(pthread_mutex_lock(&m[100]), 0);
    pthread_mutex_unlock(&m[100]);

    EXPECT_EQ(DestruyeMutex(&m[0]), 0);
    EXPECT_EQ(ListaMutex(2, nullptr), 99);
    CreaMutex("nuevo", &m[101], nullptr);
    gSalida.clear();
    ListaMutex(2, Salida);
    EXPECT_EQ(gSalida.rfind("\t\tnuevo\n\t\tm1\n", 0), 0u) << gSalida;
    // Removing an unknown address changes nothing.
    pthread_mutex_t ajeno = PTHREAD_MUTEX_INITIALIZER;
    EXPECT_EQ(DestruyeMutex(&ajeno), 0);
    EXPECT_EQ(ListaMutex(2, nullptr), 100);
}

// Interposed: a listing taken at the moment a mutex is destroyed must no longer hold it.
pthread_mutex_t* gDestruyendo = nullptr;
std::string gListaAlDestruir;

}  // namespace

extern "C" int pthread_mutex_destroy(pthread_mutex_t* m) {
    using Fn = int (*)(pthread_mutex_t*);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "pthread_mutex_destroy"));
    if (m == gDestruyendo) {
        gDestruyendo = nullptr;
        gSalida.clear();
        ListaMutex(0, Salida);
        gListaAlDestruir = gSalida;
    }
    return real(m);
}

namespace {

TEST(GestorMutex, DestroyedMutexIsUnregisteredFirst) {
    pthread_mutex_t a, b;
    CreaMutex("queda", &a, nullptr);
    CreaMutex("se va", &b, nullptr);
    gDestruyendo = &b;
    EXPECT_EQ(DestruyeMutex(&b), 0);
    EXPECT_EQ(gListaAlDestruir, "\t\tqueda: DESBLOQ\n");
    DestruyeMutex(&a);
}

}  // namespace
