// Redundancy manager: this board's role (principal or reserve) in a redundant pair, and whether
// its LAN is connected. One global object, started by the core's start-up.
//
// Minimal form used by the core's start-up and supervision loop: the role only. The VRRP
// daemon, the INI file, the periodic check and the dual-state message come with the
// redundancy work, keeping these signatures.
#pragma once

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

    CGestorDual();
    CGestorDual(const CGestorDual&) = delete;
    CGestorDual& operator=(const CGestorDual&) = delete;

    // iDualidad 1: a board of a redundant pair (starts as reserve); else single (principal).
    int Inicia(CEventos* poEventos, const char* szNombreQln, int iDualidad);
    void PasaAPrincipal();
    void PasaAReserva();
    // iConectado 1: the LAN is connected; 0: isolated.
    void CambioEntorno(int iConectado);
    // 0 principal, 1 reserve, -1 before Inicia.
    int DameEstadoDual() const { return iEstadoDual; }
    int DameSistema() const { return sistema; }

    char szNombre[65];
    int sistema;
    int iEstadoDual;
    int iEntorno;
    int idualidad;
    CEventos* poEventos;

private:
    void SalidasEntorno();
};

extern CGestorDual oGestorDual;
