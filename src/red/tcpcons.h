// TCP maintenance console server and the console print functions of a process.
//
// Start it with ONE call at start-up:   TcpCons::Inicia(19710)  (core; DSP service: 19720)
// which returns 0 when the console runs (the trace mask is then all ones; set your level
// afterwards with FijaMascaraTraza), -2 when the socket cannot be created, -3 when the
// port cannot be bound, -1 when a thread cannot be started; a failed start may simply be
// retried later with the same call. Port 0 leaves the console off: the print functions
// then write to standard output and LeeLinea reads standard input.
//
// Up to 5 telnet-like clients: everything printed goes to all of them (never blocking the
// printer: text a slow client cannot take is lost for it), the input of the first one
// (the input connection) feeds LeeLinea as NUL-terminated strings, a client silent for
// more than 6 s is dropped (a NUL byte every 2 s keeps idle clients' connections alive),
// and a sixth client gets "Demasiadas conexiones entrantes.\n\r" and is closed.
#pragma once

#include <cstdint>

namespace TcpCons {

enum { MAX_CONEXIONES = 5, LON_BUFFER_RX = 128, LON_TEXTO = 1024, MS_SILENCIO = 6000 };

int Inicia(int iPuerto);
// Closes the listening socket (the core does so when its supervision loop ends).
void Cierra();

// Sends the bytes to every connection, without waiting and without SIGPIPE.
void Escribe(const char* pBuf, int iLong);
// At most 1,023 characters; returns vsnprintf's result.
int Printf(const char* szFormato, ...) __attribute__((format(printf, 1, 2)));
// Printf only when uiMascara shares a bit with the console trace mask; else 0.
int Traza(uint32_t uiMascara, const char* szFormato, ...) __attribute__((format(printf, 2, 3)));
// The text, ": ", the system's text for errno and "\n" (as perror).
void Perror(const char* szTexto);
void TrazaPerror(uint32_t uiMascara, const char* szTexto);
void FijaMascaraTraza(uint32_t uiMascara);
uint32_t MascaraTraza();

// Blocks until one console line is available and copies at most iTam - 1 characters of it,
// terminated; returns szBuf (or null at the end of standard input with the console off).
// *puiConexion, when given, receives the number of the connection the line came from (0 with
// the console off). A line a connection left unfinished ends with it: bytes of another
// connection never complete it.
char* LeeLinea(char* szBuf, int iTam, uint32_t* puiConexion = nullptr);
// Blocks until one console line is available and returns the number of its connection without
// taking the line (0 with the console off): a prompt answered from another connection is
// not an answer.
uint32_t ConexionSiguienteLinea();

// Slot table: the slot taken (-1 when all 5 are in use) / the socket removed (-1 when the
// slot was free); closing it is the caller's task.
int AnadeConexion(int iSocket);
int QuitaConexion(int iRanura);
int NumeroConexiones();

// Millisecond clock of the silence limit (uptUpTime by default); for tests.
void FijaReloj(uint32_t (*fReloj)());

}  // namespace TcpCons

// The same as TcpCons::Inicia.
int tcpcInicia(int iPuerto);
