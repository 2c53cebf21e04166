// Debug trace of the DSP service: the command and event traces pass through it and, in the
// running service, print nothing. A test may take a copy of every line.
#pragma once

void TrazaDsp(const char* szFormato, ...) __attribute__((format(printf, 1, 2)));

// Receives each formatted trace line (null: none, the default). For tests.
typedef void (*FnCapturaTrazaDsp)(const char* szTexto);
void FijaCapturaTrazaDsp(FnCapturaTrazaDsp pFuncion);
