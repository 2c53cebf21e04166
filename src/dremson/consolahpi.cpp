#include "consolahpi.h"

#include <fcntl.h>
#include <pthread.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "comun/hilo.h"
#include "hardware/cdispositivos.h"
#include "red/tcpcons.h"

namespace {
constexpr int LON_LINEA = 33;  // 32 characters and the terminator
constexpr unsigned int PAUSA_MS = 50;

// Requests of the driver, type 'H'.
constexpr uint32_t LEE_HPIC = 0x40044802;
constexpr uint32_t LEE_AUTO_HPID = 0x40044803;
constexpr uint32_t LEE_HPIA = 0x40044804;
constexpr uint32_t LEE_SIMPLE_HPID = 0x40044805;
constexpr uint32_t LEE_OFFSET = 0x40044806;
constexpr uint32_t LEE_FASE = 0x40044808;
constexpr uint32_t ESCRIBE_HPIC = 0x80044803;
constexpr uint32_t ESCRIBE_AUTO_HPID = 0x80044804;
constexpr uint32_t ESCRIBE_HPIA = 0x80044805;
constexpr uint32_t ESCRIBE_SIMPLE_HPID = 0x80044806;
constexpr uint32_t ESCRIBE_OFFSET = 0x80044807;
constexpr uint32_t SELECCIONA_OFFSET = 0x80044808;
constexpr uint32_t PETICION_P = 0x8004480a;

// The register commands: letter, request, what the line shows.
enum eForma { RESULTADO, VALOR, OFFSET, OFFSET_RESULTADO, OFFSET_VALOR };
struct OrdenRegistro {
    char cLetra;
    uint32_t uiCodigo;
    eForma eMuestra;
    const char* szFormato;
};
const OrdenRegistro kRegistros[] = {
    {'A', LEE_HPIC, RESULTADO, "lee registro HPI_REG_HPIC = %x\n"},
    {'B', LEE_AUTO_HPID, RESULTADO, "lee registro HPI_REG_AUTO_HPID = %x\n"},
    {'C', LEE_HPIA, RESULTADO, "lee registro HPI_REG_HPIA = %x\n"},
    {'D', LEE_SIMPLE_HPID, RESULTADO, "lee registro HPI_REG_SIMPLE_HPID = %x\n"},
    {'G', ESCRIBE_HPIC, VALOR, "escribe registro HPI_REG_HPIC \n= %8x\n"},
    {'H', ESCRIBE_AUTO_HPID, VALOR, "escribe registro HPI_REG_AUTO_HPID = %8x\n"},
    {'I', ESCRIBE_HPIA, VALOR, "escribe registro HPI_REG_HPIA = %8x\n"},
    {'J', ESCRIBE_SIMPLE_HPID, VALOR, "escribe registro HPI_REG_SIMPLE_HPID = %8x\n"},
    {'S', SELECCIONA_OFFSET, OFFSET, "selecciona offset= %x\n"},
    {'L', LEE_OFFSET, OFFSET_RESULTADO, "lee registro HPI con offset(%x) = %x\n"},
    {'W', ESCRIBE_OFFSET, OFFSET_VALOR, "escribe registro HPI con offset(%x) = %x\n"},
};

// Console thread only: the line an empty one repeats, and the register offset selected.
char gacAnterior[LON_LINEA];
uint32_t guiOffset = 0;

void Ayuda() {
    TcpCons::Printf("\nPruebas Driver HPI\n\n"
                    " A         lee registro HPI_REG_HPIC\n"
                    " B         lee registro HPI_REG_AUTO_HPID\n"
                    " C         lee registro HPI_REG_HPIA\n"
                    " D         lee registro HPI_REG_SIMPLE_HPID\n"
                    " G valor   escribe registro HPI_REG_HPIC\n"
                    " H valor   escribe registro HPI_REG_AUTO_HPID\n"
                    " I valor   escribe registro HPI_REG_HPIA\n"
                    " J valor   escribe registro HPI_REG_SIMPLE_HPID\n"
                    " S valor   selecciona offset\n"
                    " L         lee registro HPI con offset\n"
                    " W valor   escribe registro HPI con offset\n"
                    " R dir     lee address\n"
                    " K         dime fase\n"
                    " F         salir\n\n");
}

// The hex value written after the command letter (0 when none).
uint32_t Valor(const char* sz) {
    unsigned int ui = 0;
    if (std::sscanf(sz + 1, "%x", &ui) != 1) return 0;
    return ui;
}

// A request; on failure the system's error is printed and false returned.
bool Pide(int iFd, uint32_t uiCodigo, uint32_t uiValor, uint32_t* puiRes) {
    if (DameDispositivos().Peticion(iFd, uiCodigo, uiValor, puiRes) == 0) return true;
    TcpCons::Printf("Error: %s\n", std::strerror(errno));
    return false;
}

void* ConsolaHpi(void*) {
    TcpCons::Printf("Abriendo /dev/hpidsp...");
    int iFd = DameDispositivos().Abre("/dev/hpidsp", O_RDWR);
    if (iFd < 0) {
        std::perror("/dev/hpidsp");
        TcpCons::Printf("Error: %s\n", std::strerror(errno));
    }
    Ayuda();
    char acLinea[LON_LINEA];
    for (;;) {
        DuermeMs(PAUSA_MS);
        if (!TcpCons::LeeLinea(acLinea, sizeof(acLinea))) break;
        if (EjecutaComandoHpi(iFd, acLinea)) break;
    }
    if (iFd >= 0) DameDispositivos().Cierra(iFd);
    return nullptr;
}
}  // namespace

int LanzaConsolaHpi() {
    pthread_t t;
    if (CreaHiloSuelto(&t, ConsolaHpi, nullptr) != 0) {
        TcpCons::Printf("Error creando hilo de consola\n");
        return -1;
    }
    return 0;
}

int EjecutaComandoHpi(int iFd, const char* szLinea) {
    char ac[LON_LINEA];
    if (szLinea[0] == '\0' || szLinea[0] == '\n' || szLinea[0] == '\r')
        std::snprintf(ac, sizeof(ac), "%s", gacAnterior);
    else
        std::snprintf(ac, sizeof(ac), "%s", szLinea);
    ac[std::strcspn(ac, "\r\n")] = '\0';
    if (ac[0] == '\0') return 0;
    // Only the help and an unknown command are repeated by an empty line.
    gacAnterior[0] = '\0';
    uint32_t ui = 0;
    uint32_t v = Valor(ac);
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(ac[0])));
    for (const OrdenRegistro& o : kRegistros) {
        if (o.cLetra != c) continue;
        if (!Pide(iFd, o.uiCodigo, o.eMuestra == VALOR || o.eMuestra == OFFSET_VALOR || o.eMuestra == OFFSET ? v : 0,
                  &ui))
            return 0;
        if (o.eMuestra == OFFSET) guiOffset = v;
        switch (o.eMuestra) {
            case RESULTADO: TcpCons::Printf(o.szFormato, ui); break;
            case VALOR:
            case OFFSET: TcpCons::Printf(o.szFormato, v); break;
            case OFFSET_RESULTADO: TcpCons::Printf(o.szFormato, guiOffset, ui); break;
            case OFFSET_VALOR: TcpCons::Printf(o.szFormato, guiOffset, v); break;
        }
        return 0;
    }
    switch (c) {
        case '?':
            std::snprintf(gacAnterior, sizeof(gacAnterior), "%s", ac);
            Ayuda();
            break;
        case 'R': {
            // The driver takes the word 1 and the address, and returns the memory word third.
            uint32_t auiBuffer[3] = {1, v, 0};
            if (DameDispositivos().Lee(iFd, auiBuffer, 1) < 0)
                TcpCons::Printf("Error: %s\n", std::strerror(errno));
            else
                TcpCons::Printf("lee address %8x = %8x\n", v, auiBuffer[2]);
            break;
        }
        case 'K':
            if (Pide(iFd, LEE_FASE, 0, &ui)) TcpCons::Printf("dime fase\n");
            break;
        case 'P': Pide(iFd, PETICION_P, 0, &ui); break;
        case 'F': return 1;
        default:
            std::snprintf(gacAnterior, sizeof(gacAnterior), "%s", ac);
            TcpCons::Printf("Escribe \"?\" para la ayuda, anda.\n");
            break;
    }
    return 0;
}
