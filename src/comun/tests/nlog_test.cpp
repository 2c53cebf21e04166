#include "comun/nlog.h"
#include "ficheros_pruebas.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <semaphore.h>
#include <sys/stat.h>

#include <atomic>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const kConf = "/mnt/ramfs/plog.conf";

using ficheros_pruebas::Escribe;
using ficheros_pruebas::LeeTodo;

std::vector<std::string> Lineas(const std::string& texto) {
    std::vector<std::string> v;
    std::istringstream is(texto);
    std::string l;
    while (std::getline(is, l)) v.push_back(l);
    return v;
}

std::vector<std::string> Ficheros(const std::string& dir, const std::string& prefijo) {
    std::vector<std::string> v;
    DIR* d = opendir(dir.c_str());
    if (!d) return v;
    while (dirent* e = readdir(d))
        if (std::string(e->d_name).rfind(prefijo, 0) == 0) v.push_back(dir + "/" + e->d_name);
    closedir(d);
    std::sort(v.begin(), v.end());
    return v;
}

// Starts logging of this process over the given plog.conf (each test case runs in a
// process of its own, so each may set logging up once).
void IniciaCon(const std::string& conf, const char* sufijo) {
    Escribe(kConf, conf);
    pObjetoLog = new CIniciaLog(sufijo);
}

struct CasoConfig {
    const char* nombre;
    const char* contenido;  // null: no file
    std::string formato;
    std::string fichero;
    int32_t tamano;
    int32_t numero;
    bool salida;
    bool ipc;
};

TEST(ConfigLog, ReadsPlogConfTable) {
    const CasoConfig casos[] = {
        {"sin fichero", nullptr, "csv", "plog.csv", 500000, 3, true, false},
        {"vacio", "", "csv", "plog.csv", 500000, 3, true, false},
        {"blancos", "\n  FILE SIZE  =  2000 \n\nNUMOFFILES= 5\n", "csv", "plog.csv", 2000, 5, true, false},
        {"nombre", "FILENAME=/mnt/ramfs/pasarela\n", "csv", "/mnt/ramfs/pasarela_pelm.log", 500000, 3, true, false},
        {"dos iguales", "FILENAME=a=b\n", "csv", "plog.csv", 500000, 3, true, false},
        {"sin igual", "FILESIZE\n", "csv", "plog.csv", 500000, 3, true, false},
        {"valores vacios", "FILENAME=\nFILESIZE=\n=csv\n", "csv", "_pelm.log", 0, 3, true, false},
        {"TRUE mayusculas", "TO_STANDARD_OUTPUT=false\nTO_STANDARD_OUTPUT=TRUE\n", "csv", "plog.csv", 500000, 3,
         false, false},
        {"booleanos", "TO_STANDARD_OUTPUT=false\nIPC_SHARE=true\n", "csv", "plog.csv", 500000, 3, false, true},
        {"la ultima gana", "NUMOFFILES=5\nNUMOFFILES=7\nFILEFORMAT=txt\nFILEFORMAT=CSV\n", "CSV", "plog.csv", 500000,
         7, true, false},
        {"no numerico", "FILESIZE=abc\nNUMOFFILES=x1\n", "csv", "plog.csv", 0, 0, true, false},
        {"clave en minusculas", "filesize=10\n", "csv", "plog.csv", 500000, 3, true, false},
        {"tabulador se queda", "FILEFORMAT=\tcsv\n", "\tcsv", "plog.csv", 500000, 3, true, false},
        {"CRLF", "FILEFORMAT=txt\r\nFILESIZE=1234\r\n", "txt", "plog.csv", 1234, 3, true, false},
    };
    for (const CasoConfig& c : casos) {
        unlink(kConf);
        if (c.contenido) Escribe(kConf, c.contenido);
        CConfigLog cfg;
        cfg.Lee(kConf, "_pelm.log");
        EXPECT_EQ(cfg.DameFormato(), c.formato) << c.nombre;
        EXPECT_EQ(cfg.DameNombreFichero(), c.fichero) << c.nombre;
        EXPECT_EQ(cfg.DameTamanoFichero(), c.tamano) << c.nombre;
        EXPECT_EQ(cfg.DameNumeroFicheros(), c.numero) << c.nombre;
        EXPECT_EQ(cfg.DameSalidaEstandar(), c.salida) << c.nombre;
        EXPECT_EQ(cfg.DameIpcShare(), c.ipc) << c.nombre;
    }
}

TEST(Log, RollsOverThreeFilesEachWithItsHeader) {
    IniciaCon("FILENAME=/mnt/ramfs/roll\nFILESIZE=1000\nNUMOFFILES=3\nTO_STANDARD_OUTPUT=false\n", "_rec1.log");
    for (int i = 0; i < 300; i++) NLOG::Log(NLOG::INFO, "registro %04d de prueba", i);
    std::vector<std::string> f = Ficheros("/mnt/ramfs", "roll_rec1");
    ASSERT_EQ(f, (std::vector<std::string>{"/mnt/ramfs/roll_rec1.1.log", "/mnt/ramfs/roll_rec1.2.log",
                                           "/mnt/ramfs/roll_rec1.log"}));
    for (const std::string& n : f) {
        std::vector<std::string> l = Lineas(LeeTodo(n));
        ASSERT_GE(l.size(), 2u) << n;
        EXPECT_EQ(l[0], "Date;Time;Severity;TID;Function;Message") << n;
        for (size_t i = 1; i < l.size(); i++) EXPECT_NE(l[i], l[0]) << n;
        struct stat st;
        ASSERT_EQ(stat(n.c_str(), &st), 0);
        EXPECT_LE(st.st_size, 1100) << n;
    }
    // The newest record is in the active file, the oldest kept one in the last.
    EXPECT_NE(LeeTodo("/mnt/ramfs/roll_rec1.log").find("registro 0299"), std::string::npos);
}

TEST(Log, SizeBelowFloorRollsAtThousandBytes) {
    IniciaCon("FILENAME=/mnt/ramfs/suelo\nFILESIZE=10\nNUMOFFILES=2\nTO_STANDARD_OUTPUT=false\n", ".log");
    for (int i = 0; i < 100; i++) NLOG::Log(NLOG::INFO, "registro %04d de prueba", i);
    std::vector<std::string> f = Ficheros("/mnt/ramfs", "suelo");
    ASSERT_EQ(f.size(), 2u);
    struct stat st;
    ASSERT_EQ(stat("/mnt/ramfs/suelo.1.log", &st), 0);
    EXPECT_GT(st.st_size, 900);
}

TEST(Log, ZeroFilesNeverRolls) {
    IniciaCon("FILENAME=/mnt/ramfs/sin\nFILESIZE=1000\nNUMOFFILES=0\nTO_STANDARD_OUTPUT=false\n", ".log");
    for (int i = 0; i < 100; i++) NLOG::Log(NLOG::INFO, "registro %04d de prueba", i);
    EXPECT_EQ(Ficheros("/mnt/ramfs", "sin"), std::vector<std::string>{"/mnt/ramfs/sin.log"});
    EXPECT_EQ(Lineas(LeeTodo("/mnt/ramfs/sin.log")).size(), 101u);
}

TEST(Log, HeaderOnlyIntoAnEmptyFile) {
    Escribe("/mnt/ramfs/previo.log", "linea anterior\n");
    IniciaCon("FILENAME=/mnt/ramfs/previo\nTO_STANDARD_OUTPUT=false\n", ".log");
    NLOG::Log(NLOG::ERROR, "nueva");
    std::vector<std::string> l = Lineas(LeeTodo("/mnt/ramfs/previo.log"));
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[0], "linea anterior");
    EXPECT_NE(l[1].find(";ERROR;"), std::string::npos);
}

TEST(Log, MessagesAreDataNotFormats) {
    IniciaCon("FILENAME=/mnt/ramfs/datos\nFILEFORMAT=txt\nTO_STANDARD_OUTPUT=false\n", ".log");
    const char* textos[] = {"llaves {} y {0} y {:>10}", "por ciento %d %s %% %n", "comillas \"x\" ; y ;"};
    for (const char* t : textos) NLOG::Log(NLOG::INFO, "%s", t);
    NLOG::Log(NLOG::DEBUG, "formato con {} llaves %d", 7);
    std::vector<std::string> l = Lineas(LeeTodo("/mnt/ramfs/datos.log"));
    ASSERT_EQ(l.size(), 4u);
    for (int i = 0; i < 3; i++) {
        std::string fin = std::string("] ") + textos[i];
        EXPECT_EQ(l[i].substr(l[i].size() - fin.size()), fin);
    }
    EXPECT_EQ(l[3].substr(l[3].size() - 23), "formato con {} llaves 7");
    EXPECT_NE(l[3].find(" DEBUG [") , std::string::npos);
    EXPECT_TRUE(std::regex_search(l[0], std::regex(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} INFO  \[\d+\] \[NLOG::Log@\d+\] )")))
        << l[0];
}

TEST(Log, CsvQuotesTheMessage) {
    IniciaCon("FILENAME=/mnt/ramfs/csv\nTO_STANDARD_OUTPUT=false\n", ".log");
    NLOG::Log(NLOG::INFO, "dice \"hola\"; {} %%");
    std::vector<std::string> l = Lineas(LeeTodo("/mnt/ramfs/csv.log"));
    ASSERT_EQ(l.size(), 2u);
    EXPECT_TRUE(std::regex_match(
        l[1], std::regex(R"(\d{4}/\d\d/\d\d;\d\d:\d\d:\d\d\.\d{3};INFO;\d+;NLOG::Log@\d+;"dice ""hola""; \{\} %")")))
        << l[1];
}

std::vector<std::string> gCapturados;
void Captura(int nivel, const char* texto) { gCapturados.push_back(std::to_string(nivel) + ":" + texto); }

TEST(Log, LongMessageIsCutAt1023AndUnknownLevelWritesNothing) {
    IniciaCon("FILENAME=/mnt/ramfs/largo\nFILEFORMAT=txt\nTO_STANDARD_OUTPUT=false\n", ".log");
    NLOG::FijaCaptura(Captura);
    std::string largo(2000, 'x');
    NLOG::Log(NLOG::INFO, "%s", largo.c_str());
    NLOG::Log(static_cast<NLOG::eLevel>(3), "nivel tres");
    NLOG::Log(static_cast<NLOG::eLevel>(-1), "nivel menos uno");
    NLOG::FijaCaptura(nullptr);
    ASSERT_EQ(gCapturados.size(), 1u);
    EXPECT_EQ(gCapturados[0], "0:" + std::string(1023, 'x'));
    std::vector<std::string> l = Lineas(LeeTodo("/mnt/ramfs/largo.log"));
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(l[0].substr(l[0].size() - 1025), "] " + std::string(1023, 'x'));
}

TEST(Log, ConsoleEchoUsesTheConsoleLayout) {
    testing::internal::CaptureStdout();
    IniciaCon("FILENAME=/mnt/ramfs/eco\n", ".log");
    NLOG::Log(NLOG::INFO, "uno");
    NLOG::Log(NLOG::ERROR, "dos %d", 2);
    NLOG::Log(NLOG::DEBUG, "tres");
    std::vector<std::string> l = Lineas(testing::internal::GetCapturedStdout());
    ASSERT_EQ(l.size(), 3u);
    EXPECT_TRUE(std::regex_match(l[0], std::regex(R"(\d\d:\d\d:\d\d INFO  uno)"))) << l[0];
    EXPECT_TRUE(std::regex_match(l[1], std::regex(R"(\d\d:\d\d:\d\d ERROR dos 2)"))) << l[1];
    EXPECT_TRUE(std::regex_match(l[2], std::regex(R"(\d\d:\d\d:\d\d DEBUG tres)"))) << l[2];
}

TEST(Log, EightThreadsLoseOrTearNoRecord) {
    IniciaCon("FILENAME=/mnt/ramfs/hilos\nFILEFORMAT=txt\nNUMOFFILES=0\nTO_STANDARD_OUTPUT=false\n", ".log");
    const int kHilos = 8, kRegistros = 2000;
    std::vector<std::thread> h;
    for (int t = 0; t < kHilos; t++)
        h.emplace_back([t] {
            for (int i = 0; i < kRegistros; i++)
                NLOG::Log(NLOG::INFO, "hilo %d registro %05d %s", t, i, "relleno-relleno-relleno-relleno");
        });
    for (auto& x : h) x.join();
    std::vector<std::string> l = Lineas(LeeTodo("/mnt/ramfs/hilos.log"));
    ASSERT_EQ(l.size(), static_cast<size_t>(kHilos * kRegistros));
    std::regex forma(R"(^\S+ \S+ INFO  \[\d+\] \[NLOG::Log@\d+\] hilo (\d) registro (\d{5}) relleno-relleno-relleno-relleno$)");
    std::vector<int> siguiente(kHilos, 0);
    for (const std::string& s : l) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(s, m, forma)) << s;
        int t = std::stoi(m[1]);
        EXPECT_EQ(std::stoi(m[2]), siguiente[t]++);
    }
    for (int n : siguiente) EXPECT_EQ(n, kRegistros);
}

TEST(Log, SharedSemaphoreIsCreatedFreeAndPrivate) {
    IniciaCon("FILENAME=/mnt/ramfs/sem\nIPC_SHARE=true\nTO_STANDARD_OUTPUT=false\n", ".log");
    IniciaSemaforoLog(pObjetoLog, true);
    ASSERT_TRUE(pObjetoLog->bSemaforoAbierto);
    struct stat st;
    ASSERT_EQ(stat("/dev/shm/sem.nlog_sem", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    int valor = -1;
    sem_getvalue(pObjetoLog->pSemaforo, &valor);
    EXPECT_EQ(valor, 1);

    // A record (of any level) waits while another process holds the semaphore.
    sem_t* otro = sem_open("nlog_sem", 0);
    ASSERT_NE(otro, SEM_FAILED);
    ASSERT_EQ(sem_wait(otro), 0);
    std::atomic<bool> escrito{false};
    std::thread t([&] {
        NLOG::Log(static_cast<NLOG::eLevel>(3), "nada");
        escrito = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(escrito);
    sem_post(otro);
    t.join();
    EXPECT_TRUE(escrito);
    sem_getvalue(otro, &valor);
    EXPECT_EQ(valor, 1);
    sem_close(otro);

    delete pObjetoLog;
    pObjetoLog = nullptr;
    EXPECT_NE(stat("/dev/shm/sem.nlog_sem", &st), 0);
}

TEST(Log, WithoutSharingNoSemaphoreIsOpened) {
    IniciaCon("FILENAME=/mnt/ramfs/nosem\nTO_STANDARD_OUTPUT=false\n", ".log");
    IniciaSemaforoLog(pObjetoLog, true);
    EXPECT_FALSE(pObjetoLog->bSemaforoAbierto);
    struct stat st;
    EXPECT_NE(stat("/dev/shm/sem.nlog_sem", &st), 0);
}

}  // namespace
