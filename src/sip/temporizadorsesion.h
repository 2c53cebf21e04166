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
    void SetTmpTxupdate(int32_t iSegundos) { iTxUpdate = EnMs(iSegundos); }
    void SetTmpSessionExpires(int32_t iSegundos) { iSessionExpires = EnMs(iSegundos); }
    void SetTmpRx200ok(int32_t iSegundos) { iRx200ok = EnMs(iSegundos); }
    // The negotiated value, in seconds as given.
    void SetSessionExpires(int32_t iSegundos) { iValorSessionExpires = iSegundos; }
    int32_t GetSessionExpires() const { return iValorSessionExpires; }
    int32_t GetExpiraciones() const { return iExpiraciones; }

    // Each returns what is left (0 when it has just run out), or -1 when not running.
    int32_t DescuentaSessionExpires(int32_t iMs);
    int32_t DescuentaRx200ok(int32_t iMs);
    int32_t DescuentaTxupdate(int32_t iMs);

private:
    // The seconds come from a peer's Session-Expires: beyond 24 days they saturate.
    static int32_t EnMs(int32_t iSegundos) {
        constexpr int32_t kMax = INT32_MAX / 1000;
        return iSegundos > kMax ? INT32_MAX : iSegundos < -kMax ? -INT32_MAX : iSegundos * 1000;
    }
    int32_t iTxUpdate;
    int32_t iSessionExpires;
    int32_t iRx200ok;
    int32_t iExpiraciones;
    int32_t iValorSessionExpires;
};
static_assert(std::is_trivially_copyable<TemporizadorSesion>::value, "copied whole with its session");
