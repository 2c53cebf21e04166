#include "temporizadorvortik.h"

CTemporizador* poTemporizador = nullptr;
