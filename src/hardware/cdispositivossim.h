// The simulated board: every device call becomes one request datagram to the board daemon.
// Each call takes a connection of its own from a pool, so a blocking read (line-module state,
// paced audio) of one thread never holds up the requests of another.
#pragma once

#include <sys/types.h>

#include <mutex>
#include <string>
#include <vector>

#include "hardware/cdispositivos.h"

class CDispositivosSim : public CDispositivos {
public:
    explicit CDispositivosSim(std::string sSocket);
    ~CDispositivosSim() override;

    int Abre(const char* szRuta, int iFlags) override;
    int Cierra(int iFd) override;
    int Peticion(int iFd, uint32_t uiCodigo, uint32_t uiValor, uint32_t* puiResultado) override;
    ssize_t Lee(int iFd, void* pBuffer, size_t n) override;
    ssize_t Escribe(int iFd, const void* pBuffer, size_t n) override;
    ssize_t LeeMensaje(int iFd, void* pBuffer, size_t iCapacidad) override;
    ssize_t EscribeMensaje(int iFd, const void* pMensaje, size_t iCuenta) override;
    int FijaDireccion(int iFd, uint32_t uiDireccion) override;
    int EscribePalabras(int iFd, const uint32_t* puiPalabras, size_t n) override;
    int ActivaAviso(int iFd) override;
    bool EsSimulada() const override { return true; }

    // A control command of the board (text in, text out); -1 when the daemon is unreachable.
    int Control(const std::string& sOrden, std::string* psRespuesta);

private:
    // One exchange: sends the request with datos, receives the reply into pRespuesta (at most
    // iCapacidad bytes of datos). Returns 0 with *puiResultado, or -1 with errno.
    int Intercambia(uint32_t uiOperacion, uint32_t uiManejador, uint32_t uiCodigo, uint32_t uiValor,
                    const void* pDatos, size_t iLongitud, void* pRespuesta, size_t iCapacidad,
                    size_t* piRecibidos, uint32_t* puiResultado);
    int TomaConexion();
    void DevuelveConexion(int iSocket);

    std::string sSocket;
    std::mutex tMutex;             // guards the pool and its owner pid
    std::vector<int> aiLibres;     // connected sockets not in use
    pid_t iPidDueno;               // a forked child must not share its parent's connections
};
