// Redundancy manager: this board's role (principal or reserve) in a redundant pair, whether
// its LAN is connected, and the VRRP daemon that shares the pair's virtual address. One global
// object, started by the core's start-up.
//
// Timers run on the core's timer object (poTemporizador); shell commands go through
// EjecutaComando (on the simulated board they are only logged).
#pragma once

#include <atomic>
#include <cstdint>

class CGestorDual {
public:
    // Role-change sink; the core's is CEventosDual.
    class CEventos {
    public:
        virtual int EvtCambioEstadoDual(int iEstado) {
            (void)iEstado;
            return 0;
        }

    protected:
        ~CEventos() = default;
    };

    // Virtual address of a gateway name: 0 and the text (at least 65 bytes), or -1.
    typedef int (*FnBuscaDireccion)(const char* szNombre, char* szDireccion);

    CGestorDual();
    CGestorDual(const CGestorDual&) = delete;
    CGestorDual& operator=(const CGestorDual&) = delete;

    // iDualidad 1: a board of a redundant pair (starts as reserve); else single (principal).
    int Inicia(CEventos* poEventos, const char* szNombreQln, int iDualidad);
    void PasaAPrincipal();
    void PasaAReserva();
    // iConectado 1: the LAN is connected; 0: isolated.
    void CambioEntorno(int iConectado);
    // A message of a board carrying this gateway's name: the name, then the sender's role
    // byte at offset 65 ('P' principal). Returns the name comparison (0: ours).
    int CompruebaMensajeDual(const char* szTexto);
    // 0 principal, 1 reserve, -1 before Inicia.
    int DameEstadoDual() const { return iEstadoDual; }
    int DameSistema() const { return sistema; }

    // Timer call-backs (the object in a1).
    static uintptr_t IniciaVrrp(uintptr_t a1, uintptr_t a2, uintptr_t a3);
    static uintptr_t CompruebaCambios(uintptr_t a1, uintptr_t a2, uintptr_t a3);

    // The virtual-address look-up (the call manager's by default; null restores it).
    static void FijaBuscaDireccion(FnBuscaDireccion fBusca);
    // The pause before a reboot, in ms (2000; tests shorten it).
    static void FijaPausaReinicio(unsigned int uiMs);

    char szNombre[65];
    int sistema;
    std::atomic<int> iEstadoDual;
    int iEntorno;
    int idualidad;
    int idelayIniciaVrrp;  // 100 ms ticks
    CEventos* poEventos;
    // A VRRP start is armed and has not run yet. Its own flag: a timer slot number cannot
    // say it (slot 0 is a valid slot, and a full table gives -1).
    std::atomic<bool> bVrrpPendiente;
    std::atomic<int> iTempVrrp;         // slot of the pending VRRP start, -1 none
    std::atomic<int> iTempSupervision;  // slot of the 10 s check, -1 none
    char ip_virtual[65];

private:
    void SalidasEntorno();
    void ArmaVrrp();
    void ArmaSupervision();
};

// Path of the core's INI file (section VRRP).
extern const char* const FicheroIniPasarela;

// Never destroyed: the timer, publication and reception threads use it until the process ends.
extern CGestorDual& oGestorDual;
