// CTablaUsuariosSip: the SIP users of the user agent, one per configured resource, with their
// codec lists, types and registration state, and the servers they register with. Sixteen fixed
// records; a free record has an empty name and may sit anywhere in the table. Every method
// takes the table's lock itself, and nothing is handed out but copies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "sip/sesionsip.h"

class CTablaUsuariosSip {
public:
    enum { MAX_USUARIOS = 16 };

    CTablaUsuariosSip();
    CTablaUsuariosSip(const CTablaUsuariosSip&) = delete;
    CTablaUsuariosSip& operator=(const CTablaUsuariosSip&) = delete;

    // Frees every record.
    void Vacia();
    // The record taken (its index), -2 without a name, -4 with the table full. uiAhora (ticks)
    // is when its first REGISTER may leave.
    int Alta(const char* szNombre, const int32_t* piCodecs, int iNum, int iTipo, int iRegistrar,
             const char* szClave, uint32_t uiAhora);
    // New codecs and type of the user of that name: its index, -2 without a name, -4 none.
    int Actualiza(const char* szNombre, const int32_t* piCodecs, int iNum, int iTipo);
    // Frees the record (a free one stays free).
    void Baja(int iIndice);
    int Busca(const char* szNombre);
    bool Dame(int iIndice, UsuarioSipua* psCopia);
    bool Codecs(int iIndice, ListaCodecs* psCopia, int* piTipo = nullptr);
    // One log line a user in use, with its registration state.
    void Lista();
    // WG67-Version text of the user's type, of the default for no user, or null for a type
    // without one.
    const char* TextoVersionWG67(int iIndice, const char* szDefecto);

    // Registrar and proxy addresses: 3 x 65 bytes each, either may be null (left as it is).
    void FijaServidores(const char* pRegistrar, const char* pProxy);
    // A copy of a user in use and the URI of the first registrar, read together; false for a
    // free record.
    bool DameParaRegistro(int iIndice, UsuarioSipua* psCopia, char* acRegistrarUri, size_t iTam);
    // The outcome of a REGISTER built for szNombre; left alone when the record has changed
    // hands meanwhile. rid <= 0 keeps the one it had.
    void AnotaRegistro(int iIndice, const char* szNombre, int iEstado, uint32_t uiProximo, int rid);
    // The first user in use registered with rid (-1 none); its state becomes iEstado when bFija.
    int FijaEstadoPorRid(int rid, int iEstado, bool bFija = true);

private:
    std::mutex tMutexUsuarios;  // guards the user table, its count and the server addresses
    UsuarioSipua asUsuarios[MAX_USUARIOS];
    int32_t iNumUsuarios;
    char acRegistrar[3][65];
    char acProxy[3][65];
};
