// PTT-id table of a radio resource: the PTT ids (1-15) given to the SIP parties that hold a
// session with it, by their URI.
#pragma once

#include <cstdint>

class CTablaPttId {
public:
    enum { MAX_PTT_ID = 15, LON_URI = 64 };

    CTablaPttId();
    void Inicia();
    // Usable slots = n when n is below 16.
    void FijaTamano(int n);
    int BuscaPorNombre(const char* szUri) const;
    // The URI's 1-based id (the existing one when present), 0 when no usable slot is free.
    int Anade(const char* szUri);
    // -1 for an id below 1 or not held, 0 done.
    int BorraId(int iId);
    int BorraNombre(const char* szUri);
    // Appends one "%d,%s\r\n" line per held entry.
    void Vuelca(char* szTexto) const;
    // The id of the first held URI whose host is in the same network (first three octets) as the
    // URI's host; -1 when none, or when that host has fewer than three dots.
    int BuscaPorIp(const char* szUri) const;
    void FijaNombre(const char* szNombre);
    void DameNombre(char* szNombre) const;
    int DameTamano() const { return iTamano; }

private:
    // Slots searched, filled and listed: the configured size, never more than the table.
    int Usables() const { return iTamano < MAX_PTT_ID ? (iTamano > 0 ? iTamano : 0) : MAX_PTT_ID; }

    char acNombre[LON_URI + 1];
    int32_t iTamano;
    int32_t aiId[MAX_PTT_ID];  // 0: free
    char aacUri[MAX_PTT_ID][LON_URI + 1];
};
