#include "hardware/cdispositivosreales.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "hardware/hwcodigos.h"

int CDispositivosReales::Abre(const char* szRuta, int iFlags) { return ::open(szRuta, iFlags | O_CLOEXEC); }

int CDispositivosReales::Cierra(int iFd) { return ::close(iFd); }

int CDispositivosReales::Peticion(int iFd, uint32_t uiCodigo, uint32_t uiValor, uint32_t* puiResultado) {
    // The drivers take the value itself, not a pointer, and answer read requests with the
    // value as the call's result. Only the kernel's error range comes back as -1 with errno;
    // any other result, bit 31 included, is the value.
    errno = 0;
    long lRes = ::ioctl(iFd, static_cast<unsigned long>(uiCodigo), static_cast<unsigned long>(uiValor));
    if (lRes == -1 && errno != 0) return -1;
    *puiResultado = static_cast<uint32_t>(lRes);
    return 0;
}

ssize_t CDispositivosReales::Lee(int iFd, void* pBuffer, size_t n) { return ::read(iFd, pBuffer, n); }

ssize_t CDispositivosReales::Escribe(int iFd, const void* pBuffer, size_t n) { return ::write(iFd, pBuffer, n); }

ssize_t CDispositivosReales::LeeMensaje(int iFd, void* pBuffer, size_t iCapacidad) {
    // Host-port driver contract: a read of count 0 whose first word is 0 returns one whole
    // message in the buffer and its length.
    if (iCapacidad < 4) {
        errno = EINVAL;
        return -1;
    }
    std::memset(pBuffer, 0, 4);
    return ::read(iFd, pBuffer, 0);
}

ssize_t CDispositivosReales::EscribeMensaje(int iFd, const void* pMensaje, size_t iCuenta) {
    // The count is the driver's as the caller built it (message plus 4, or the bare heartbeat).
    return ::write(iFd, pMensaje, iCuenta);
}

int CDispositivosReales::FijaDireccion(int iFd, uint32_t uiDireccion) {
    uint32_t uiRes = 0;
    return Peticion(iFd, hwcod::H5_DIRECCION, uiDireccion, &uiRes);
}

int CDispositivosReales::EscribePalabras(int iFd, const uint32_t* puiPalabras, size_t n) {
    // Memory write: marker word 1, then the data words; the count passed is the word count.
    std::vector<uint32_t> buffer(n + 1);
    buffer[0] = 1;
    if (n > 0) std::memcpy(&buffer[1], puiPalabras, n * sizeof(uint32_t));
    return ::write(iFd, buffer.data(), n) < 0 ? -1 : 0;
}

int CDispositivosReales::ActivaAviso(int iFd) {
    f_owner_ex dueno{F_OWNER_TID, static_cast<pid_t>(::gettid())};
    if (::fcntl(iFd, F_SETOWN_EX, &dueno) < 0) return -1;
    int iFlags = ::fcntl(iFd, F_GETFL);
    if (iFlags < 0) return -1;
    return ::fcntl(iFd, F_SETFL, iFlags | O_ASYNC) < 0 ? -1 : 0;
}
