#include "nlog.h"

#include <fcntl.h>
#include <pthread.h>
#include <spdlog/logger.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <mutex>

CIniciaLog* pObjetoLog = nullptr;

namespace {

const char* const kRutaConfig = "/mnt/ramfs/plog.conf";
const char* const kNombreSemaforo = "nlog_sem";
const char* const kCabeceraCsv = "Date;Time;Severity;TID;Function;Message\n";
// Smallest size at which the rolling file rolls over.
const int32_t kTamanoMinimo = 1000;

const char* NombreNivel(spdlog::level::level_enum l) {
    switch (l) {
    case spdlog::level::info: return "INFO";
    case spdlog::level::err: return "ERROR";
    default: return "DEBUG";
    }
}

// Local time text of one second, rebuilt only when the second changes; each formatter
// is called under its sink's lock, so the cache needs none of its own.
class CacheSegundo {
public:
    // Returns the text of the record's second in the layout asked for.
    const char* Texto(time_t t, const char* formato) {
        if (t != tUltimo) {
            struct tm tmLocal;
            localtime_r(&t, &tmLocal);
            strftime(acTexto, sizeof acTexto, formato, &tmLocal);
            tUltimo = t;
        }
        return acTexto;
    }

private:
    time_t tUltimo = -1;
    char acTexto[40] = {};
};

void Anade(spdlog::memory_buf_t& dest, const char* s) { dest.append(s, s + strlen(s)); }

void AnadeNumero(spdlog::memory_buf_t& dest, unsigned long v, int ancho) {
    char tmp[24];
    int n = snprintf(tmp, sizeof tmp, "%0*lu", ancho, v);
    dest.append(tmp, tmp + n);
}

// File layouts: the text layout and the CSV layout (one record a row, message quoted).
class FormatoFichero : public spdlog::formatter {
public:
    explicit FormatoFichero(bool csv) : bCsv(csv) {}

    void format(const spdlog::details::log_msg& msg, spdlog::memory_buf_t& dest) override {
        auto dur = msg.time.time_since_epoch();
        auto seg = std::chrono::duration_cast<std::chrono::seconds>(dur);
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(dur - seg).count();
        time_t t = static_cast<time_t>(seg.count());
        const char* nivel = NombreNivel(msg.level);
        if (bCsv) {
            Anade(dest, oSegundo.Texto(t, "%Y/%m/%d;%H:%M:%S"));
            dest.push_back('.');
            AnadeNumero(dest, static_cast<unsigned long>(ms), 3);
            dest.push_back(';');
            Anade(dest, nivel);
            dest.push_back(';');
            AnadeNumero(dest, msg.thread_id, 1);
            dest.push_back(';');
            Anade(dest, msg.source.funcname ? msg.source.funcname : "");
            dest.push_back('@');
            AnadeNumero(dest, static_cast<unsigned long>(msg.source.line), 1);
            Anade(dest, ";\"");
            for (char c : msg.payload) {
                if (c == '"') dest.push_back('"');
                dest.push_back(c);
            }
            Anade(dest, "\"\n");
        } else {
            Anade(dest, oSegundo.Texto(t, "%Y-%m-%d %H:%M:%S"));
            dest.push_back('.');
            AnadeNumero(dest, static_cast<unsigned long>(ms), 3);
            dest.push_back(' ');
            char tmp[8];
            snprintf(tmp, sizeof tmp, "%-5s", nivel);
            Anade(dest, tmp);
            Anade(dest, " [");
            AnadeNumero(dest, msg.thread_id, 1);
            Anade(dest, "] [");
            Anade(dest, msg.source.funcname ? msg.source.funcname : "");
            dest.push_back('@');
            AnadeNumero(dest, static_cast<unsigned long>(msg.source.line), 1);
            Anade(dest, "] ");
            dest.append(msg.payload.begin(), msg.payload.end());
            dest.push_back('\n');
        }
    }

    std::unique_ptr<spdlog::formatter> clone() const override {
        return std::make_unique<FormatoFichero>(bCsv);
    }

private:
    bool bCsv;
    CacheSegundo oSegundo;
};

// Console layout: "HH:MM:SS SEVER message".
class FormatoConsola : public spdlog::formatter {
public:
    void format(const spdlog::details::log_msg& msg, spdlog::memory_buf_t& dest) override {
        time_t t = std::chrono::system_clock::to_time_t(msg.time);
        Anade(dest, oSegundo.Texto(t, "%H:%M:%S"));
        char tmp[8];
        snprintf(tmp, sizeof tmp, " %-5s ", NombreNivel(msg.level));
        Anade(dest, tmp);
        dest.append(msg.payload.begin(), msg.payload.end());
        dest.push_back('\n');
    }
    std::unique_ptr<spdlog::formatter> clone() const override {
        return std::make_unique<FormatoConsola>();
    }

private:
    CacheSegundo oSegundo;
};

// The process's logger, set up once by the first CIniciaLog; read without a lock
// afterwards (set before the program starts its threads).
std::shared_ptr<spdlog::logger> gLogger;
std::once_flag gUnaVez;
std::atomic<NLOG::FnCapturaLog> gCaptura{nullptr};

std::shared_ptr<spdlog::sinks::sink> CreaSumideroFichero(const CConfigLog& cfg) {
    bool csv = cfg.DameFormato() == "csv";
    spdlog::file_event_handlers eventos;
    if (csv) {
        // The header goes only into a file that is empty when opened (new or just rolled).
        eventos.after_open = [](const spdlog::filename_t&, std::FILE* f) {
            if (fseek(f, 0, SEEK_END) == 0 && ftell(f) == 0) {
                fputs(kCabeceraCsv, f);
                fflush(f);
            }
        };
    }
    std::shared_ptr<spdlog::sinks::sink> s;
    int32_t n = cfg.DameNumeroFicheros();
    if (n <= 0) {
        s = std::make_shared<spdlog::sinks::basic_file_sink_mt>(cfg.DameNombreFichero(), false, eventos);
    } else {
        size_t tam = static_cast<size_t>(std::max(cfg.DameTamanoFichero(), kTamanoMinimo));
        // The active file counts as one of the n files.
        s = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(cfg.DameNombreFichero(), tam,
                                                                  static_cast<size_t>(n - 1), false, eventos);
    }
    s->set_formatter(std::make_unique<FormatoFichero>(csv));
    return s;
}

void CreaLogger(const CConfigLog& cfg) {
    std::vector<spdlog::sink_ptr> sumideros;
    try {
        sumideros.push_back(CreaSumideroFichero(cfg));
    } catch (const std::exception& e) {
        fprintf(stderr, "NLOG: no se puede abrir %s: %s\n", cfg.DameNombreFichero().c_str(), e.what());
    }
    if (cfg.DameSalidaEstandar()) {
        auto c = std::make_shared<spdlog::sinks::stdout_sink_mt>();
        c->set_formatter(std::make_unique<FormatoConsola>());
        sumideros.push_back(c);
    }
    auto l = std::make_shared<spdlog::logger>("nlog", sumideros.begin(), sumideros.end());
    l->set_level(spdlog::level::trace);
    // The last records before a crash must be on disk.
    l->flush_on(spdlog::level::trace);
    l->set_error_handler([](const std::string& m) { fprintf(stderr, "NLOG: %s\n", m.c_str()); });
    gLogger = l;
}

bool LeeBooleano(const std::string& valor, bool actual) {
    if (valor == "false") return false;
    if (valor == "true") return true;
    return actual;
}

}  // namespace

namespace NLOG {

void FijaCaptura(FnCapturaLog captura) { gCaptura.store(captura); }

void Log(eLevel nivel, const char* formato, ...) {
    char buf[1024];
    buf[0] = '\0';
    va_list ap;
    va_start(ap, formato);
    int n = vsnprintf(buf, sizeof buf, formato, ap);
    va_end(ap);
    buf[sizeof buf - 1] = '\0';
    size_t lon = n < 0 ? strlen(buf) : std::min(static_cast<size_t>(n), sizeof buf - 1);

    CIniciaLog* obj = pObjetoLog;
    if (obj) obj->EsperaSemaforo();
    spdlog::level::level_enum l = spdlog::level::off;
    switch (nivel) {
    case INFO: l = spdlog::level::info; break;
    case ERROR: l = spdlog::level::err; break;
    case DEBUG: l = spdlog::level::debug; break;
    }
    if (l != spdlog::level::off) {
        if (gLogger) {
            // The message is data, never a format string.
            gLogger->log(spdlog::source_loc{__FILE__, __LINE__, "NLOG::Log"}, l,
                         spdlog::string_view_t(buf, lon));
        }
        if (FnCapturaLog c = gCaptura.load()) c(nivel, buf);
    }
    if (obj) obj->LiberaSemaforo();
}

}  // namespace NLOG

CConfigLog::CConfigLog()
    : szFormato("csv"),
      szNombreFichero("plog.csv"),
      iTamanoFichero(500000),
      iNumeroFicheros(3),
      bSalidaEstandar(true),
      bIpcShare(false) {}

CConfigLog& CConfigLog::Global() {
    static CConfigLog cfg;
    return cfg;
}

void CConfigLog::Lee(const char* ruta, const char* sufijo) {
    std::ifstream f(ruta);
    if (!f) return;
    std::string linea;
    while (std::getline(f, linea)) {
        if (!linea.empty() && linea.back() == '\r') linea.pop_back();
        linea.erase(std::remove(linea.begin(), linea.end(), ' '), linea.end());
        if (linea.empty()) continue;
        size_t igual = linea.find('=');
        // Exactly two fields: one "=" with text on both sides.
        if (igual == std::string::npos || igual == 0 || igual + 1 == linea.size() ||
            linea.find('=', igual + 1) != std::string::npos)
            continue;
        std::string clave = linea.substr(0, igual);
        std::string valor = linea.substr(igual + 1);
        if (clave == "FILEFORMAT") szFormato = valor;
        else if (clave == "FILENAME") szNombreFichero = valor + (sufijo ? sufijo : "");
        else if (clave == "FILESIZE") iTamanoFichero = atoi(valor.c_str());
        else if (clave == "NUMOFFILES") iNumeroFicheros = atoi(valor.c_str());
        else if (clave == "TO_STANDARD_OUTPUT") bSalidaEstandar = LeeBooleano(valor, bSalidaEstandar);
        else if (clave == "IPC_SHARE") bIpcShare = LeeBooleano(valor, bIpcShare);
    }
}

CIniciaLog::CIniciaLog(const char* sufijo) : bCreador(false), bSemaforoAbierto(false), pSemaforo(nullptr) {
    std::call_once(gUnaVez, [sufijo] {
        CConfigLog::Global().Lee(kRutaConfig, sufijo);
        CreaLogger(CConfigLog::Global());
    });
}

CIniciaLog::~CIniciaLog() {
    if (!CConfigLog::Global().DameIpcShare() || !bSemaforoAbierto) return;
    sem_close(pSemaforo);
    bSemaforoAbierto = false;
    pSemaforo = nullptr;
    if (bCreador) sem_unlink(kNombreSemaforo);
}

void CIniciaLog::EsperaSemaforo() {
    if (!CConfigLog::Global().DameIpcShare() || !bSemaforoAbierto) return;
    while (sem_wait(pSemaforo) != 0) {
        if (errno != EINTR) {
            perror("sem_wait");
            return;
        }
    }
}

void CIniciaLog::LiberaSemaforo() {
    if (!CConfigLog::Global().DameIpcShare() || !bSemaforoAbierto) return;
    if (sem_post(pSemaforo) != 0) perror("sem_post");
}

void IniciaSemaforoLog(CIniciaLog* objeto, bool creador) {
    if (!objeto || !CConfigLog::Global().DameIpcShare()) return;
    objeto->bCreador = creador;
    // Both sides pass mode and initial value: whichever opens first creates it free.
    sem_t* s = sem_open(kNombreSemaforo, O_CREAT, 0600, 1);
    if (s == SEM_FAILED) {
        perror(creador ? "parent sem_open" : "child sem_open");
        return;
    }
    if (creador) {
        int valor = 0;
        if (sem_getvalue(s, &valor) == 0 && valor == 0) sem_post(s);
    }
    objeto->pSemaforo = s;
    objeto->bSemaforoAbierto = true;
}
