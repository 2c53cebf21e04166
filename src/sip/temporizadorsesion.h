// Session-timer record of one SIP session: the countdowns of Session-Expires and of the
// refresh by UPDATE. A plain value: copying a session copies its timers.
#pragma once

#include <cstdint>
#include <type_traits>

class TemporizadorSesion {
public:
    TemporizadorSesion() { Reinicia(); }
    void Reinicia();

    // Setters take seconds, the countdowns run in milliseconds.
    void SetTmpTxupdate(int32_t iSegundos) { iTxUpdate = iSegundos * 1000; }
    void SetTmpSessionExpires(int32_t iSegundos) { iSessionExpires = iSegundos * 1000; }
    void SetTmpRx200ok(int32_t iSegundos) { iRx200ok = iSegundos * 1000; }
    // The negotiated value, in seconds as given.
    void SetSessionExpires(int32_t iSegundos) { iValorSessionExpires = iSegundos; }
    int32_t GetSessionExpires() const { return iValorSessionExpires; }
    int32_t GetExpiraciones() const { return iExpiraciones; }

    // Each returns what is left (0 when it has just run out), or -1 when not running.
    int32_t DescuentaSessionExpires(int32_t iMs);
    int32_t DescuentaRx200ok(int32_t iMs);
    int32_t DescuentaTxupdate(int32_t iMs);

private:
    int32_t iTxUpdate;
    int32_t iSessionExpires;
    int32_t iRx200ok;
    int32_t iExpiraciones;
    int32_t iValorSessionExpires;
};
static_assert(std::is_trivially_copyable<TemporizadorSesion>::value, "copied whole with its session");
