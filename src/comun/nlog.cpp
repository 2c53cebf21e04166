#include "comun/nlog.h"

#include <fcntl.h>
#include <pthread.h>
#include <spdlog/details/log_msg.h>
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
    spdlog::string_view_t Texto(time_t t, const char* formato) {
        if (t != tUltimo) {
            struct tm tmLocal;
            localtime_r(&t, &tmLocal);
            iLon = strftime(acTexto, sizeof acTexto, formato, &tmLocal);
            tUltimo = t;
        }
        return spdlog::string_view_t(acTexto, iLon);
    }

private:
    time_t tUltimo = -1;
    size_t iLon = 0;
    char acTexto[40] = {};
};

void Anade(spdlog::memory_buf_t& dest, spdlog::string_view_t s) { dest.append(s.data(), s.data() + s.size()); }

// Decimal digits of v, at least ancho of them (zero-filled), without printf.
char* Digitos(char* fin, unsigned long v, int ancho) {
    do {
        *--fin = static_cast<char>('0' + v % 10);
        v /= 10;
        ancho--;
    } while (v != 0 || ancho > 0);
    return fin;
}

// File layouts: the text layout and the CSV layout (one record a row, message quoted
// with its quotes doubled). Logging is on every path of the system: no printf here.
class FormatoFichero : public spdlog::formatter {
public:
    explicit FormatoFichero(bool csv) : bCsv(csv) {}

    void format(const spdlog::details::log_msg& msg, spdlog::memory_buf_t& dest) override {
        auto dur = msg.time.time_since_epoch();
        auto seg = std::chrono::duration_cast<std::chrono::seconds>(dur);
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(dur - seg).count();
        Anade(dest, oSegundo.Texto(static_cast<time_t>(seg.count()), bCsv ? "%Y/%m/%d;%H:%M:%S." : "%Y-%m-%d %H:%M:%S."));
        char tmp[4];
        Anade(dest, spdlog::string_view_t(Digitos(tmp + 3, static_cast<unsigned long>(ms), 3), 3));
        Anade(dest, Medio(msg));
        if (bCsv) {
            const char* p = msg.payload.data();
            const char* fin = p + msg.payload.size();
            while (p < fin) {
                const char* q = static_cast<const char*>(memchr(p, '"', static_cast<size_t>(fin - p)));
                const char* hasta = q ? q + 1 : fin;
                dest.append(p, hasta);
                if (q) dest.push_back('"');
                p = hasta;
            }
            Anade(dest, "\"\n");
        } else {
            Anade(dest, msg.payload);
            dest.push_back('\n');
        }
    }

    std::unique_ptr<spdlog::formatter> clone() const override {
        return std::make_unique<FormatoFichero>(bCsv);
    }

private:
    // The text between the time and the message (level, thread, function and line),
    // kept while the same thread logs on.
    spdlog::string_view_t Medio(const spdlog::details::log_msg& msg) {
        if (msg.level != eNivel || msg.thread_id != iHilo || msg.source.line != iLinea ||
            msg.source.funcname != pFuncion || iLonMedio == 0) {
            eNivel = msg.level;
            iHilo = msg.thread_id;
            iLinea = msg.source.line;
            pFuncion = msg.source.funcname;
            const char* funcion = pFuncion ? pFuncion : "";
            char hilo[24], linea[24];
            const char* h = Digitos(hilo + sizeof hilo - 1, iHilo, 1);
            hilo[sizeof hilo - 1] = '\0';
            const char* l = Digitos(linea + sizeof linea - 1, static_cast<unsigned long>(iLinea), 1);
            linea[sizeof linea - 1] = '\0';
            int n = bCsv ? snprintf(acMedio, sizeof acMedio, ";%s;%s;%s@%s;\"", NombreNivel(eNivel), h, funcion, l)
                         : snprintf(acMedio, sizeof acMedio, " %-5s [%s] [%s@%s] ", NombreNivel(eNivel), h, funcion, l);
            iLonMedio = n < 0 ? 0 : std::min(static_cast<size_t>(n), sizeof acMedio - 1);
        }
        return spdlog::string_view_t(acMedio, iLonMedio);
    }

    bool bCsv;
    CacheSegundo oSegundo;
    spdlog::level::level_enum eNivel = spdlog::level::off;
    size_t iHilo = 0;
    int iLinea = 0;
    const char* pFuncion = nullptr;
    size_t iLonMedio = 0;
    char acMedio[160] = {};
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
        Anade(dest, msg.payload);
        dest.push_back('\n');
    }
    std::unique_ptr<spdlog::formatter> clone() const override {
        return std::make_unique<FormatoConsola>();
    }

private:
    CacheSegundo oSegundo;
};

// The process's sinks, set up once by the first CIniciaLog and kept until exit. Records
// go straight to the sinks (each has its own lock): a logger in between costs a second
// lock per record for its flush.
struct Sumideros {
    std::vector<spdlog::sink_ptr> aLista;
};
std::atomic<Sumideros*> gSumideros{nullptr};
std::once_flag gUnaVez;
std::atomic<NLOG::FnCapturaLog> gCaptura{nullptr};

std::shared_ptr<spdlog::sinks::sink> CreaSumideroFichero(const CConfigLog& cfg) {
    bool csv = cfg.DameFormato() == "csv";
    spdlog::file_event_handlers eventos;
    eventos.after_open = [csv](const spdlog::filename_t&, std::FILE* f) {
        // Every record goes to the file at once (and with one write): no stdio buffer.
        setvbuf(f, nullptr, _IONBF, 0);
        // The header goes only into a file that is empty when opened (new or just rolled).
        if (csv && fseek(f, 0, SEEK_END) == 0 && ftell(f) == 0) fputs(kCabeceraCsv, f);
    };
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

void CreaSumideros(const CConfigLog& cfg) {
    auto* s = new Sumideros;
    try {
        s->aLista.push_back(CreaSumideroFichero(cfg));
    } catch (const std::exception& e) {
        fprintf(stderr, "NLOG: no se puede abrir %s: %s\n", cfg.DameNombreFichero().c_str(), e.what());
    }
    if (cfg.DameSalidaEstandar()) {
        auto c = std::make_shared<spdlog::sinks::stdout_sink_mt>();
        c->set_formatter(std::make_unique<FormatoConsola>());
        s->aLista.push_back(c);
    }
    gSumideros.store(s);
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
        if (Sumideros* s = gSumideros.load()) {
            // The message is data, never a format string.
            spdlog::details::log_msg msg(spdlog::source_loc{__FILE__, __LINE__, "NLOG::Log"}, "nlog", l,
                                         spdlog::string_view_t(buf, lon));
            for (const spdlog::sink_ptr& k : s->aLista) {
                // No flush needed: the file has no stdio buffer and the console sink
                // flushes every line itself, so the record is out when log returns.
                try {
                    k->log(msg);
                } catch (const std::exception& e) {
                    fprintf(stderr, "NLOG: %s\n", e.what());
                }
            }
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
    // Never destroyed: every thread logs through it until the process ends.
    static CConfigLog& cfg = *new CConfigLog;
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
        // Exactly two fields (either may be empty): one "=".
        if (igual == std::string::npos || linea.find('=', igual + 1) != std::string::npos) continue;
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
        CreaSumideros(CConfigLog::Global());
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
