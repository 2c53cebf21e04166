// Wire format between the hardware layer (or a test's control client) and the simulated
// board daemon: a SOCK_SEQPACKET Unix socket, one request datagram answered by one reply
// datagram on the same connection. Native byte order (both ends run on this machine).
#pragma once

#include <cstddef>
#include <cstdint>

namespace simproto {

enum eOperacion : uint32_t {
    OP_HOLA = 1,          // valor = pid, datos = process name
    OP_ABRE = 2,          // valor = open flags, datos = device path; resultado = handle
    OP_CIERRA = 3,
    OP_PETICION = 4,      // codigo = request word, valor = its value; resultado = its result
    OP_LEE = 5,           // valor = bytes wanted; reply datos = bytes read
    OP_ESCRIBE = 6,       // datos = bytes; resultado = count written
    OP_LEE_MENSAJE = 7,   // valor = capacity; reply datos = one message
    OP_ESCRIBE_MENSAJE = 8,
    OP_ESCRIBE_PALABRAS = 9,  // datos = 32-bit words
    OP_AVISO = 10,        // valor = thread id (of the caller's process) to send SIGIO to on input changes
    OP_CONTROL = 11,      // datos = text command; reply datos = text answer
    OP_FIJA_DIRECCION = 12,  // valor = address of the next memory write
};

struct Peticion {
    uint32_t uiOperacion;
    uint32_t uiManejador;
    uint32_t uiCodigo;
    uint32_t uiValor;
    uint32_t uiLongitud;  // bytes of datos that follow
};
static_assert(sizeof(Peticion) == 20, "request header layout");

struct Respuesta {
    int32_t iError;       // 0, or the errno of the failure
    uint32_t uiResultado;
    uint32_t uiLongitud;  // bytes of datos that follow
};
static_assert(sizeof(Respuesta) == 12, "reply header layout");

// Largest datos of one datagram either way.
constexpr size_t MAX_DATOS = 60000;

}  // namespace simproto
